# Tests of what installs pktav as a service: the man pages against the
# programs' usage texts, the install tree, and the site runner pktav-site.

# manopts checks that a man page describes every option of a usage text.
add_executable(manopts manopts_main.cpp manopts.cpp)
add_executable(manopts_test manopts_test.cpp manopts.cpp)
target_link_libraries(manopts_test PRIVATE testsupport GTest::gtest_main)
target_compile_definitions(manopts_test PRIVATE MANOPTS="$<TARGET_FILE:manopts>")
add_dependencies(manopts_test manopts)
set_target_properties(manopts manopts_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
pktav_discover_tests(manopts_test)

# pktav_manpage_test(<name> <program> <page in man/> <bad option>...):
# every option in the usage text that the program prints for the bad
# option is described in the page. A tool with a usage text adds a line.
function(pktav_manpage_test name program page)
  add_test(NAME manpage_${name}
    COMMAND ${NETJAIL} -g -f $<TARGET_FILE:manopts> ${PROJECT_SOURCE_DIR}/man/${page} ${program} ${ARGN})
endfunction()
foreach(build deviroz7e diziziv7 md11bc12)
  pktav_manpage_test(pktav-${build} $<TARGET_FILE:pktav-${build}> pktav.8 -%)
endforeach()
pktav_manpage_test(tailclip $<TARGET_FILE:tailclip> tailclip.1 -%)
pktav_manpage_test(pktav-site ${PKTAV_SITE_BIN} pktav-site.8 -%)

# pktav-site as configured for this build, running the programs of build/bin.
add_executable(pktav_site_test pktav_site_test.cpp support/e2e.cpp support/neaxrec.cpp
  support/md110rec.cpp)
target_include_directories(pktav_site_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
# linksupport (tests/link.cmake) runs pabxsim as the exchange of a site read
# through pktav-link.
target_link_libraries(pktav_site_test PRIVATE testsupport linksupport GTest::gtest_main)
target_compile_definitions(pktav_site_test PRIVATE
  PKTAV_SITE="${PKTAV_SITE_BIN}"
  PKTAV_BINDIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
add_dependencies(pktav_site_test pktav-deviroz7e pktav-diziziv7 pktav-md11bc12 pktav-link pabxsim)
set_target_properties(pktav_site_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
pktav_discover_tests(pktav_site_test)

# `DESTDIR=... cmake --install` installs exactly the expected tree.
add_test(NAME install_tree
  COMMAND ${NETJAIL} -g -f sh ${CMAKE_CURRENT_SOURCE_DIR}/install_tree.sh ${CMAKE_BINARY_DIR}
    ${PROJECT_SOURCE_DIR} ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_SYSCONFDIR} ${PKTAV_SYSTEMD_UNITDIR})
