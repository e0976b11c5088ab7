// The walk of the store tree: names, time order, the period's bounds, and
// hour files that lost their place.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cdr/storewalk.h"
#include "support/cdrstore.h"
#include "support/tmpdir.h"

namespace {

TEST(CdrWalk, NamesAreReadStrictly) {
  hourkey k;
  EXPECT_TRUE(parsehourname("05_03_2003:14", &k));
  EXPECT_EQ(k, (hourkey{2003, 3, 5, 14}));
  EXPECT_TRUE(parsehourname("29_02_2024:00", &k));
  for (const char* bad : {"29_02_2023:00", "05_03_2003:24", "5_03_2003:14", "05_03_2003:14~",
                          "05-03-2003:14", "05_13_2003:14", "00_03_2003:14"})
    EXPECT_FALSE(parsehourname(bad, &k)) << bad;
  EXPECT_TRUE(parsedayname("31_12_1999", &k));
  EXPECT_EQ(k, (hourkey{1999, 12, 31, -1}));
  EXPECT_FALSE(parsedayname("31_11_1999", &k));
  EXPECT_TRUE(parsemonthname("12_1999", &k));
  EXPECT_FALSE(parsemonthname("13_1999", &k));
  EXPECT_EQ(hourpath({2003, 3, 5, 14}), "03_2003/05_03_2003/05_03_2003:14");
}

struct seen {
  std::string rel;
  placement where;
};

std::vector<seen> walk(const std::string& root, hourkey lo = firsthour, hourkey hi = lasthour) {
  std::vector<seen> v;
  walkstore(
      root, lo, hi,
      [&](const hourfile& f) {
        v.push_back({f.path.substr(root.size() + 1), f.where});
      },
      [](const std::string& path, int err) { ADD_FAILURE() << path << " errno " << err; });
  return v;
}

TEST(CdrWalk, HoursComeInTimeOrderWithMisplacedFilesBesideTheirHour) {
  tmpdir d;
  for (const char* rel :
       {"03_2024/05_03_2024/05_03_2024:14", "03_2024/05_03_2024/05_03_2024:09",
        "02_2024/29_02_2024/29_02_2024:23", "03_2024/05_03_2024:10", "06_03_2024/06_03_2024:08",
        "05_03_2024:11", "03_2024/05_03_2024/06_03_2024:07", "02_2024/01_03_2024/01_03_2024:12",
        "03_2024/notes.txt", "03_2024/05_03_2024/05_03_2024:14.bak", "lost+found/x"})
    addtostore(d.path(), rel, ":1|2||010100000000||||00\n");
  std::vector<seen> v = walk(d.path());
  std::vector<std::string> order;
  for (const seen& s : v) order.push_back(s.rel);
  EXPECT_EQ(order, (std::vector<std::string>{
                       "02_2024/29_02_2024/29_02_2024:23",
                       "02_2024/01_03_2024/01_03_2024:12",
                       "03_2024/05_03_2024/05_03_2024:09",
                       "03_2024/05_03_2024:10",
                       "05_03_2024:11",
                       "03_2024/05_03_2024/05_03_2024:14",
                       "03_2024/05_03_2024/06_03_2024:07",
                       "06_03_2024/06_03_2024:08",
                   }));
  ASSERT_EQ(v.size(), 8u);
  EXPECT_EQ(v[0].where, placement::proper);
  EXPECT_EQ(v[1].where, placement::wrongmonth);
  EXPECT_EQ(v[2].where, placement::proper);
  EXPECT_EQ(v[3].where, placement::noday);
  EXPECT_EQ(v[4].where, placement::bare);
  EXPECT_EQ(v[6].where, placement::wrongday);
  EXPECT_EQ(v[7].where, placement::nomonth);
}

TEST(CdrWalk, OnlyHoursOfThePeriodAreVisited) {
  tmpdir d;
  for (int day = 1; day <= 3; ++day)
    for (int hour : {0, 12, 23}) addtostore(d.path(), hourfilepath(2024, 3, day, hour), "");
  addtostore(d.path(), hourfilepath(2024, 4, 1, 0), "");
  std::vector<seen> v = walk(d.path(), {2024, 3, 1, 12}, {2024, 3, 2, 12});
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v.front().rel, hourfilepath(2024, 3, 1, 12));
  EXPECT_EQ(v.back().rel, hourfilepath(2024, 3, 2, 12));
  EXPECT_EQ(walk(d.path(), {2024, 4, 1, 0}, lasthour).size(), 1u);
}

TEST(CdrWalk, AnUnreadableStoreIsReported) {
  int errors = 0;
  walkstore(
      "/nonexistent-store", firsthour, lasthour, [](const hourfile&) {},
      [&](const std::string&, int) { ++errors; });
  EXPECT_EQ(errors, 1);
}

}  // namespace
