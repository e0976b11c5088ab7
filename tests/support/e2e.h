// Helpers for running the packer programs end to end.
#pragma once

#include <string>
#include <vector>

#include "support/proc.h"

// A procspec for a packer program with these options, in TZ=UTC.
procspec packer(const std::string& program, const std::vector<std::string>& options);

// The two digits of the current year in UTC, as the CDR line shows them.
std::string thisyear();

// NEAX call number i (0 to 999) of a stream: station 4201 + i, trunk 12, on
// 1 January of the current year from 10:00 plus i minutes, 45 ticks long,
// and the CDR line it becomes.
std::string neaxcall(int i);
std::string neaxline(int i);

// Calls first to first + count - 1, concatenated.
std::string neaxcalls(int first, int count);
std::string neaxlines(int first, int count);

// MD110 call number i in the BC12 layout: station 4201 + i, trunk 12,
// ending on 1 January of the current year at 10:03 plus i minutes after 45
// ticks, and the CDR line it becomes.
std::string md110call(int i);
std::string md110line(int i);
std::string md110calls(int first, int count);

// Call number i (0 to 899,999) of a long stream, as a NEAX or an MD110
// record: station 100000 + i, trunk 12, ending on 1 January of the current
// year at 10:30 after 45 ticks; and the CDR line it becomes.
enum class recordformat { neax, md110 };
std::string bulkcall(recordformat f, int i);
std::string bulkline(recordformat f, int i);

// The usage text, with the rows of a TCP-capable build or without them.
std::string usagetext(bool tcp);
