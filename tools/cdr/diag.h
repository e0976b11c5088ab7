// Messages on standard error, each starting with the program's name.
#pragma once

#include <string>
#include <string_view>

#include "cdr/storewalk.h"
#include "tools/common/diag.h"

// "FILE:LINE: WHY: TEXT" for a line that is not a CDR line; `text` is shown
// with bytes other than printable ASCII escaped.
void warnbadline(const hourfile& f, long line, std::string_view text, const char* why);

// `text` with bytes outside printable ASCII, '"' and '\' written as \xHH.
std::string printable(std::string_view text);
