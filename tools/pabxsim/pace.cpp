#include "tools/pabxsim/pace.h"

#include <algorithm>

#include "tools/common/officeweek.h"

pace::pace(int callsperhour, bool flat) : callsperhour_(std::max(callsperhour, 1)), flat_(flat) {}

void pace::hour(time_t t) {
  if (t >= from_ && t < to_) return;
  std::tm local{};
  localtime_r(&t, &local);
  from_ = t - (local.tm_min * 60 + local.tm_sec);
  to_ = from_ + 3600;
  int weekday = (local.tm_wday + 6) % 7;  // from Monday
  perhour_ = callsperhour_ * officeweight(weekday, local.tm_hour) / officemean();
}

// Through the hours one at a time, each at its own pace: a shift of the
// clock in the middle of one (summer time, half-hour zones) only ends it
// early.
double pace::seconds(time_t from, double calls) {
  if (flat_) return 3600.0 / callsperhour_ * calls;
  double passed = 0;
  for (time_t at = from;;) {
    hour(at);
    double left = static_cast<double>(to_ - at), due = perhour_ * left / 3600;
    if (calls <= due) return passed + calls * 3600 / perhour_;
    calls -= due;
    passed += left;
    at = to_;
  }
}

time_t pace::before(time_t end, uint64_t calls) {
  if (flat_) return end - static_cast<time_t>(calls * 3600 / static_cast<uint64_t>(callsperhour_));
  // A week holds callsperhour a week's hours, whatever the shape. Counts
  // beyond any run end some two thousand years back, still in the clock.
  uint64_t week = static_cast<uint64_t>(callsperhour_) * 168;
  end -= static_cast<time_t>(std::min<uint64_t>(calls / week, 100000)) * 7 * 86400;
  double left = static_cast<double>(calls % week);
  for (time_t at = end;;) {
    hour(at - 1);
    double back = static_cast<double>(at - from_), due = perhour_ * back / 3600;
    if (left <= due) return at - static_cast<time_t>(left * 3600 / perhour_);
    left -= due;
    at = from_;
  }
}
