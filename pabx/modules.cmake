# The exchange modules. Each is a build of the packer, pktav-<name>: the
# shared packer with the module's unit pabx/<name>.cpp. Everything else
# that names the builds is made from this list: the declarations of the
# modules (pabx/modules.h in the build folder), the programs and their man
# pages, the site runner's table of builds, the tests' table of builds.
#
#   pktav_module(<name> END <byte> RECORDS <layout> [SIM <format>]
#                [LINKS <library>...] [TCP])
#
#   END      the byte that ends a record, two hex digits (pktav-link's
#            --end-byte; the unit's framing says the same, a test checks)
#   RECORDS  the layout the tests write the module's calls in: neax, md110
#   SIM      pabxsim's --format for the exchange, where it has one
#   LINKS    what the unit builds on besides the shared packer
#   TCP      -i may name host:port (the unit's tcpinput; a test checks)
#
# Sets PKTAV_MODULES (the names), PKTAV_PACKERS (the programs) and, for
# each module, PKTAV_MODULE_<name>_<END|RECORDS|SIM|LINKS|TCP>.
function(pktav_module name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "TCP" "END;RECORDS;SIM" "LINKS")
  # pktav-site takes a build's name from the site's options file: lower
  # case letters and digits.
  if(NOT name MATCHES "^[a-z0-9]+$" OR name IN_LIST PKTAV_MODULES)
    message(FATAL_ERROR "pktav_module(${name}): a new name of lower case letters and digits")
  endif()
  if(NOT arg_END MATCHES "^[0-9a-f][0-9a-f]$" OR NOT arg_RECORDS MATCHES "^(neax|md110)$")
    message(FATAL_ERROR "pktav_module(${name}): END needs two hex digits, RECORDS neax or md110")
  endif()
  foreach(field END RECORDS SIM LINKS TCP)
    set(PKTAV_MODULE_${name}_${field} "${arg_${field}}" PARENT_SCOPE)
  endforeach()
  set(PKTAV_MODULES ${PKTAV_MODULES} ${name} PARENT_SCOPE)
  set(PKTAV_PACKERS ${PKTAV_PACKERS} pktav-${name} PARENT_SCOPE)
endfunction()

set(PKTAV_MODULES "")
set(PKTAV_PACKERS "")
pktav_module(deviroz7e END 03 RECORDS neax SIM neax LINKS pabx_neax TCP)
pktav_module(diziziv7 END 03 RECORDS neax SIM neax98 LINKS pabx_neax)
pktav_module(md11bc12 END 0a RECORDS md110 SIM md110)
