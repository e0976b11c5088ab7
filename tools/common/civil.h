// Calendar arithmetic on the proleptic Gregorian calendar, free of any time
// zone: wall-clock times as seconds counted as if they were UTC, and the
// ISO 8601 texts of the tools.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// A wall-clock time: year, month 1-12, day 1-31, hour, minute, second.
struct wall {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Days from 1970-01-01 to the given date (negative before it).
int64_t daysfromcivil(int year, int month, int day);

// The date of a day number from daysfromcivil.
void civilfromdays(int64_t days, int* year, int* month, int* day);

// The day of the week of such a day number: 0 Monday .. 6 Sunday.
int weekdayof(int64_t days);

int daysinmonth(int year, int month);

// Whether the date is on the calendar (month 1-12, a day the month has).
bool validdate(int year, int month, int day);

// Whether the wall time is one a clock shows: a valid date, hours 0-23,
// minutes and seconds 0-59.
bool validwall(const wall& w);

// The wall time as seconds since 1970-01-01 00:00:00, counted without zone.
int64_t wallsecs(const wall& w);

// The wall time of such a count.
wall wallof(int64_t secs);

// Writes "YYYY-MM-DDThh:mm:ss+hh:mm" (25 characters, no NUL) for the wall
// time w seen at UTC offset `offset` seconds; returns the end of the text.
char* isotime(char* out, const wall& w, int offset);

// "YYYY-MM-DDThh:mm:ss+hh:mm" for t in the local time zone.
std::string isotime(time_t t);

// Writes "YYYY-MM-DD" (10 characters, no NUL); returns the end of the text.
char* isodate(char* out, int year, int month, int day);
