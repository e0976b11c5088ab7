// Two stores compared hour by hour as multisets of well-formed lines, over
// a period of wall times: a line of one store that the other does not hold
// as often is a finding. Only the lines of one hour are held at a time.
#pragma once

#include <cstdint>
#include <string>

#include "cdr/findings.h"
#include "cdr/storewalk.h"

// The wall-time span of the calls in a store's hours [lo, hi]: the least
// of its first hour's file(s) and the greatest of its last's. False when
// it holds none.
bool storespan(const std::string& root, const hourkey& lo, const hourkey& hi, int64_t* first,
               int64_t* last);

// Compares the calls of `ours` and `theirs` that end in [lo, hi] (wall
// seconds): "missing" for a line only `theirs` holds, named by the hour
// file of `ours` it belongs in; "unlogged" for one only `ours` holds, by
// its file and line.
void comparestores(const std::string& ours, const std::string& theirs, int64_t lo, int64_t hi,
                   findings& found);
