# Tests of what installs pktav as a service: the man pages against the
# programs' usage texts, the install tree, and the site runner pktav-site.

# manopts checks that a man page describes every option of a usage text.
add_executable(manopts manopts_main.cpp manopts.cpp)
pktav_test_program(manopts_test SOURCES manopts_test.cpp manopts.cpp RUNS manopts)

# pktav_manpage_test(<name> <program> <page in man/> <bad option>...):
# every option in the usage text that the program prints for the bad
# option is described in the page. A tool with a usage text adds a line.
function(pktav_manpage_test name program page)
  add_test(NAME manpage_${name}
    COMMAND ${NETJAIL} -g -f $<TARGET_FILE:manopts> ${PROJECT_SOURCE_DIR}/man/${page} ${program} ${ARGN})
endfunction()
foreach(packer ${PKTAV_PACKERS})
  pktav_manpage_test(${packer} $<TARGET_FILE:${packer}> pktav.8 -%)
endforeach()
pktav_manpage_test(tailclip $<TARGET_FILE:tailclip> tailclip.1 -%)
pktav_manpage_test(pktav-site ${PKTAV_SITE_BIN} pktav-site.8 -%)

# pktav-site as configured for this build, running the programs of build/bin.
# linksupport (tests/link.cmake) runs pabxsim as the exchange of a site read
# through pktav-link.
pktav_test_program(pktav_site_test
  SOURCES pktav_site_test.cpp
  LIBRARIES linksupport
  RUNS ${PKTAV_PACKERS} pktav-link pabxsim
  DEFINITIONS
    PKTAV_SITE="${PKTAV_SITE_BIN}"
    PKTAV_BINDIR="${PKTAV_PROGRAMS_DIR}")

# `DESTDIR=... cmake --install` installs exactly the expected tree.
list(JOIN PKTAV_MODULES " " modulewords)
add_test(NAME install_tree
  COMMAND ${NETJAIL} -g -f sh ${CMAKE_CURRENT_SOURCE_DIR}/install_tree.sh ${CMAKE_BINARY_DIR}
    ${PROJECT_SOURCE_DIR} ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_SYSCONFDIR} ${PKTAV_SYSTEMD_UNITDIR}
    "${modulewords}")
