// The wait before the next attempt at a link: doubling from the shortest to
// the longest, and back to the shortest after a good link.
#pragma once

class backoff {
 public:
  backoff(double shortest, double longest) : shortest_(shortest), longest_(longest) {}

  // The wait before the next attempt, in seconds; each call doubles the next.
  double next() {
    double wait = current_ > 0 ? current_ : shortest_;
    current_ = wait * 2 > longest_ ? longest_ : wait * 2;
    return wait;
  }

  // A good link: the next wait is the shortest again.
  void reset() { current_ = 0; }

 private:
  double shortest_, longest_;
  double current_ = 0;
};
