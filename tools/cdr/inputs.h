// The operands of a command: store directories, walked in time order, and
// hour files named one by one, read as given.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cdr/reader.h"
#include "cdr/storewalk.h"

// Visits the hour files of every input whose hour lies in [lo, hi] (files
// whose names tell no hour are always visited). What the walk of a store
// cannot read and the strays it meets go to the sink; so do inputs that
// cannot be reached, or a store whose top cannot be read, as bad operands.
void forinputs(const std::vector<std::string>& inputs, const hourkey& lo, const hourkey& hi,
               const std::function<void(const hourfile&)>& visit, callsink& sink);

// Names as one text, "a" or "a, b", for titles and messages.
std::string joinnames(const std::vector<std::string>& names);
