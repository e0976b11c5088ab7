# A module's own tests are named after it: tests/<module>_test.cpp tests its
# unit, tests/<module>_*_test.cpp run its program end to end.
set(moduleunits "")
set(moduleruns "")
set(modulelibraries "")
foreach(module ${PKTAV_MODULES})
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${module}_test.cpp)
    list(APPEND moduleunits ${module}_test.cpp)
  endif()
  file(GLOB runs RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/${module}_*_test.cpp)
  list(APPEND moduleruns ${runs})
  list(APPEND modulelibraries pabx_${module})
endforeach()

# Unit tests of the shared packer and its modules.
pktav_test_program(pktav_unit
  SOURCES
    support/packerfix.cpp
    support/testselect.cpp
    bcd_test.cpp
    cdrline_test.cpp
    filter_test.cpp
    framer_test.cpp
    fromjul_test.cpp
    hourcache_test.cpp
    hostile_test.cpp
    modules_test.cpp
    pkcall_test.cpp
    ptime_test.cpp
    store_test.cpp
    ${moduleunits}
  LIBRARIES ${modulelibraries} pktavcore pabxdep)
# The same tests in one process, in a random order each time: no test may
# depend on the process-wide state another one left behind.
add_test(NAME pktav_unit_shuffled COMMAND pktav_unit --gtest_shuffle --gtest_repeat=3)

# The generator of the bundled sample stream.
add_executable(mksample ${PROJECT_SOURCE_DIR}/examples/mksample.cpp)
target_link_libraries(mksample PRIVATE testsupport)

# The programs run end to end, as a user runs them.
pktav_test_program(pktav_e2e
  SOURCES
    busy_signals_test.cpp
    faults_test.cpp
    storm_test.cpp
    noise_test.cpp
    termination_test.cpp
    hostile_cli_test.cpp
    ${moduleruns}
  RUNS ${PKTAV_PACKERS} mksample netjail tailclip
    kelvostart_localkelvo pabxsim pktav-link pktav-cdr
  DEFINITIONS EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples")

# Long runs, not part of the suite: tests/stress/run runs them.
pktav_test_program(pktav_stress NOTESTS
  SOURCES stress/longrun_test.cpp
  RUNS pktav-deviroz7e)

# Coverage-guided fuzzing (clang only): -DPKTAV_FUZZ=ON. Each target gets a
# short run as a test; tests/stress/run gives each ten million executions.
if(PKTAV_FUZZ)
  foreach(target fuzz_decoders fuzz_stream fuzz_options fuzz_time)
    add_executable(${target} ${target}.cpp support/testselect.cpp)
    target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR})
    target_link_libraries(${target} PRIVATE ${modulelibraries} pktavcore pabxdep)
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer)
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
    add_dependencies(${target} netjail)
    add_test(NAME ${target} COMMAND ${NETJAIL} -g -f $<TARGET_FILE:${target}> -max_total_time=15 -max_len=4096 -seed=1 -close_fd_mask=2)
  endforeach()
endif()
