// Line noise before a good record, of every length up to more than the
// record buffer holds: whatever the noise, each build stores the record,
// once.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/builds.h"
#include "support/tmpdir.h"

namespace {

constexpr int longest = 400;

// The noise of n bytes of each kind, for a stream whose records end in
// `end`: letters; an end byte then letters (a fragment dropped, then a new
// start); letters then an end byte (dropped when early, a rejected record
// when not); the text of a record cut short, over and over.
std::string noise(int kind, int n, char end, const std::string& record) {
  if (n == 0) return "";
  switch (kind) {
    case 0: return std::string(n, 'x');
    case 1: return end + std::string(n - 1, 'x');
    case 2: return std::string(n - 1, 'x') + end;
    default: {
      std::string cut;
      while (cut.size() < static_cast<size_t>(n)) cut += record.substr(0, record.size() - 1);
      return cut.substr(0, n);
    }
  }
}

class NoiseBeforeARecord : public ::testing::TestWithParam<packerbuild> {};

TEST_P(NoiseBeforeARecord, TheRecordIsStoredOnce) {
  const packerbuild& b = GetParam();
  const char end = b.format == recordformat::neax ? '\x03' : '\n';
  std::string input, expected;
  int call = 0;
  for (int kind = 0; kind < 4; ++kind)
    for (int n = 0; n <= longest; ++n, ++call) {
      input += noise(kind, n, end, bulkcall(b.format, 899999 - call)) + bulkcall(b.format, call);
      expected += bulkline(b.format, call);
    }
  tmpdir dir;
  writefile(dir.file("in"), input);
  procresult r = runproc(packer(b.bin, {"-v", "-M", "-i", dir.file("in"), "-o", dir.path()}));
  ASSERT_TRUE(r.exited && r.code == 0) << describe(r);
  const std::string y = "20" + thisyear();
  const std::string stored =
      readfile(dir.path() + "/01_" + y + "/01_01_" + y + "/01_01_" + y + ":10");
  EXPECT_TRUE(stored == expected) << stored.size() << " bytes stored, " << expected.size()
                                  << " expected";
  // The records taken: the calls, and letters ended by an end byte at or
  // past the lowest index that ends a record, each rejected.
  const int petx = b.format == recordformat::neax ? 130 : 134, rejected = longest - petx;
  const std::string stats = r.err.substr(0, r.err.rfind("my_exit: errcode"));
  static const std::regex counts("Rec: ([0-9]+) +Rej: ([0-9]+) ");
  std::smatch last;
  for (std::sregex_iterator it(stats.begin(), stats.end(), counts), none; it != none; ++it)
    last = *it;
  ASSERT_FALSE(last.empty()) << r.err;
  EXPECT_EQ(std::stoi(last[1].str()), call + rejected);
  EXPECT_EQ(std::stoi(last[2].str()), rejected);
}

INSTANTIATE_TEST_SUITE_P(Builds, NoiseBeforeARecord, ::testing::ValuesIn(allbuilds), buildname);

}  // namespace
