// Framing the byte stream into records, the raw data log and the dump.
#include "packer/framer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "packer/rawin.h"
#include "packer/settings.h"
#include "support/packerfix.h"
#include "support/tmpdir.h"

namespace {

const framing neax = {0, 0x03, 130, 0, 0, 0, 0};
const framing md110 = {0, 0x0A, 134, 0, 0, 0, 0};

class Framer : public packertest {
 protected:
  tmpdir dir;
  inputstream in;
  std::string rawname;

  void SetUp() override {
    packertest::SetUp();
    rawname = dir.file("raw");
  }
  void TearDown() override {
    in.close();
    closerawlog();
  }
  void feed(const std::string& bytes) {
    writefile(dir.file("in"), bytes);
    in.attach(open(dir.file("in").c_str(), O_RDONLY));
  }
  std::string buffer(int from, int to) {
    return std::string(reinterpret_cast<const char*>(rawbuf) + from, to - from);
  }
};

std::string rep(int n, char c) { return std::string(n, c); }

TEST_F(Framer, EarlyEtxRestartsTheRecord) {
  feed(rep(129, 'x') + "\x03" + rep(130, 'y') + "\x03" + rep(131, 'z') + "\x03");
  EXPECT_EQ(getraw_etx(in, rawbuf, neax), 131);
  EXPECT_EQ(inpptr, 130);
  EXPECT_EQ(buffer(0, 130), rep(130, 'y'));
  EXPECT_EQ(getraw_etx(in, rawbuf, neax), 132);
  EXPECT_EQ(inpptr, 131);
}

TEST_F(Framer, EtxAtEveryEarlyIndexIsDropped) {
  std::string stream;
  for (int i = 0; i < 130; ++i) stream += rep(i, 'n') + "\x03";
  feed(stream + rep(130, 'r') + "\x03");
  doXdebug = 1;
  testing::internal::CaptureStderr();
  EXPECT_EQ(getraw_etx(in, rawbuf, neax), 131);
  std::string err = testing::internal::GetCapturedStderr();
  size_t count = 0;
  for (size_t p = 0; (p = err.find(" - ETX before expected", p)) != std::string::npos; ++p) ++count;
  EXPECT_EQ(count, 130u);
}

TEST_F(Framer, LineFeedFramingKeepsLinesOf134OrMore) {
  feed(rep(100, 'a') + "\n" + rep(133, 'b') + "\n" + rep(134, 'c') + "\n");
  EXPECT_EQ(getraw_etx(in, rawbuf, md110), 135);
  EXPECT_EQ(buffer(0, 134), rep(134, 'c'));
}

TEST_F(Framer, PositionWrapsAfter256BytesWithoutAMarker) {
  feed(rep(256, 'a') + rep(140, 'b') + "\x03");
  EXPECT_EQ(getraw_etx(in, rawbuf, neax), 141);
  EXPECT_EQ(buffer(0, 140), rep(140, 'b'));
  EXPECT_EQ(buffer(141, 256), rep(115, 'a'));
}

TEST_F(Framer, ByteFFIsData) {
  feed(rep(130, '\xff') + "\x03");
  EXPECT_EQ(getraw_etx(in, rawbuf, neax), 131);
  EXPECT_EQ(rawbuf[0], 0xff);
}

TEST_F(Framer, EndOfInputEndsTheProgramWithCodeZero) {
  feed(rep(131, 'r') + "\x03" + rep(20, 's'));
  EXPECT_EQ(getraw_etx(in, rawbuf, neax), 132);
  EXPECT_EXIT(getraw_etx(in, rawbuf, neax), testing::ExitedWithCode(0), "my_exit: errcode = 0");
}

TEST_F(Framer, StartByteModeCountsFromTheStartByte) {
  const framing stx = {1, 0x02, 0, 0x02, 5, 0, 0};
  feed(
      "xyz\x02"
      "a\x02"
      "cd");
  EXPECT_EQ(getraw_stx(in, rawbuf, stx), 5);
  EXPECT_EQ(inpptr, 4);
  EXPECT_EQ(buffer(0, 5),
            "\x02"
            "a\x02"
            "cd");
}

TEST_F(Framer, StartByteModeDropsARecordOutOfSync) {
  const framing stx = {1, 0x02, 0, 0x02, 4, 2, 'S'};
  // The start byte inside the dropped record is not taken up again.
  feed(
      "\x02"
      "aX\x02"
      "q\x02"
      "cSd");
  EXPECT_EQ(getraw_stx(in, rawbuf, stx), 4);
  EXPECT_EQ(buffer(0, 4),
            "\x02"
            "cSd");
}

TEST_F(Framer, StartByteModeReportsABufferWrap) {
  const framing stx = {1, 0x02, 0, 0x02, 3, 0, 0};
  feed(rep(300, 'n') +
       "\x02"
       "ab");
  testing::internal::CaptureStderr();
  EXPECT_EQ(getraw_stx(in, rawbuf, stx), 3);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), " [BUFFER WRAP] ");
}

