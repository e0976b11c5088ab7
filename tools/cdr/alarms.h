// The alarms of pktav-cdr watch: the rules (rules.h) applied to calls as
// they are stored, and to the time that passes between them.
//
// Calls are taken as they come, by their end: the moment a call is stored.
// A destination, long or cost rule raises one alarm per call it takes. A
// burst rule raises one when the calls of a station (or trunk) that ended
// within its window come to more than its limit, and clears it when,
// calls leaving the window, they no longer do. A silence rule raises one
// when no call it takes has been stored for its for=, counting only the
// time its within= holds, and clears it with the next call.
//
// All the state of the rules is here: an alarmwatch is fed call by call and
// by the clock, and hands each alarm to its sink as it happens, so that a
// watch over a period and one that follows the store share it.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cdr/pricing.h"
#include "cdr/reader.h"
#include "cdr/rules.h"
#include "cdr/zone.h"

enum class alarmstate { raised, cleared };

struct watchalarm {
  const watchrule* rule = nullptr;
  alarmstate state = alarmstate::raised;
  int64_t time = 0;                          // an instant
  std::string_view station, trunk, dialled;  // empty: none
  std::string detail;                        // what tripped it, or what ended it
  const readcall* call = nullptr;            // the call it is about, if any
};

class alarmsink {
 public:
  virtual ~alarmsink() = default;
  virtual void take(const watchalarm& a) = 0;
};

class alarmwatch {
 public:
  // The rules must have been fitted to `prices` (watchrules::fits).
  alarmwatch(const watchrules& rules, const pricing& prices, tzone& zone, alarmsink& out);

  // The watch begins at `t`: the silence rules count from then, not from
  // their first call.
  void start(int64_t t);
  // A call is stored: time moves on to its end, then every rule looks at it.
  void call(const readcall& c);
  // Time moves on to `now` (never back): bursts' windows empty, silences grow.
  void clock(int64_t now);

  int64_t now() const { return now_; }
  // Alarms raised so far, and those of a rule raised and not cleared.
  uint64_t raised() const { return raised_; }
  uint64_t active(size_t rule) const;

  // The state of the rules as text, one line each thing (alarmsave.cpp),
  // and back: for a watch that goes on after a restart where it stopped.
  // Restoring takes the rules of the same name and kind and leaves the
  // others as they are; false, with why, for text that is no such state.
  std::string save() const;
  bool restore(std::string_view text, std::string* why);

 private:
  // A burst's calls of one station or trunk within the window.
  struct episode {
    int64_t sum = 0;     // of the rule's measure
    uint64_t calls = 0;  // within the window
    bool raised = false;
    uint64_t episodecalls = 0;  // since it was raised
  };
  struct burstentry {
    int64_t leaves;  // the instant it leaves the window
    uint32_t key;
    int64_t amount;
  };
  struct burststate {
    std::deque<burstentry> window;  // by the instant each leaves
    std::unordered_map<uint32_t, episode> by;
    uint64_t active = 0;
  };
  struct silencestate {
    bool started = false, raised = false;
    int64_t since = 0;      // the latest call, or the start
    int64_t countedto = 0;  // the quiet time is counted up to here
    int64_t quiet = 0;      // seconds of it that count
  };

  bool takes(const watchrule& r, const readcall& c) const;
  void oncall(size_t i, const readcall& c);
  void burst(size_t i, const readcall& c);
  void silence(size_t i, const readcall& c);
  // The burst's call that leaves its window first leaves it.
  void expire(size_t i);
  // The silence's quiet time counted on to `upto` into *quiet; the instant
  // it comes to the rule's for=, or INT64_MAX when it does not by then.
  int64_t quietuntil(size_t i, int64_t upto, int64_t* quiet) const;
  void emit(watchalarm& a);
  std::string when(int64_t t);
  int64_t measure(const watchrule& r, const readcall& c) const;
  std::string amount(const watchrule& r, int64_t v) const;

  const std::vector<watchrule>& rules_;
  const pricing& prices_;
  tzone& zone_;
  alarmsink& out_;
  std::vector<burststate> bursts_;      // by rule; used by burst rules
  std::vector<silencestate> silences_;  // by rule; used by silence rules
  int64_t now_ = INT64_MIN;
  uint64_t raised_ = 0;
};
