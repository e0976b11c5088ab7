// The audit's checks of a store, and its reconciliation with a raw log.
#pragma once

#include <string>
#include <unordered_map>

#include "cdr/findings.h"
#include "cdr/options.h"
#include "cdr/reader.h"

// Checks each call and each line as the reader passes them: malformed and
// torn lines, lines filed under another hour than their end's, wall times
// the zone never shows, and lines repeated within a file (listed, never
// removed: two identical calls can both be real).
class auditsink : public callsink {
 public:
  explicit auditsink(findings& f) : f_(f) {}

  // Starts a file: checks its place in the tree, forgets the last file's lines.
  void beginfile(const hourfile& f);
  void call(const readcall& c) override;
  void bad(const hourfile& f, long line, std::string_view text, const char* why) override;
  void unreadable(const std::string& path, int err) override;

 private:
  findings& f_;
  std::unordered_map<std::string, long> seen_;  // this file's lines, with their first number
};

// Replays the raw log through the packer into a scratch directory and
// reports the calls found in only one of the store and the replay, in the
// period both cover (and the options' period, if given). Returns false
// with *err set when the replay cannot be made.
bool reconcile(const cdroptions& o, findings& f, std::string* err);
