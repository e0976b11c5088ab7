# The Debian package, made by `cpack -G DEB` in the build directory.

set(PKTAV_MAINTAINER "pktav maintainers <pktav@users.noreply.example>" CACHE STRING
    "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pktav)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${PKTAV_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "collector of the call records a telephone exchange prints")
# CPack puts the summary in front and indents the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "pktav reads the SMDR output of a telephone exchange (NEAX or MD110 in the
BC12 layout) from a serial line, a TCP connection or a file, and appends one
CDR line per call to hourly files in a dated directory tree. The package
holds the three builds of the collector, the tools tailclip and kelvostart,
and systemd units that run one collector per site, restarted after every
end, either directly or through the link keeper pktav-link, which rides out
dropped links.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The C++ run-time libraries come from dpkg-shlibdeps; postinst makes the user.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "logrotate")
set(CPACK_STRIP_FILES ON)

# Maintainer scripts and the list of conffiles (every file installed in /etc).
set(PKTAV_LOGROTATE_CONF "${CMAKE_INSTALL_FULL_SYSCONFDIR}/logrotate.d/pktav")
set(control ${CMAKE_CURRENT_BINARY_DIR}/control)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog @ONLY)
foreach(script postinst prerm postrm)
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/debian/${script} ${control}/${script} @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
file(WRITE ${control}/conffiles "${PKTAV_CONFDIR}/example.conf\n${PKTAV_LOGROTATE_CONF}\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${control}/conffiles ${control}/postinst ${control}/prerm ${control}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
