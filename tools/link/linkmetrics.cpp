#include "tools/link/linkmetrics.h"

#include <algorithm>
#include <cerrno>

#include "tools/common/diag.h"
#include "tools/common/exposition.h"
#include "tools/common/replacefile.h"

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

metricsfile::metricsfile(std::string path, std::string site)
    : path_(std::move(path)), site_(std::move(site)) {}

int metricsfile::timeout(clock::time_point now) const {
  if (path_.empty()) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due_ - now).count();
  return left <= 0 ? 0 : static_cast<int>(left + 1);
}

void metricsfile::changed() { due_ = std::min(due_, last_ + soonest); }

void metricsfile::update(const linkstate& s, bool now) {
  clock::time_point at = clock::now();
  if (path_.empty() || (!now && at < due_)) return;
  last_ = at;
  due_ = at + every;
  std::string why;
  // For another user's reader, whatever the umask; kept on no disk across
  // a crash, being made again within seconds.
  if (replacefile(path_, linkexposition(s, site_), 0644, false, &why)) {
    if (!failing_.empty()) stampedwarnx("metrics: %s written again", path_.c_str());
    failing_.clear();
  } else if (why != failing_) {
    stampedwarnx("metrics: cannot write %s", why.c_str());
    failing_ = why;
  }
}
