# Tests of pktav-cdr: its units in one program, the command run end to end
# in another.
add_executable(cdr_unit
  support/cdrstore.cpp
  cdr_line_test.cpp
  cdr_walk_test.cpp
  cdr_zone_test.cpp
)
target_link_libraries(cdr_unit PRIVATE cdrtool testsupport GTest::gtest_main)
target_compile_definitions(cdr_unit PRIVATE PKTAV_CDR="$<TARGET_FILE:pktav-cdr>")
pktav_discover_tests(cdr_unit)

add_executable(cdr_e2e
  support/cdrstore.cpp
  support/e2e.cpp
  support/md110rec.cpp
  support/neaxrec.cpp
  cdr_audit_test.cpp
  cdr_query_test.cpp
  cdr_report_test.cpp
)
target_include_directories(cdr_e2e PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(cdr_e2e PRIVATE testsupport GTest::gtest_main)
target_compile_definitions(cdr_e2e PRIVATE
  PKTAV_CDR="$<TARGET_FILE:pktav-cdr>"
  PKTAV_DEVIROZ7E="$<TARGET_FILE:pktav-deviroz7e>")
add_dependencies(cdr_e2e pktav-cdr pktav-deviroz7e)
pktav_discover_tests(cdr_e2e)

set_target_properties(cdr_unit cdr_e2e PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

# The man page describes every option of each command's help.
foreach(command query report audit)
  pktav_manpage_test(pktav-cdr-${command} $<TARGET_FILE:pktav-cdr> pktav-cdr.1 ${command} --help)
endforeach()
