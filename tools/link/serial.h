// A serial device that may go away (a USB adapter unplugged) and come back
// with its driver's default line settings: each opening puts the line
// settings back, either those given or those the device had when it was
// first opened.
#pragma once

#include <termios.h>

#include <string>

#include "tools/link/linkopts.h"

class serialline {
 public:
  explicit serialline(const lineconfig& config) : config_(config) {}

  // Opens the device for reading without blocking and without making it
  // the controlling terminal; returns the descriptor, or -1 with `why`.
  // `note` tells what was done to the line settings.
  int open(const std::string& path, std::string* note, std::string* why);

 private:
  lineconfig config_;
  bool saved_ = false;
  termios settings_{};
};

// The settings of a raw line with the given speed and framing.
termios rawline(const termios& from, const lineconfig& config);
