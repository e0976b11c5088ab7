// The rules pktav-cdr watch checks calls against, read from a text file an
// operator writes by hand: one rule a line, its name, its kind and its
// settings, words separated by blanks; '#' starts a comment that runs to
// the end of the line; a value with blanks is written in double quotes
// (department="Head office").
//
//   # name    kind         settings
//   premium   destination  prefix=19,0900 outside=Mon-Fri/07:00-19:00
//   intl      burst        by=station prefix=00 calls=10 window=10m
//   long      long         over=2h
//   quiet     silence      for=2h within=Mon-Fri/08:00-18:00
//   costly    cost         over=25.00
//
// Durations are a number and s, m or h; windows are the tariff's
// DAYS/HH:MM-HH:MM (window.h); money is the tariff's (money.h). Any rule
// may be limited with stations=A-B, trunks=A-B and department=NAME.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cdr/fileproblem.h"
#include "cdr/money.h"
#include "cdr/select.h"
#include "cdr/window.h"

class pricing;

enum class rulekind { destination, longcall, burst, cost, silence };
// What a burst counts: calls, seconds of talk, or cost.
enum class burstmeasure { calls, seconds, cost };

struct watchrule {
  std::string name;
  rulekind kind = rulekind::destination;
  long line = 0;
  // destination, burst: the dialled prefixes it takes (any, when empty).
  std::vector<std::string> prefixes;
  // destination: only calls starting within (or, with `outside`, outside)
  // the window; silence: the time that counts towards for=.
  std::optional<window> when;
  bool outside = false;
  std::string whentext;  // as written, for the alarms' details
  // long: over=; burst: window=; silence: for=; in seconds.
  int64_t seconds = 0;
  // The same as written, for the alarms' details.
  std::string secondstext;
  // cost: over=; burst: the limit, more than which raises it (calls,
  // seconds or money by `measure`).
  int64_t limit = 0;
  burstmeasure measure = burstmeasure::calls;
  bool bytrunk = false;  // burst: by=trunk, else by=station
  // The calls it looks at at all.
  std::optional<numrange> stations, trunks;
  std::string department;
  uint32_t departmentnumber = 0;  // set by watchrules::fits
};

// The words of the kinds, by rulekind.
const char* kindname(rulekind k);

class watchrules {
 public:
  // Reads the file; its errors go to *problems. False when it has errors
  // (the rules are then not to be used).
  bool load(const std::string& path, std::vector<fileproblem>* problems);
  // The same of a file's text; `path` names it in the problems.
  bool parse(std::string_view text, const std::string& path, std::vector<fileproblem>* problems);
  // Whether the rules can be checked with these files: a cost needs a
  // tariff, a department a directory that names it. Numbers the
  // departments; what is missing goes to *problems with the rule's line.
  bool fits(const pricing& prices, std::vector<fileproblem>* problems);

  const std::vector<watchrule>& rules() const { return rules_; }
  const std::string& path() const { return path_; }

 private:
  bool readrule(const std::vector<std::string>& words, long line, fileproblems& p);

  std::string path_;
  std::vector<watchrule> rules_;
};

// "90s", "10m", "2h" in seconds; nullptr, or why it is not a duration.
const char* parseduration(std::string_view text, int64_t* seconds);
