#include "tools/link/allow.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

#include "tools/common/numbers.h"

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
    uint64_t n = 0;
    if (!parsecount(text.substr(slash + 1), &n, 3) || n > static_cast<uint64_t>(e.bits))
      return false;
    e.bits = static_cast<int>(n);
  }
  entries_.push_back(e);
  return true;
}

bool allowlist::allows(const sockaddr* peer) const {
  if (entries_.empty()) return true;
  // An IPv4 address has two spellings, a.b.c.d and ::ffff:a.b.c.d: a peer
  // matches the entries written either way, whichever socket it reached.
  unsigned char v6[16] = {};
  const unsigned char* v4 = nullptr;
  if (peer->sa_family == AF_INET) {
    v4 = reinterpret_cast<const unsigned char*>(
        &reinterpret_cast<const sockaddr_in*>(peer)->sin_addr);
    v6[10] = v6[11] = 0xff;
    memcpy(v6 + 12, v4, 4);
  } else if (peer->sa_family == AF_INET6) {
    const in6_addr* a6 = &reinterpret_cast<const sockaddr_in6*>(peer)->sin6_addr;
    memcpy(v6, a6, sizeof v6);
    if (IN6_IS_ADDR_V4MAPPED(a6)) v4 = v6 + 12;
  } else {
    return false;
  }
  for (const entry& e : entries_) {
    if (e.family == AF_INET6 && prefixmatch(e.addr, v6, e.bits)) return true;
    if (e.family == AF_INET && v4 && prefixmatch(e.addr, v4, e.bits)) return true;
  }
  return false;
}
