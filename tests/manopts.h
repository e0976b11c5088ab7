// Reading option names out of a program's usage text and out of its man
// page, to check that the page describes every option the program knows.
#pragma once

#include <set>
#include <string>

// The options a usage text names: "-x" for each letter of a short option
// or of a group such as "[-nxv]", "--name" for a long one. A name counts
// where it stands after a blank, '[', '(', '|' or ',' (so "/dev/ttyS0" or
// "'--bogus'" in a message do not); negative numbers are not options.
std::set<std::string> usageoptions(const std::string& text);

// A roff line as text: font changes, "\&", "\%" and macro names dropped,
// "\-" as '-', "\~" as a blank, quotes of macro arguments removed.
std::string plainroff(const std::string& line);

// The options that a man page describes: those named in the tag of a
// tagged paragraph (the line after .TP or .TQ, the argument of .IP).
std::set<std::string> documentedoptions(const std::string& page);