TEST_F(Framer, DumpShowsPrintableBytesUpToTheMarker) {
  rawbuf[0] = 'A';
  rawbuf[1] = 'B';
  rawbuf[2] = 0x7e;
  rawbuf[3] = 0x03;
  testing::internal::CaptureStderr();
  dumpasc(rawbuf, 0x03);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), rep(78, '-').insert(0, 1, '\n') + "\nAB.\n");
  for (int i = 0; i < 256; ++i) rawbuf[i] = i == 0x03 ? ' ' : static_cast<uint8_t>(i);
  testing::internal::CaptureStderr();
  dumpasc(rawbuf, 0x03);
  std::string shown = testing::internal::GetCapturedStderr();
  EXPECT_EQ(shown.size(), 1 + 78 + 1 + 256 + 1u);
  EXPECT_EQ(shown.substr(80 + 0x20, 3), " !\"");
  EXPECT_EQ(shown.substr(80 + 0x7d, 3), "}..");
}

TEST_F(Framer, RawLogHoldsTheBytesTakenWhileLoggingIsOn) {
  std::string r1 = "noise" + rep(130, '1') + "\x03", r2 = rep(130, '2') + "\x03",
              r3 = rep(131, '3') + "\x03";
  feed(r1 + r2 + r3 + "tail");
  rawfile = rawname.c_str();
  dolograw = 1;
  testing::internal::CaptureStderr();
  getraw_etx(in, rawbuf, neax);
  ASSERT_TRUE(in.synclog());
  dolograw = 0;
  getraw_etx(in, rawbuf, neax);
  ASSERT_TRUE(in.synclog());
  dolograw = 1;
  getraw_etx(in, rawbuf, neax);
  ASSERT_TRUE(in.synclog());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Opened raw data file " + rawname + "\n");
  EXPECT_EQ(readfile(rawname), r1 + r3);
}

TEST_F(Framer, RawLogAppendsToAnEarlierLog) {
  writefile(rawname, "before|");
  feed(rep(130, 'r') + "\x03");
  rawfile = rawname.c_str();
  dolograw = 1;
  testing::internal::CaptureStderr();
  getraw_etx(in, rawbuf, neax);
  ASSERT_TRUE(in.synclog());
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(readfile(rawname), "before|" + rep(130, 'r') + "\x03");
}

TEST_F(Framer, ExtraDebugTracesEachByteBeforeItsLogMessage) {
  feed(rep(130, 'A') + "\x03");
  rawfile = rawname.c_str();
  dolograw = doXdebug = 1;
  testing::internal::CaptureStderr();
  getraw_etx(in, rawbuf, neax);
  std::string err = testing::internal::GetCapturedStderr();
  const std::string want = " 41Opened raw data file " + rawname + "\n 41 41";
  EXPECT_EQ(err.substr(0, want.size()), want);
  EXPECT_EQ(readfile(rawname), rep(130, 'A') + "\x03");
}

TEST_F(Framer, UnwritableRawLogIsReported) {
  feed(rep(130, 'A') + "\x03");
  std::string bad = dir.file("no/such/dir/raw");
  rawfile = bad.c_str();
  dolograw = 1;
  getraw_etx(in, rawbuf, neax);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(in.synclog());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Can't open raw output file " + bad + "  errno=2\n");
}

}  // namespace
