// pabxsim: a simulated exchange printing call records, for trying pktav and
// pktav-link without an exchange.
#include <cstdio>
#include <string>

#include "tools/pabxsim/sim.h"
#include "tools/pabxsim/simoptions.h"

int main(int argc, char** argv) {
  simoptions o;
  std::string why;
  switch (parsesimoptions(argc, argv, &o, &why)) {
    case parsed::help: fputs(simusage, stdout); return simok;
    case parsed::version: printf("pabxsim %s\n", PKTAV_VERSION); return simok;
    case parsed::bad: fprintf(stderr, "pabxsim: %s\n%s", why.c_str(), simusage); return simfailed;
    case parsed::run: break;
  }
  return simulate(o);
}
