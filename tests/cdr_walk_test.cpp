// The walk of the store tree: names, time order, the period's bounds, and
// hour files that lost their place.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
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

// The files visited; the strays met, as "path: what", go to *strays.
std::vector<seen> walk(const std::string& root, hourkey lo = firsthour, hourkey hi = lasthour,
                       std::vector<std::string>* strays = nullptr) {
  std::vector<seen> v;
  walkstore(
      root, lo, hi,
      [&](const hourfile& f) {
        v.push_back({f.path.substr(root.size() + 1), f.where});
      },
      [](const std::string& path, int err) { ADD_FAILURE() << path << " errno " << err; },
      [&](const std::string& path, const char* what) {
        if (strays) strays->push_back(path.substr(root.size() + 1) + ": " + what);
      });
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

// The packer makes month and day directories and hour files, nothing
// else: whatever else a store holds is named, never read.
TEST(CdrWalk, EverythingElseIsAStray) {
  tmpdir d;
  const std::string day = "03_2026/05_03_2026/";
  addtostore(d.path(), day + "05_03_2026:10", ":1|2||050326100000||||01\n");
  for (const char* near : {"31_02_1999:12", "05_03_2026:24", "05_03_2026:5", "5_03_2026:07",
                           "05_03_2026:10.bak", "05_03_2026"})
    addtostore(d.path(), day + near, ":1|2||050326100000||||01\n");
  addtostore(d.path(), "03_2026/notes.txt", "");
  addtostore(d.path(), "03_2026/5_03_2026/05_03_2026:10", "");
  addtostore(d.path(), "lost+found/x", "");
  addtostore(d.path(), "2026/x", "");
  addtostore(d.path(), "03_2026:10", "");
  std::filesystem::create_directories(d.file(day + "05_03_2026:11"));
  ASSERT_EQ(mkfifo(d.file(day + "05_03_2026:12").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", d.file(day + "05_03_2026:13"));
  // A link to an hour file is read as one.
  std::filesystem::create_symlink(d.file(day + "05_03_2026:10"), d.file(day + "05_03_2026:14"));
  std::vector<std::string> strays;
  std::vector<seen> v = walk(d.path(), firsthour, lasthour, &strays);
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[1].rel, day + "05_03_2026:14");
  EXPECT_EQ(strays, (std::vector<std::string>{
                        "03_2026:10: not an hour file",
                        "2026: not a month or day directory",
                        "lost+found: not a month or day directory",
                        day + "05_03_2026: not an hour file",
                        day + "05_03_2026:10.bak: not an hour file",
                        day + "05_03_2026:11: a directory in a day directory",
                        day + "05_03_2026:12: a FIFO, not a regular file",
                        day + "05_03_2026:13: a character device, not a regular file",
                        day + "05_03_2026:24: not an hour file",
                        day + "05_03_2026:5: not an hour file",
                        day + "31_02_1999:12: not an hour file",
                        day + "5_03_2026:07: not an hour file",
                        "03_2026/5_03_2026: not a day directory",
                        "03_2026/notes.txt: not an hour file",
                    }));
  // Only the directories the period reaches are looked into.
  strays.clear();
  walk(d.path(), {2026, 4, 1, 0}, lasthour, &strays);
  EXPECT_EQ(strays.size(), 3u);
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
