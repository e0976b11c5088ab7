// from_jul, to_jul and the clock's validation against the plain way: each
// record converted by the C library's mktime and the packed scale's
// arithmetic in floating point, each packed time by localtime_r, as they
// were before any memo. The memos answer by hour,
// state of mktime's memory and integer ticks; a sequence crossing zones,
// summer time changes, hours of odd offsets and times before the scale's
// base must get the plain answers one by one. mktime's memory lives in the
// process, so each way runs in a fresh child.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "packer/ptime.h"
#include "packer/settings.h"
#include "support/packerfix.h"
#include "support/proc.h"

namespace {

// Summer time in this one is 30 minutes and 30 seconds ahead: its hours
// lie two seconds off the four-second ticks of winter.
const char* const zones[] = {"Europe/Berlin", "ODD-1ODS-1:30:30,M3.5.0,M10.5.0/3", "UTC"};

enum step { zone, setclock, convert, validate, back };
struct op {
  step what;
  mpct at;
  int zoneno = 0;
};

mpct rec(int year, int month, int day, int hour, int minute, int second) {
  return mpct{static_cast<uint8_t>(year - 1984), static_cast<uint8_t>(month - 1),
              static_cast<uint8_t>(day - 1),     static_cast<uint8_t>((year + month) % 7),
              static_cast<uint8_t>(hour),        static_cast<uint8_t>(minute),
              static_cast<uint8_t>(second)};
}

std::vector<op> sequence(unsigned seed) {
  // Hours around both changes of 2024, ordinary ones, the scale's first
  // hours and the two months before it, which lie before the base.
  const mpct hours[] = {
      rec(2024, 3, 31, 1, 0, 0),  rec(2024, 3, 31, 2, 0, 0),  rec(2024, 3, 31, 3, 0, 0),
      rec(2024, 10, 27, 1, 0, 0), rec(2024, 10, 27, 2, 0, 0), rec(2024, 10, 27, 3, 0, 0),
      rec(2026, 12, 8, 11, 0, 0), rec(2026, 7, 1, 23, 0, 0),  rec(1984, 3, 1, 0, 0, 0),
      rec(1984, 1, 15, 6, 0, 0),  rec(2003, 2, 31, 10, 0, 0)};
  std::mt19937 gen(seed);
  std::vector<op> ops;
  // Records come in runs from the same two hours, as the memos expect.
  size_t near = 0;
  for (int i = 0; i < 6000; ++i) {
    if (gen() % 16 == 0) near = gen() % std::size(hours);
    int kind = gen() % 64 == 0 ? zone : static_cast<int>(1 + gen() % 4);
    op o{static_cast<step>(kind), hours[(near + gen() % 2) % std::size(hours)]};
    o.zoneno = static_cast<int>(gen() % std::size(zones));
    // Mostly proper minutes and seconds; now and then up to 99, as two
    // digits of a damaged record give.
    bool damaged = gen() % 16 == 0;
    o.at.minute = static_cast<uint8_t>(gen() % (damaged ? 100 : 60));
    o.at.second = static_cast<uint8_t>(gen() % (damaged ? 100 : 60));
    ops.push_back(o);
  }
  return ops;
}

// The packed time of rec as the library and packsecs' arithmetic give it.
uint32_t plainticks(const mpct& rec, time_t basesecs) {
  std::tm t;
  mpctotime(rec, &t);
  time_t secs = mktime(&t);
  double dbltime = difftime(secs, basesecs);
  return static_cast<uint32_t>(
      static_cast<int64_t>((dbltime - static_cast<double>(tm_trec_basediff)) / 4.0));
}

// The time record of the packed time `ticks`, the plain way: the library's
// local time.
mpct plainrecord(uint32_t ticks) {
  time_t secs = static_cast<time_t>(ticks) * 4 + tm_trec_basediff;
  std::tm t;
  if (!localtime_r(&secs, &t)) t = tmbase;
  mpct rec;
  timetompc(t, &rec);
  return rec;
}

std::string show(const mpct& r) {
  char text[64];
  snprintf(text, sizeof text, "%d-%d-%d %d %d:%d:%d", r.year, r.month, r.date, r.day, r.hour,
           r.minute, r.second);
  return text;
}

// One line per conversion or validation, through the packer or the plain way.
std::string run(const std::vector<op>& ops, bool packer) {
  return inchild([&] {
    systime = 1;  // the call ends now: validtime answers the clock's time
    dtvalidate = 0;
    time_t basesecs = 0;
    auto setzone = [&](int zoneno) {
      usezone(zones[zoneno]);
      // As the scale was fixed: the same request again, the same answer.
      time_t zero = 0;
      std::tm t;
      localtime_r(&zero, &t);
      basesecs = mktime(&t);
    };
    setzone(0);
    std::string out;
    for (const op& o : ops) {
      if (o.what == zone) setzone(o.zoneno);
      if (o.what == setclock) real_time_rec = o.at;
      if (o.what == convert)
        out += "c " + std::to_string(packer ? from_jul(o.at) : plainticks(o.at, basesecs)) + "\n";
      if (o.what == back) {
        // Back from times up to 53 minutes either side of the record's, in
        // and out of the hour to_jul's memo holds. (mktime is asked through
        // the cache only, where the cache is used.)
        uint32_t asked = packer ? from_jul(o.at) : plainticks(o.at, basesecs);
        uint32_t ticks = asked + o.at.second * 16u - 800u;
        mpct rec;
        if (packer) to_jul(ticks, &rec);
        out += "b " + show(packer ? rec : plainrecord(ticks)) + "\n";
      }
      if (o.what == validate)
        out += "v " +
               std::to_string(packer ? validtime(0, 0) : plainticks(real_time_rec, basesecs)) +
               "\n";
    }
    return out;
  });
}

TEST(FromJul, AnswersAsTheLibraryAndFloatingPointDoEveryTime) {
  for (unsigned seed = 1; seed <= 3; ++seed) {
    std::vector<op> ops = sequence(seed);
    const std::string plain = run(ops, false);
    const std::string packer = run(ops, true);
    ASSERT_FALSE(plain.empty());
    // Compared line by line, so that a failure names the step.
    size_t at = 0, n = 0;
    while (at < plain.size()) {
      size_t end = plain.find('\n', at);
      ASSERT_EQ(packer.substr(at, end - at), plain.substr(at, end - at))
          << "seed " << seed << ", answer " << n;
      at = end + 1;
      ++n;
    }
    EXPECT_EQ(packer.size(), plain.size());
  }
}

// The scale's ticks before its base wrap around as unsigned numbers; in the
// odd zone's summer an hour starts two seconds into a tick.
TEST(FromJul, EdgesOfTheTickArithmetic) {
  std::string out = inchild([] {
    std::string text;
    usezone("UTC");
    for (int pass = 0; pass < 3; ++pass)  // the last from the memo
      text += std::to_string(from_jul(rec(1984, 2, 29, 23, 59, 59))) + " ";
    usezone(zones[1]);
    for (int pass = 0; pass < 3; ++pass)
      text += std::to_string(from_jul(rec(2024, 7, 1, 12, 0, 2)) -
                             from_jul(rec(2024, 7, 1, 12, 0, 1))) +
              " ";
    return text;
  });
  // One second before the base: tick -0.25, truncated to 0.
  // 12:00:01 and 12:00:02 in summer: 1831 and 1832 seconds after a whole
  // hour of winter, in consecutive ticks.
  EXPECT_EQ(out, "0 0 0 1 1 1 ");
}

}  // namespace
