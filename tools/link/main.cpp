// pktav-link: keeps the byte stream of one exchange flowing into one
// long-running pktav across dropped links.
#include <cstdio>
#include <string>

#include "tools/link/keeper.h"
#include "tools/link/linkcheck.h"
#include "tools/link/linkopts.h"

int main(int argc, char** argv) {
  linkoptions o;
  std::string why;
  switch (parselinkoptions(argc, argv, &o, &why)) {
    case linkparse::help: fputs(linkusage, stdout); return 0;
    case linkparse::version: printf("pktav-link %s\n", PKTAV_VERSION); return 0;
    case linkparse::bad:
      // A check is read by a program: the reason alone.
      fprintf(stderr, "pktav-link: %s\n%s", why.c_str(), o.check ? "" : linkusage);
      return o.check ? checkrefused : linkfailed;
    case linkparse::run: break;
  }
  if (o.check) {
    if (checklinkrun(o, &why)) return 0;
    fprintf(stderr, "pktav-link: %s\n", why.c_str());
    return checkrefused;
  }
  return keeper(o).run();
}
