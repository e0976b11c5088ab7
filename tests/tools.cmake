# Tests of the companion tools, tailclip and kelvostart with kelvo, and of
# the shared test support. Test programs stay in the tests' build directory;
# build/bin holds only what is shipped.

# kelvostart as shipped runs a path that tests must not depend on. These
# variants come from the same source: one runs ./kelvo, so that each test
# supplies its own kelvo in its working directory; one has no shell to run.
pktav_add_kelvostart(kelvostart_localkelvo ./kelvo)
pktav_add_kelvostart(kelvostart_noshell "${KELVO_PATH}" "${CMAKE_CURRENT_BINARY_DIR}/no-such-shell")

# Runs a program as another user, or acts on it as it cuts a file: makes its
# writes fail, signals it, tells the length, holds it.
add_executable(tailclip_harness tailclip_harness.cpp)

set_target_properties(kelvostart_localkelvo kelvostart_noshell tailclip_harness
  PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

# add_tool_test(<target> <source> <programs it runs>...)
function(add_tool_test target source)
  add_executable(${target} ${source})
  target_link_libraries(${target} PRIVATE testsupport GTest::gtest_main)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  if(ARGN)
    add_dependencies(${target} ${ARGN})
  endif()
  pktav_discover_tests(${target})
endfunction()

add_tool_test(tailclip_test tailclip_test.cpp tailclip tailclip_harness)
target_compile_definitions(tailclip_test PRIVATE
  TAILCLIP_BIN="$<TARGET_FILE:tailclip>"
  TAILCLIP_HARNESS="$<TARGET_FILE:tailclip_harness>")

add_tool_test(kelvostart_test kelvostart_test.cpp kelvostart kelvostart_localkelvo kelvostart_noshell)
target_compile_definitions(kelvostart_test PRIVATE
  KELVOSTART_BIN="$<TARGET_FILE:kelvostart>"
  KELVOSTART_LOCAL_BIN="$<TARGET_FILE:kelvostart_localkelvo>"
  KELVOSTART_NOSHELL_BIN="$<TARGET_FILE:kelvostart_noshell>"
  KELVO_PATH="${KELVO_PATH}"
  KELVO_SCRIPT="${PROJECT_SOURCE_DIR}/tools/kelvo")

add_tool_test(testsupport_test support/proc_test.cpp)

# Long runs: built, never run by ctest.
add_executable(tailclip_window ${CMAKE_CURRENT_SOURCE_DIR}/stress/tailclip_window.cpp)
target_link_libraries(tailclip_window PRIVATE testsupport)
target_compile_definitions(tailclip_window PRIVATE TAILCLIP_BIN="$<TARGET_FILE:tailclip>")
set_target_properties(tailclip_window PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
add_dependencies(tailclip_window tailclip)
