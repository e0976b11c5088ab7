#include "tools/link/linkcheck.h"

#include <netdb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tools/link/tcp.h"

namespace {

// 0 for an executable regular file, else the error a spawn would get.
int runnable(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode) || access(path.c_str(), X_OK) != 0) return EACCES;
  return 0;
}

// A port name is looked up locally (the services file), whatever the host.
bool portknown(const linksource& s, std::string* why) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* ai = nullptr;
  int rc = getaddrinfo(nullptr, s.port.c_str(), &hints, &ai);
  if (rc != 0) {
    *why = s.host + ":" + s.port + ": " + gai_strerror(rc);
    return false;
  }
  freeaddrinfo(ai);
  return true;
}

}  // namespace

int findprogram(const std::string& name, std::string* path) {
  if (name.find('/') != std::string::npos) {
    *path = name;
    return runnable(name);
  }
  const char* env = getenv("PATH");
  std::string dirs = env ? env : "/bin:/usr/bin";
  int err = ENOENT;
  for (size_t at = 0; at <= dirs.size();) {
    size_t colon = dirs.find(':', at);
    if (colon == std::string::npos) colon = dirs.size();
    std::string dir = dirs.substr(at, colon - at);
    std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    int e = runnable(candidate);
    if (e == 0) {
      *path = candidate;
      return 0;
    }
    if (e == EACCES) err = EACCES;
    at = colon + 1;
  }
  return err;
}

bool checklinkrun(const linkoptions& o, std::string* why) {
  if (o.source.kind == linksource::listen) {
    addrinfo* ai = nullptr;
    if (!resolve(o.source, true, &ai, why)) return false;
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
