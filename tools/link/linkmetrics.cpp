#include "tools/link/linkmetrics.h"

#include <cerrno>

#include "tools/common/exposition.h"

namespace {

// The values of the label cause, in the order of dropcause.
const char* const causenames[dropcauses] = {"closed", "hangup",   "reset", "timeout",
                                            "error",  "replaced", "silent"};

}  // namespace

dropcause readdrop(bool device, int err) {
  if (err == 0) return device ? dropcause::hangup : dropcause::closed;
  if (err == ECONNRESET) return dropcause::reset;
  if (err == ETIMEDOUT) return dropcause::timeout;
  return dropcause::error;
}

std::string linkexposition(const linkstate& s, const std::string& site) {
  exposition e({{"site", site}});
  e.metric("pktav_link_up", "gauge", "Whether a link to the exchange is up (1) or not (0).");
  e.sample(uint64_t{s.up});
  e.metric("pktav_link_bytes_total", "counter", "Bytes read from the exchange's links.");
  e.sample(s.bytes);
  e.metric("pktav_link_connections_total", "counter", "Links to the exchange made.");
  e.sample(s.connections);
  e.metric("pktav_link_drops_total", "counter", "Links that went down, by cause.");
  for (int c = 0; c < dropcauses; ++c) e.sample(s.drops[c], {{"cause", causenames[c]}});
  e.metric("pktav_link_last_byte_timestamp_seconds", "gauge",
           "When the latest byte was read from a link, in seconds since 1970; 0 before the "
           "first.");
  e.sample(s.lastbyte);
  return e.text();
}
