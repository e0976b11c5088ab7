#include "tools/common/metricsfile.h"

#include <algorithm>

#include "tools/common/diag.h"
#include "tools/common/replacefile.h"

metricsfile::metricsfile(std::string path) : path_(std::move(path)) {}

int metricsfile::timeout(clock::time_point now) const {
  if (path_.empty()) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due_ - now).count();
  return left <= 0 ? 0 : static_cast<int>(left + 1);
}

void metricsfile::changed() { due_ = std::min(due_, last_ + soonest); }

bool metricsfile::due(bool now) {
  clock::time_point at = clock::now();
  if (path_.empty() || (!now && at < due_)) return false;
  last_ = at;
  due_ = at + every;
  return true;
}

void metricsfile::write(const std::string& text) {
  std::string why;
  // For another user's reader, whatever the umask; kept on no disk across
  // a crash, being made again within seconds.
  if (replacefile(path_, text, 0644, false, &why)) {
    if (!failing_.empty()) stampedwarnx("metrics: %s written again", path_.c_str());
    failing_.clear();
  } else if (why != failing_) {
    stampedwarnx("metrics: cannot write %s", why.c_str());
    failing_ = why;
  }
}
