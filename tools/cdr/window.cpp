#include "window.h"

namespace {

constexpr int day_minutes = 24 * 60;
const char* const daynames[7] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

int dayindex(std::string_view s) {
  if (s.size() != 3) return -1;
  for (int d = 0; d < 7; ++d) {
    bool same = true;
    for (size_t i = 0; i < 3; ++i) same = same && (s[i] | 0x20) == daynames[d][i];
    if (same) return d;
  }
  return -1;
}

// HH:MM as minutes of the day, at most `most`; -1 when it is not.
int hhmm(std::string_view s, int most) {
  auto digit = [&](size_t i) { return s[i] >= '0' && s[i] <= '9'; };
  if (s.size() != 5 || s[2] != ':' || !digit(0) || !digit(1) || !digit(3) || !digit(4)) return -1;
  int h = (s[0] - '0') * 10 + (s[1] - '0'), m = (s[3] - '0') * 10 + (s[4] - '0');
  if (m > 59 || h * 60 + m > most) return -1;
  return h * 60 + m;
}

}  // namespace

weekmoment momentof(int64_t wallseconds) {
  int64_t days = wallseconds >= 0 ? wallseconds / 86400 : -((-wallseconds + 86399) / 86400);
  int64_t secs = wallseconds - days * 86400;
  return {static_cast<int>(((days + 3) % 7 + 7) % 7), static_cast<int>(secs / 60)};
}

weekminutes window::minutes() const {
  // The day's span from Monday 00:00 (running into Tuesday past midnight),
  // moved to each day of the set; Sunday's night runs into Monday.
  weekminutes m;
  auto length = static_cast<size_t>((from < to ? to : day_minutes + to) - from);
  weekminutes span = ~weekminutes() >> (week_minutes - length) << static_cast<size_t>(from);
  for (int d = 0; d < 7; ++d)
    if (days >> d & 1) m |= span << static_cast<size_t>(d * day_minutes);
  if ((days >> 6 & 1) && from > to && to > 0)
    m |= ~weekminutes() >> (week_minutes - static_cast<size_t>(to));
  return m;
}

const char* parsedays(std::string_view s, window* w) {
  if (s == "*") {
    w->days = 0x7f;
    return nullptr;
  }
  uint8_t days = 0;
  for (size_t at = 0; at <= s.size();) {
    size_t comma = s.find(',', at);
    std::string_view item = s.substr(at, comma == s.npos ? s.npos : comma - at);
    size_t dash = item.find('-');
    int a = dayindex(item.substr(0, dash)), b = dash == item.npos ? a : dayindex(item.substr(dash + 1));
    if (a < 0 || b < 0) return "not days (*, or Mon..Sun and ranges such as Mon-Fri, joined by commas)";
    for (int d = a;; d = (d + 1) % 7) {
      days |= static_cast<uint8_t>(1u << d);
      if (d == b) break;
    }
    if (comma == s.npos) break;
    at = comma + 1;
  }
  w->days = days;
  return nullptr;
}

const char* parsefrom(std::string_view s, window* w) {
  int m = hhmm(s, day_minutes - 1);
  if (m < 0) return "not a time of day from 00:00 to 23:59";
  w->from = static_cast<int16_t>(m);
  return nullptr;
}

const char* parseto(std::string_view s, window* w) {
  int m = hhmm(s, day_minutes);
  if (m < 0) return "not a time of day from 00:00 to 24:00";
  w->to = static_cast<int16_t>(m);
  return nullptr;
}

const char* checkspan(const window& w) {
  if (w.from == w.to) return "from and to are the same time: no time at all (00:00 to 24:00 is all day)";
  return nullptr;
}

const char* parsewindow(std::string_view s, window* w) {
  size_t slash = s.find('/');
  if (slash == s.npos || s.size() != slash + 12 || s[slash + 6] != '-')
    return "not DAYS/HH:MM-HH:MM";
  window r;
  const char* why = parsedays(s.substr(0, slash), &r);
  if (!why) why = parsefrom(s.substr(slash + 1, 5), &r);
  if (!why) why = parseto(s.substr(slash + 7, 5), &r);
  if (!why) why = checkspan(r);
  if (!why) *w = r;
  return why;
}
