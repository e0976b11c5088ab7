// The peers a listening link keeper accepts: addresses, or networks written
// ADDRESS/BITS, IPv4 or IPv6. An IPv4 peer matches its entries in either
// spelling, a.b.c.d or ::ffff:a.b.c.d, whether it reached an IPv4 socket or
// an IPv6 one.
#pragma once

#include <sys/socket.h>

#include <string>
#include <vector>

class allowlist {
 public:
  // Adds an entry; false for one that is not an address or network.
  bool add(const std::string& entry);
  bool empty() const { return entries_.empty(); }
  // True when the list is empty or the peer matches an entry.
  bool allows(const sockaddr* peer) const;

 private:
  struct entry {
    int family;
    unsigned char addr[16];
    int bits;
  };
  std::vector<entry> entries_;
};
