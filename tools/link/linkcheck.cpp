#include "tools/link/linkcheck.h"

#include <netdb.h>

#include <cstring>

#include "tools/common/address.h"
#include "tools/common/spawn.h"

namespace {

// A port name is looked up locally (the services file), whatever the host.
bool portknown(const linksource& s, std::string* why) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* ai = nullptr;
  int rc = getaddrinfo(nullptr, s.net.port.c_str(), &hints, &ai);
  if (rc != 0) {
    *why = s.net.text + ": " + gai_strerror(rc);
    return false;
  }
  freeaddrinfo(ai);
  return true;
}

}  // namespace

bool checklinkrun(const linkoptions& o, std::string* why) {
  if (o.source.kind == linksource::listen) {
    addrinfo* ai = nullptr;
    if (!resolve(o.source.net, true, &ai, why)) return false;
    freeaddrinfo(ai);
  } else if (o.source.kind == linksource::connect && !portknown(o.source, why)) {
    return false;
  }
  std::string path;
  if (int err = findprogram(o.program[0], &path)) {
    *why = "cannot run " + o.program[0] + ": " + strerror(err);
    return false;
  }
  return true;
}
