// The audit's checks of a store.
#pragma once

#include <string>
#include <unordered_map>

#include "cdr/findings.h"
#include "cdr/reader.h"

// Checks each call and each line as the reader passes them: malformed and
// torn lines, lines filed under another hour than their end's, wall times
// the zone never shows, lines repeated within a file (listed, never
// removed: two identical calls can both be real), and strays.
class auditsink : public callsink {
 public:
  explicit auditsink(findings& f) : f_(f) {}

  // Checks the file's place in the tree, forgets the last file's lines.
  void beginfile(const hourfile& f) override;
  void call(const readcall& c) override;
  void bad(const hourfile& f, long line, std::string_view text, const char* why) override;
  void unreadable(const std::string& path, int err) override;
  void stray(const std::string& path, const char* what) override;

 private:
  findings& f_;
  std::unordered_map<std::string, long> seen_;  // this file's lines, with their first number
};
