#include "tools/link/allow.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdlib>
#include <cstring>

namespace {

bool prefixmatch(const unsigned char* a, const unsigned char* b, int bits) {
  int bytes = bits / 8, rest = bits % 8;
  if (memcmp(a, b, static_cast<size_t>(bytes)) != 0) return false;
  if (rest == 0) return true;
  unsigned char mask = static_cast<unsigned char>(0xff << (8 - rest));
  return (a[bytes] & mask) == (b[bytes] & mask);
}

}  // namespace

bool allowlist::add(const std::string& text) {
  entry e{};
  size_t slash = text.find('/');
  std::string addr = text.substr(0, slash);
  if (inet_pton(AF_INET, addr.c_str(), e.addr) == 1) {
    e.family = AF_INET;
    e.bits = 32;
  } else if (inet_pton(AF_INET6, addr.c_str(), e.addr) == 1) {
    e.family = AF_INET6;
    e.bits = 128;
  } else {
    return false;
  }
  if (slash != std::string::npos) {
    std::string bits = text.substr(slash + 1);
    char* end = nullptr;
    long n = strtol(bits.c_str(), &end, 10);
    if (bits.empty() || *end != '\0' || n < 0 || n > e.bits) return false;
    e.bits = static_cast<int>(n);
  }
  entries_.push_back(e);
  return true;
}

bool allowlist::allows(const sockaddr* peer) const {
  if (entries_.empty()) return true;
  int family = peer->sa_family;
  const unsigned char* addr = nullptr;
  if (family == AF_INET) {
    addr = reinterpret_cast<const unsigned char*>(
        &reinterpret_cast<const sockaddr_in*>(peer)->sin_addr);
  } else if (family == AF_INET6) {
    const in6_addr* a6 = &reinterpret_cast<const sockaddr_in6*>(peer)->sin6_addr;
    addr = reinterpret_cast<const unsigned char*>(a6);
    if (IN6_IS_ADDR_V4MAPPED(a6)) {
      family = AF_INET;
      addr += 12;
    }
  } else {
    return false;
  }
  for (const entry& e : entries_)
    if (e.family == family && prefixmatch(e.addr, addr, e.bits)) return true;
  return false;
}
