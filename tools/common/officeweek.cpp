#include "tools/common/officeweek.h"

namespace {

// A working day, hour by hour.
const double workday[24] = {1,  0.5, 0.3, 0.3, 0.3, 0.5, 2,  8, 20, 30, 34,  32,
                            18, 22,  30,  31,  28,  20,  10, 5, 3,  2,  1.5, 1};
constexpr double weekendshare = 0.15;  // of the working day's traffic, each hour

}  // namespace

double officeweight(int weekday, int hour) {
  return workday[hour] * (weekday >= 5 ? weekendshare : 1.0);
}

double officemean() {
  static const double mean = [] {
    double sum = 0;
    for (int d = 0; d < 7; ++d)
      for (int h = 0; h < 24; ++h) sum += officeweight(d, h);
    return sum / (7 * 24);
  }();
  return mean;
}
