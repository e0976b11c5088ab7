// The pace of the simulated calls: an office's day and week in the local
// time of the calls (the default), or the same number every hour.
#pragma once

#include <cstdint>
#include <ctime>

class pace {
 public:
  // `callsperhour` on average over a week; `flat`: in every hour alike.
  pace(int callsperhour, bool flat);

  // Seconds from `from` until `calls` more calls are due.
  double seconds(time_t from, double calls);

  // The time from which `calls` calls are due by `end`.
  time_t before(time_t end, uint64_t calls);

 private:
  // Makes [from_, to_) the local hour holding t, and perhour_ its pace.
  void hour(time_t t);

  double callsperhour_;
  bool flat_;
  time_t from_ = 1, to_ = 0;  // the hour last looked up; none yet
  double perhour_ = 0;
};
