# Tests of the companion tools, tailclip and kelvostart with kelvo, and of
# the shared test support.

# kelvostart as shipped runs a path that tests must not depend on. These
# variants come from the same source: one runs ./kelvo, so that each test
# supplies its own kelvo in its working directory; one has no shell to run.
pktav_add_kelvostart(kelvostart_localkelvo ./kelvo)
pktav_add_kelvostart(kelvostart_noshell "${KELVO_PATH}" "${CMAKE_CURRENT_BINARY_DIR}/no-such-shell")

# Runs a program as another user, or acts on it as it cuts a file: makes its
# writes fail, signals it, tells the length, holds it.
add_executable(tailclip_harness tailclip_harness.cpp)

pktav_test_program(tailclip_test SOURCES tailclip_test.cpp RUNS tailclip tailclip_harness)

pktav_test_program(kelvostart_test
  SOURCES kelvostart_test.cpp
  RUNS kelvostart kelvostart_localkelvo kelvostart_noshell
  DEFINITIONS
    KELVO_PATH="${KELVO_PATH}"
    KELVO_SCRIPT="${PROJECT_SOURCE_DIR}/tools/kelvo")

pktav_test_program(testsupport_test SOURCES support/proc_test.cpp)

# Long runs: built, never run by ctest.
add_executable(tailclip_window stress/tailclip_window.cpp)
target_link_libraries(tailclip_window PRIVATE testsupport)
pktav_runs(tailclip_window tailclip)

# The library the tools around the packer share.
pktav_test_program(common_unit SOURCES common_test.cpp LIBRARIES toolscommon)
