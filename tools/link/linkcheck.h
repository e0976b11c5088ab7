// pktav-link --check: the settings of a run tried without running it, so
// that a service's settings are checked by the parser that will read them.
#pragma once

#include <string>

#include "tools/link/linkopts.h"

// What a run refuses once its command line is read, found without opening
// a socket, a device or the program: a listening address or a port the
// resolver does not take, a program that cannot be found or run. False
// with `why` as the run would tell it.
bool checklinkrun(const linkoptions& o, std::string* why);
