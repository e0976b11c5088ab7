// The run of pabxsim: the stream generated, sent with its faults, listed.
#pragma once

#include "tools/pabxsim/simoptions.h"

// Exit codes.
inline constexpr int simok = 0;
inline constexpr int simfailed = 2;  // a bad command line, or the output failed

// Sends the stream as the options say; returns the exit code.
int simulate(const simoptions& o);
