// Time records, the packed time scale, validation and display texts.
#include "packer/ptime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "packer/settings.h"
#include "support/packerfix.h"
#include "support/proc.h"

namespace {

class Time : public packertest {};

mpct rec(int year, int month, int day, int hour, int minute, int second, int weekday = 0) {
  return mpct{static_cast<uint8_t>(year - 1984), static_cast<uint8_t>(month - 1),
              static_cast<uint8_t>(day - 1),     static_cast<uint8_t>(weekday),
              static_cast<uint8_t>(hour),        static_cast<uint8_t>(minute),
              static_cast<uint8_t>(second)};
}

bool same(const mpct& a, const mpct& b) { return memcmp(&a, &b, sizeof a) == 0; }

TEST_F(Time, ScaleBaseIsFirstOfMarch1984InTheLocalZone) {
  EXPECT_EQ(tm_trec_basediff, 446947200);
  usezone("Europe/Berlin");
  EXPECT_EQ(tm_trec_basediff, 446947200 - 3600);
  EXPECT_EQ(tmbase.tm_year, 70);
  EXPECT_EQ(tmbase.tm_hour, 1);  // calendar time 0 is 01:00 in Berlin
}

TEST_F(Time, FromJulCountsFourSecondTicks) {
  for (const char* zone : {"UTC", "Europe/Berlin"}) {
    usezone(zone);
    EXPECT_EQ(from_jul(trecbase), 0u) << zone;
    EXPECT_EQ(from_jul(rec(1984, 3, 1, 0, 0, 3)), 0u) << zone;
    EXPECT_EQ(from_jul(rec(1984, 3, 1, 0, 0, 4)), 1u) << zone;
    EXPECT_EQ(from_jul(rec(1984, 3, 2, 0, 0, 0)), 21600u) << zone;
    // Out-of-range fields are normalised: 31 April is 1 May.
    EXPECT_EQ(from_jul(rec(2003, 4, 31, 0, 0, 0)), from_jul(rec(2003, 5, 1, 0, 0, 0))) << zone;
  }
}

TEST_F(Time, DaylightSavingChangeCountsRealTime) {
  usezone("Europe/Berlin");
  // 30 March 2003: 02:00 CET became 03:00 CEST, so 01:00 to 03:00 is one hour.
  EXPECT_EQ(from_jul(rec(2003, 3, 30, 3, 0, 0)) - from_jul(rec(2003, 3, 30, 1, 0, 0)), 900u);
  // 26 October 2003: 03:00 CEST became 02:00 CET, so 00:00 to 04:00 is five hours.
  EXPECT_EQ(from_jul(rec(2003, 10, 26, 4, 0, 0)) - from_jul(rec(2003, 10, 26, 0, 0, 0)), 4500u);
  mpct back;
  to_jul(from_jul(rec(2003, 3, 30, 1, 59, 56)) + 1, &back);
  EXPECT_TRUE(same(back, rec(2003, 3, 30, 3, 0, 0, 3)));
}

TEST_F(Time, ToJulReversesFromJulToTheTick) {
  mpct back;
  to_jul(0, &back);
  EXPECT_TRUE(same(back, rec(1984, 3, 1, 0, 0, 0, 0)));
  for (const char* zone : {"UTC", "Europe/Berlin"}) {
    usezone(zone);
    struct {
      mpct in, out;
    } cases[] = {
        {rec(2003, 3, 5, 14, 7, 39), rec(2003, 3, 5, 14, 7, 36, 6)},
        {rec(1999, 12, 31, 23, 59, 59), rec(1999, 12, 31, 23, 59, 56, 1)},
        // Beyond January 2038 the conversion back stays exact.
        {rec(2038, 1, 19, 3, 14, 8), rec(2038, 1, 19, 3, 14, 8, 5)},
        {rec(2107, 7, 1, 12, 0, 0), rec(2107, 7, 1, 12, 0, 0, 1)},
    };
    for (const auto& c : cases) {
      to_jul(from_jul(c.in), &back);
      EXPECT_TRUE(same(back, c.out)) << zone << " year " << 1984 + c.in.year;
    }
  }
}

TEST_F(Time, WeekdaysCountFromThursday) {
  std::tm sunday{};
  sunday.tm_wday = 0;
  sunday.tm_mday = 1;
  sunday.tm_year = 103;
  mpct r;
  timetompc(sunday, &r);
  EXPECT_EQ(r.day, 3);
  std::tm thursday = sunday;
  thursday.tm_wday = 4;
  timetompc(thursday, &r);
  EXPECT_EQ(r.day, 0);

  std::tm t;
  mpctotime(rec(2003, 3, 5, 0, 0, 0, 0), &t);
  EXPECT_EQ(t.tm_wday, 3);
  EXPECT_EQ(from_jul(rec(2003, 3, 5, 10, 0, 0, 0)), from_jul(rec(2003, 3, 5, 10, 0, 0, 6)));
}

TEST_F(Time, DisplayTexts) {
  EXPECT_EQ(std::string(rptbin2asc(21600)), " 2-MAR-84   0:00");
  EXPECT_EQ(std::string(rptbin2asc(21599)), std::string(11, ' ') + "23:59");
  EXPECT_EQ(std::string(rptbin2asc(packedat(2026, 12, 6, 20, 15, 0))), " 6-DEC-26  20:15");
  EXPECT_EQ(std::string(hh_mm_ss(0)), " 0:00");
  EXPECT_EQ(std::string(hh_mm_ss(899)), "59:56");
  EXPECT_EQ(std::string(hh_mm_ss(900)), " 1:00:00");
  EXPECT_EQ(std::string(hh_mm_ss(999999)), "1111:06:36");
  EXPECT_STREQ(mname(0), "JAN");
  EXPECT_STREQ(mname(11), "DEC");
  EXPECT_STREQ(mname(12), "HUH");
  EXPECT_STREQ(mname(-1), "HUH");
}

// One validation: the call's start and duration, the previous call's end
// (0: none yet), and what validation leaves.
struct validcase {
  const char* what;
  int64_t endfromnow;   // ticks
  int64_t prevfromnow;  // ticks; 0: no previous call
  char mark;
  int64_t keptendfromnow;
};

TEST_F(Time, ValidationWindowAndItsBoundaries) {
  const uint32_t now = packedat(2003, 3, 5, 15, 0, 0);
  const validcase cases[] = {
      {"90 minutes ahead", 1350, 0, 0, 1350},
      {"just beyond 90 minutes", 1351, 0, '>', 0},
      {"72 hours back", -64800, 0, 0, -64800},
      {"just beyond 72 hours", -64801, 0, '<', 0},
      {"12 hours before the previous call", -20000, -9200, 0, -20000},
      {"just beyond 12 hours before it", -20001, -9200, '?', -9200},
      {"right now", 0, -5, 0, 0},
  };
  for (const auto& c : cases) {
    prvetime = c.prevfromnow ? static_cast<uint32_t>(now + c.prevfromnow) : 0;
    const uint32_t duration = 10;
    uint32_t end = static_cast<uint32_t>(now + c.endfromnow);
    uint32_t start = validtime(end - duration, duration);
    EXPECT_EQ(pabxerr, c.mark) << c.what;
    EXPECT_EQ(start, static_cast<uint32_t>(now + c.keptendfromnow - duration)) << c.what;
    EXPECT_EQ(prvetime, static_cast<uint32_t>(now + c.keptendfromnow)) << c.what;
    if (c.mark) {
      EXPECT_EQ(errmsg[5], c.mark) << c.what;
    }
  }
}

TEST_F(Time, FirstCallIsComparedWithAReference72HoursBack) {
  // Seen only where 72 hours before now lies before the start of the scale
  // and wraps to its far end: no call can end 12 hours before that.
  setnow(1984, 3, 2, 0, 0, 0);
  const uint32_t now = packedat(1984, 3, 2, 0, 0, 0);
  const uint32_t reference = now - 64800;
  EXPECT_EQ(validtime(now - 20, 10), reference - 10);
  EXPECT_EQ(pabxerr, '?');
  EXPECT_EQ(prvetime, reference);
}

TEST_F(Time, WithoutValidationTheFirstCallIsKeptAsItIs) {
  const uint32_t now = packedat(2003, 3, 5, 15, 0, 0);
  dtvalidate = 0;
  uint32_t start = now - 90000;  // far outside the window
  EXPECT_EQ(validtime(start, 25), start);
  EXPECT_EQ(pabxerr, 0);
  EXPECT_EQ(prvetime, start + 25);
}

TEST_F(Time, SystemTimeEndsTheCallNow) {
  const uint32_t now = packedat(2003, 3, 5, 15, 0, 0);
  systime = 1;
  EXPECT_EQ(validtime(12345, 30), now - 30);
  EXPECT_EQ(pabxerr, 0);
  // Only the comparison with the previous call can still correct it.
  prvetime = now + 20000;
  EXPECT_EQ(validtime(12345, 30), now + 20000 - 30);
  EXPECT_EQ(pabxerr, '?');
}

TEST_F(Time, MarkStaysInTheMessageAfterAGoodCall) {
  const uint32_t now = packedat(2003, 3, 5, 15, 0, 0);
  validtime(now + 5000, 0);
  EXPECT_EQ(pabxerr, '>');
  validtime(now - 10, 0);
  EXPECT_EQ(pabxerr, 0);
  EXPECT_STREQ(errmsg, "PABX > SYSTEM TIME");
}

// The clock's local time is kept for the second it was read in; a new zone
// must not be answered with the old zone's.
TEST_F(Time, ClockReadAgainAfterTheZoneChanged) {
  usezone("UTC");
  getcurtime(realt);
  ASSERT_NE(tm_now, nullptr);
  EXPECT_EQ(tm_now->tm_gmtoff, 0);
  usezone("Asia/Kolkata");
  getcurtime(realt);
  EXPECT_EQ(tm_now->tm_gmtoff, 19800);
  time_t t = secs_now;
  std::tm want;
  localtime_r(&t, &want);
  EXPECT_EQ(realt->hour, want.tm_hour);
  EXPECT_EQ(realt->minute, want.tm_min);
  resettime();
  EXPECT_EQ(tm_now, nullptr);
  getcurtime(realt);
  EXPECT_EQ(tm_now->tm_gmtoff, 19800);
}

// Validation keeps the clock's packed time while a new conversion would give
// the same. Around the autumn change in Berlin one local time has two
// answers, chosen by mktime's memory, which the conversions of the calls
// move; a time in the spring gap has none of its own. A run validating
// against the clock must answer as a run converting the clock each time,
// each in a fresh child, as mktime's memory lives in the process.
TEST_F(Time, ValidationSeesTheClockAsEachConversionWould) {
  const mpct times[] = {rec(2024, 10, 27, 2, 30, 0), rec(2024, 10, 27, 1, 59, 56),
                        rec(2024, 10, 27, 3, 0, 0),  rec(2024, 10, 27, 2, 59, 59),
                        rec(2024, 3, 31, 2, 30, 0),  rec(2024, 3, 31, 1, 59, 59),
                        rec(2024, 6, 1, 12, 0, 0)};
  enum step { setclock, convert, validate };
  struct op {
    step what;
    mpct at;
  };
  std::mt19937 gen(11);
  std::vector<op> ops;
  for (int i = 0; i < 4000; ++i)
    ops.push_back({static_cast<step>(gen() % 3), times[gen() % std::size(times)]});

  auto run = [&](bool byvalidation) {
    return inchild([&] {
      usezone("Europe/Berlin");
      systime = 1;  // the call ends now: validtime answers the clock's time
      dtvalidate = 0;
      std::string out;
      for (const op& o : ops) {
        if (o.what == setclock) real_time_rec = o.at;
        if (o.what == convert) out += "c " + std::to_string(from_jul(o.at)) + "\n";
        if (o.what == validate)
          out += "v " + std::to_string(byvalidation ? validtime(0, 0) : from_jul(real_time_rec)) +
                 "\n";
      }
      return out;
    });
  };
  const std::string converted = run(false);
  // Both answers of 02:30 in the repeated hour are seen, so the memory did
  // move: 1804 and 5404 seconds after 01:59:56 in summer time.
  usezone("Europe/Berlin");
  const uint32_t before = packedat(2024, 10, 27, 1, 59, 56);
  EXPECT_NE(converted.find("v " + std::to_string(before + 451) + "\n"), std::string::npos);
  EXPECT_NE(converted.find("v " + std::to_string(before + 1351) + "\n"), std::string::npos);
  EXPECT_EQ(run(true), converted);
}

// from_jul and to_jul answer times in the hours they converted last
// without asking the hour cache again; with the time traces on (-t) every
// conversion goes the whole way. The answers must not tell the two apart,
// around changes of offset and in the repeated hour most of all.
TEST_F(Time, RememberedHoursGiveTheAnswersOfTheWholeWay) {
  struct day {
    int year, month, date;
  };
  // Changes of offset in Berlin, Lord Howe (half an hour), St John's, and a
  // day without one.
  const day days[] = {{2024, 3, 31}, {2024, 10, 27}, {2024, 4, 7}, {2024, 10, 6},
                      {2024, 3, 10}, {2024, 11, 3},  {2024, 6, 15}};
  std::mt19937 gen(5);
  auto pick = [&](unsigned n) { return static_cast<int>(gen() % n); };
  struct op {
    bool tojul;
    mpct at;
    int shift;  // to_jul of from_jul(at) plus this many ticks
  };
  std::vector<op> ops;
  while (ops.size() < 6000) {
    const day& d = days[pick(std::size(days))];
    mpct at = rec(d.year, d.month, d.date, pick(6), pick(60), pick(60));
    if (pick(10) == 0) at.minute = static_cast<uint8_t>(pick(256));
    if (pick(10) == 0) at.second = static_cast<uint8_t>(pick(256));
    // Runs in one hour, as a record's times and the records after it come.
    for (int run = 1 + pick(8); run > 0; --run) {
      ops.push_back({pick(3) == 0, at, pick(2000) - 1000});
      // The edges of the hours: to_jul of their first and last seconds.
      if (pick(4) == 0) {
        static const int edges[] = {-900, -1, 0, 1, 899, 900, 901};
        mpct top = at;
        top.minute = top.second = 0;
        ops.push_back({true, top, edges[pick(std::size(edges))]});
      }
      at.minute = static_cast<uint8_t>(pick(60));
      at.second = static_cast<uint8_t>(pick(60));
    }
  }
  for (const char* zone : {"Europe/Berlin", "Australia/Lord_Howe", "America/St_Johns"}) {
    auto run = [&](bool traced) {
      return inchild([&] {
        usezone(zone);
        dodumpt = traced;
        if (!freopen("/dev/null", "w", stderr)) abort();  // fails the test
        std::string out;
        for (const op& o : ops) {
          uint32_t packed = from_jul(o.at);
          if (!o.tojul) {
            out += std::to_string(packed) + "\n";
            continue;
          }
          mpct back;
          to_jul(packed + static_cast<uint32_t>(o.shift), &back);
          for (uint8_t field :
               {back.year, back.month, back.date, back.day, back.hour, back.minute, back.second})
            out += std::to_string(field) + " ";
          out += "\n";
        }
        return out;
      });
    };
    const std::string whole = run(true);
    EXPECT_EQ(occurrences(whole, "\n"), static_cast<int>(ops.size())) << zone;
    const std::string remembered = run(false);
    size_t differ =
        std::mismatch(whole.begin(), whole.end(), remembered.begin(), remembered.end()).first -
        whole.begin();
    EXPECT_EQ(remembered.size(), whole.size()) << zone;
    EXPECT_EQ(differ, whole.size()) << zone << ": first differs in conversion "
                                    << std::count(whole.begin(), whole.begin() + differ, '\n');
  }
}

TEST(TimeZone, UnsetZoneIsFixedToTheSystemFile) {
  unsetenv("TZ");
  settimescale();
  ASSERT_NE(getenv("TZ"), nullptr);
  EXPECT_STREQ(getenv("TZ"), ":/etc/localtime");
  setenv("TZ", "UTC", 1);
  settimescale();
  EXPECT_STREQ(getenv("TZ"), "UTC");
}

}  // namespace
