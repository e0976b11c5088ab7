# Tests of pktav-cdr: its units in one program, the command run end to end
# in another.
add_library(cdrsupport STATIC support/cdrstore.cpp)
target_link_libraries(cdrsupport PUBLIC testsupport)
pktav_runs(cdrsupport pktav-cdr)

pktav_test_program(cdr_unit
  SOURCES
    cdr_line_test.cpp
    cdr_loadedfile_test.cpp
    cdr_price_test.cpp
    cdr_walk_test.cpp
    cdr_zone_test.cpp
  LIBRARIES cdrtool cdrsupport)

pktav_test_program(cdr_e2e
  SOURCES
    cdr_audit_test.cpp
    cdr_bill_test.cpp
    cdr_query_test.cpp
    cdr_report_test.cpp
    cdr_watch_test.cpp
    cdr_watchfollow_test.cpp
  LIBRARIES cdrsupport cdrtool linksupport
  RUNS pktav-cdr pktav-deviroz7e pabxsim pktav-link
  DEFINITIONS EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples")

# The loader's tests: their own PostgreSQL server (support/databases.h),
# from the folder of the server's programs that pg_config names.
execute_process(COMMAND pg_config --bindir OUTPUT_VARIABLE pgbin OUTPUT_STRIP_TRAILING_WHITESPACE
  ERROR_QUIET)
if(NOT EXISTS "${pgbin}/initdb")
  file(GLOB initdbs /usr/lib/postgresql/*/bin/initdb)
  list(SORT initdbs)
  list(POP_BACK initdbs initdb)
  get_filename_component(pgbin "${initdb}" DIRECTORY)
endif()
find_package(SQLite3 REQUIRED)
find_package(PostgreSQL REQUIRED)
add_library(dbsupport STATIC support/databases.cpp support/cdrload.cpp)
target_link_libraries(dbsupport PUBLIC cdrsupport linksupport
  PRIVATE SQLite::SQLite3 PostgreSQL::PostgreSQL)
target_compile_definitions(dbsupport PRIVATE PKTAV_PGBIN="${pgbin}")
pktav_runs(dbsupport pktav-deviroz7e pabxsim pktav-cdr)

pktav_test_program(cdr_load
  SOURCES
    cdr_load_test.cpp
    cdr_loadproof_test.cpp
  LIBRARIES dbsupport
  RUNS pktav-cdr pktav-deviroz7e pabxsim pktav-link mkcdrstore)

# The man page describes every option of each command's help.
foreach(command query report audit bill check load watch)
  pktav_manpage_test(pktav-cdr-${command} $<TARGET_FILE:pktav-cdr> pktav-cdr.1 ${command} --help)
endforeach()

# The export loaded into SQLite and the report's and bills' pages read as
# XML, and drawn and printed by Chromium where it is installed; skipped
# where sqlite3 or xmllint is not.
add_test(NAME cdr_export_and_page
  COMMAND ${NETJAIL} -g -f sh ${CMAKE_CURRENT_SOURCE_DIR}/cdr_export.sh $<TARGET_FILE:pktav-cdr>
    $<TARGET_FILE:mkcdrstore>)
set_tests_properties(cdr_export_and_page PROPERTIES SKIP_RETURN_CODE 77)

# The parsers of the tariff, the directory and the rules under libFuzzer (clang only, as
# the packer's fuzzers in packer.cmake).
if(PKTAV_FUZZ)
  add_executable(fuzz_pricefiles fuzz_pricefiles.cpp)
  target_link_libraries(fuzz_pricefiles PRIVATE cdrtool)
  target_compile_options(fuzz_pricefiles PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_pricefiles PRIVATE -fsanitize=fuzzer)
  add_dependencies(fuzz_pricefiles netjail)
  add_test(NAME fuzz_pricefiles COMMAND ${NETJAIL} -g -f $<TARGET_FILE:fuzz_pricefiles>
    -max_total_time=15 -max_len=4096 -seed=1 -close_fd_mask=2)
endif()
