// The name of an option in messages, from a getopt_long table.
#pragma once

#include <getopt.h>

#include <string>

// "--name" for the entry of `table` (ended by a null name) whose value is
// `val`; "-c" for a letter with no entry; "?" otherwise.
std::string optionname(const option* table, int val);
