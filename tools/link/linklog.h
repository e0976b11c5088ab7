// The link keeper's reports on standard error: one line each, stamped with
// the local time in ISO 8601 with its offset, so that they read well beside
// the program's own messages in one log.
#pragma once

#include <ctime>
#include <string>

// "2024-03-05T14:07:36+01:00"
std::string isotime(time_t t);

// Writes "<time> pktav-link: <message>\n" with one write.
void report(const char* format, ...) __attribute__((format(printf, 1, 2)));
