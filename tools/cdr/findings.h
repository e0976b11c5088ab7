// The audit's findings, one per line: as text
//
//   KIND PLACE: DETAIL[: "LINE"]
//
// (PLACE a file, or file:line) or, with --json, one JSON object per line
// with the members kind, file, line (0 when the finding is about a file),
// detail and text (the CDR line, when there is one).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "cdr/outbuf.h"

class findings {
 public:
  findings(outbuf& out, bool json) : out_(out), json_(json) {}

  void add(const char* kind, const std::string& file, long line, const std::string& detail,
           std::string_view text = {});
  size_t count() const { return count_; }

 private:
  outbuf& out_;
  bool json_;
  size_t count_ = 0;
};

// `s` as a JSON string, quotes included.
std::string jsonstring(std::string_view s);
