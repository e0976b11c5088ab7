// When something applies within the week: a set of weekdays and a span of
// the day from `from` to `to` (exclusive), in minutes. A span whose `from`
// is later than its `to` runs past midnight, and both its parts belong to
// the day on which it opened: "Fri 18:00-08:00" holds Friday evening and
// Saturday morning.
//
// Written as a tariff's three columns (days, from, to) or in one word,
// DAYS/HH:MM-HH:MM, where DAYS is "*" or weekday names and ranges joined
// by commas: "Mon-Fri", "Sat,Sun", "Mon-Thu,Sat", "Fri-Mon".
#pragma once

#include <bitset>
#include <cstdint>
#include <string_view>

// Minutes of a week from Monday 00:00.
inline constexpr int week_minutes = 7 * 24 * 60;
using weekminutes = std::bitset<week_minutes>;

// A moment of the week: the weekday (0 Monday .. 6 Sunday) and the minute
// of the day (0 .. 1439).
struct weekmoment {
  int weekday = 0;
  int minute = 0;
};
// The moment of a wall time given as seconds counted without zone
// (wallsecs); 1 January 1970 was a Thursday.
weekmoment momentof(int64_t wallseconds);

struct window {
  uint8_t days = 0x7f;  // bit d: weekday d
  int16_t from = 0, to = 24 * 60;

  bool holds(weekmoment m) const {
    if (from < to) return (days >> m.weekday & 1) && m.minute >= from && m.minute < to;
    return ((days >> m.weekday & 1) && m.minute >= from) ||
           ((days >> (m.weekday + 6) % 7 & 1) && m.minute < to);
  }
  // Every minute of the week it holds.
  weekminutes minutes() const;
};

// Each reads its text into *w and returns nullptr, or says what is wrong.
// Days: "*" or names (Mon .. Sun, in any case) and ranges, joined by commas.
const char* parsedays(std::string_view text, window* w);
// From: HH:MM, 00:00 to 23:59; to: 00:00 to 24:00.
const char* parsefrom(std::string_view text, window* w);
const char* parseto(std::string_view text, window* w);
// Whether the span is empty (from equal to to), which no window may be.
const char* checkspan(const window& w);
// DAYS/HH:MM-HH:MM, all of it checked.
const char* parsewindow(std::string_view text, window* w);
