# Unit tests of the shared packer and its modules.
add_executable(pktav_unit
  support/neaxrec.cpp
  support/packerfix.cpp
  support/testselect.cpp
  bcd_test.cpp
  cdrline_test.cpp
  deviroz7e_test.cpp
  filter_test.cpp
  framer_test.cpp
  hostile_test.cpp
  pkcall_test.cpp
  ptime_test.cpp
  store_test.cpp
)
target_include_directories(pktav_unit PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(pktav_unit PRIVATE pabx_deviroz7e pktavcore pabxdep testsupport GTest::gtest_main)
gtest_discover_tests(pktav_unit DISCOVERY_TIMEOUT 60)
