// pktav-cdr: audits, queries, exports and reports over a pktav CDR store.
#include <cstdio>
#include <exception>

#include "cdr/commands.h"
#include "cdr/diag.h"
#include "cdr/exits.h"
#include "cdr/options.h"

int main(int argc, char** argv) {
  cdroptions o;
  switch (parseoptions(argc, argv, &o)) {
    case parseresult::done: return fflush(stdout) == 0 ? exit_ok : exit_trouble;
    case parseresult::usage: return exit_trouble;
    case parseresult::run: break;
  }
  try {
    return o.cmd->run(o);
  } catch (const std::exception& e) {
    warnx("%s", e.what());
  }
  return exit_trouble;
}
