# Tests of pabxsim and pktav-link, alone and together with the packer.
add_library(linksupport STATIC support/linkrun.cpp)
target_link_libraries(linksupport PUBLIC testsupport)
pktav_runs(linksupport pabxsim pktav-link)

pktav_test_program(link_e2e
  SOURCES
    pabxsim_test.cpp
    pabxsimfault_test.cpp
    link_test.cpp
    linkfault_test.cpp
    linkproof_test.cpp
  LIBRARIES linksupport
  RUNS ${PKTAV_PACKERS})

pktav_test_program(link_unit SOURCES link_unit_test.cpp LIBRARIES linkkeeper)

pktav_manpage_test(pktav-link $<TARGET_FILE:pktav-link> pktav-link.1 --bogus)
pktav_manpage_test(pabxsim $<TARGET_FILE:pabxsim> pabxsim.1 --bogus)
