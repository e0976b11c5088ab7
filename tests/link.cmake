# Tests of pabxsim and pktav-link, alone and together with the packer.
add_library(linksupport STATIC support/linkrun.cpp)
target_link_libraries(linksupport PUBLIC testsupport)
target_compile_definitions(linksupport PRIVATE
  PABXSIM="$<TARGET_FILE:pabxsim>"
  PKTAV_LINK="$<TARGET_FILE:pktav-link>")

add_executable(link_e2e
  support/e2e.cpp
  support/md110rec.cpp
  support/neaxrec.cpp
  pabxsim_test.cpp
  link_test.cpp
  linkproof_test.cpp
)
target_include_directories(link_e2e PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(link_e2e PRIVATE linksupport GTest::gtest_main)
target_compile_definitions(link_e2e PRIVATE
  PKTAV_DEVIROZ7E="$<TARGET_FILE:pktav-deviroz7e>"
  PKTAV_DIZIZIV7="$<TARGET_FILE:pktav-diziziv7>"
  PKTAV_MD11BC12="$<TARGET_FILE:pktav-md11bc12>")
add_dependencies(link_e2e pabxsim pktav-link pktav-deviroz7e pktav-diziziv7 pktav-md11bc12)
set_target_properties(link_e2e PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
pktav_discover_tests(link_e2e)

add_executable(link_unit link_unit_test.cpp)
target_link_libraries(link_unit PRIVATE linkkeeper GTest::gtest_main)
set_target_properties(link_unit PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
pktav_discover_tests(link_unit)

pktav_manpage_test(pktav-link $<TARGET_FILE:pktav-link> pktav-link.1 --bogus)
pktav_manpage_test(pabxsim $<TARGET_FILE:pabxsim> pabxsim.1 --bogus)
