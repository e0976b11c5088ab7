# Unit tests of the shared packer and its modules.
add_executable(pktav_unit
  support/md110rec.cpp
  support/neaxrec.cpp
  support/packerfix.cpp
  support/testselect.cpp
  bcd_test.cpp
  bcdword_test.cpp
  cdrline_test.cpp
  deviroz7e_test.cpp
  diziziv7_test.cpp
  filter_test.cpp
  framer_test.cpp
  fromjul_test.cpp
  hourcache_test.cpp
  hostile_test.cpp
  md11bc12_test.cpp
  pkcall_test.cpp
  ptime_test.cpp
  store_test.cpp
)
target_include_directories(pktav_unit PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(pktav_unit PRIVATE pabx_deviroz7e pabx_diziziv7 pabx_md11bc12 pktavcore pabxdep testsupport GTest::gtest_main)
pktav_discover_tests(pktav_unit)
# The same tests in one process, in a random order each time: no test may
# depend on the process-wide state another one left behind.
add_test(NAME pktav_unit_shuffled COMMAND pktav_unit --gtest_shuffle --gtest_repeat=3)

# The generator of the bundled sample stream.
add_executable(mksample ${PROJECT_SOURCE_DIR}/examples/mksample.cpp support/neaxrec.cpp
  support/md110rec.cpp)
target_include_directories(mksample PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})

# The programs run end to end, as a user runs them.
add_executable(pktav_e2e
  support/e2e.cpp
  busy_signals_test.cpp
  faults_test.cpp
  storm_test.cpp
  termination_test.cpp
  hostile_cli_test.cpp
  support/md110rec.cpp
  support/neaxrec.cpp
  deviroz7e_cli_test.cpp
  deviroz7e_input_test.cpp
  deviroz7e_run_test.cpp
  diziziv7_run_test.cpp
  md11bc12_run_test.cpp
)
target_include_directories(pktav_e2e PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(pktav_e2e PRIVATE testsupport GTest::gtest_main)
target_compile_definitions(pktav_e2e PRIVATE
  PKTAV_DEVIROZ7E="$<TARGET_FILE:pktav-deviroz7e>"
  PKTAV_DIZIZIV7="$<TARGET_FILE:pktav-diziziv7>"
  PKTAV_MD11BC12="$<TARGET_FILE:pktav-md11bc12>"
  MKSAMPLE="$<TARGET_FILE:mksample>"
  NETJAIL="${NETJAIL}"
  TAILCLIP_BIN="$<TARGET_FILE:tailclip>"
  KELVOSTART_BIN="$<TARGET_FILE:kelvostart_localkelvo>"
  PABXSIM_BIN="$<TARGET_FILE:pabxsim>"
  PKTAV_LINK_BIN="$<TARGET_FILE:pktav-link>"
  PKTAV_CDR_BIN="$<TARGET_FILE:pktav-cdr>"
  EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples")
add_dependencies(pktav_e2e pktav-deviroz7e pktav-diziziv7 pktav-md11bc12 mksample tailclip
  kelvostart_localkelvo pabxsim pktav-link pktav-cdr)
pktav_discover_tests(pktav_e2e)

# Long runs, not part of the suite: tests/stress/run runs them.
add_executable(pktav_stress stress/longrun_test.cpp support/e2e.cpp support/md110rec.cpp
  support/neaxrec.cpp)
target_include_directories(pktav_stress PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(pktav_stress PRIVATE testsupport GTest::gtest_main)
target_compile_definitions(pktav_stress PRIVATE PKTAV_DEVIROZ7E="$<TARGET_FILE:pktav-deviroz7e>")
add_dependencies(pktav_stress pktav-deviroz7e)

set_target_properties(pktav_unit pktav_e2e pktav_stress mksample PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

# Coverage-guided fuzzing (clang only): -DPKTAV_FUZZ=ON. Each target gets a
# short run as a test; tests/stress/run gives each ten million executions.
if(PKTAV_FUZZ)
  foreach(target fuzz_decoders fuzz_stream fuzz_options fuzz_time)
    add_executable(${target} ${target}.cpp support/testselect.cpp)
    target_link_libraries(${target} PRIVATE pabx_deviroz7e pabx_diziziv7 pabx_md11bc12 pktavcore pabxdep)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    add_dependencies(${target} netjail)
    add_test(NAME ${target} COMMAND ${NETJAIL} -g -f $<TARGET_FILE:${target}> -max_total_time=15 -max_len=4096 -seed=1 -close_fd_mask=2)
  endforeach()
endif()
