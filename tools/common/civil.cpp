#include "tools/common/civil.h"

namespace {

// Writes n decimal digits of v, zero-padded.
char* digits(char* out, int v, int n) {
  for (int i = n - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
  return out + n;
}

int64_t floordiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

}  // namespace

// The era-based conversion: 400-year eras of 146097 days, years starting in
// March so that the leap day comes last.
int64_t daysfromcivil(int year, int month, int day) {
  int64_t y = year - (month <= 2);
  int64_t era = floordiv(y, 400);
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civilfromdays(int64_t days, int* year, int* month, int* day) {
  days += 719468;
  int64_t era = floordiv(days, 146097);
  int64_t doe = days - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(yoe + era * 400 + (*month <= 2));
}

// 1970-01-01 was a Thursday.
int weekdayof(int64_t days) { return static_cast<int>(((days % 7) + 7 + 3) % 7); }

int daysinmonth(int year, int month) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2 && year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) return 29;
  return days[month - 1];
}

bool validdate(int year, int month, int day) {
  return month >= 1 && month <= 12 && day >= 1 && day <= daysinmonth(year, month);
}

bool validwall(const wall& w) {
  return validdate(w.year, w.month, w.day) && w.hour >= 0 && w.hour <= 23 && w.minute >= 0 &&
         w.minute <= 59 && w.second >= 0 && w.second <= 59;
}

int64_t wallsecs(const wall& w) {
  return daysfromcivil(w.year, w.month, w.day) * 86400 + w.hour * 3600 + w.minute * 60 + w.second;
}

wall wallof(int64_t secs) {
  wall w;
  int64_t days = floordiv(secs, 86400);
  int64_t rest = secs - days * 86400;
  civilfromdays(days, &w.year, &w.month, &w.day);
  w.hour = static_cast<int>(rest / 3600);
  w.minute = static_cast<int>(rest / 60 % 60);
  w.second = static_cast<int>(rest % 60);
  return w;
}

char* isodate(char* out, int year, int month, int day) {
  out = digits(out, year, 4);
  *out++ = '-';
  out = digits(out, month, 2);
  *out++ = '-';
  return digits(out, day, 2);
}

char* isotime(char* out, const wall& w, int offset) {
  out = isodate(out, w.year, w.month, w.day);
  *out++ = 'T';
  out = digits(out, w.hour, 2);
  *out++ = ':';
  out = digits(out, w.minute, 2);
  *out++ = ':';
  out = digits(out, w.second, 2);
  *out++ = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  out = digits(out, offset / 3600, 2);
  *out++ = ':';
  return digits(out, offset / 60 % 60, 2);
}

std::string isotime(time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  wall w{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  char text[32];
  return std::string(text, isotime(text, w, static_cast<int>(tm.tm_gmtoff)));
}
