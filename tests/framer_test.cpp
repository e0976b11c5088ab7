// Framing the byte stream into records, the raw data log and the dump.
#include "packer/framer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

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

TEST_F(Framer, AFullBufferKeepsItsNewest255Bytes) {
  feed(rep(256, 'a') + rep(140, 'b') + "\x03");
  EXPECT_EQ(getraw_etx(in, rawbuf, neax), 256);
  EXPECT_EQ(inpptr, 255);
  EXPECT_EQ(buffer(0, 115), rep(115, 'a'));
  EXPECT_EQ(buffer(115, 255), rep(140, 'b'));
}

struct endofinput {};
[[noreturn]] void atend() { throw endofinput{}; }

// Noise of every length up to 400 bytes before a record of the length the
// modules take and of the longest the buffer holds, both ways of framing:
// the last frame is the record, whole; an end byte in the noise makes a
// frame of its own only at an index where it ends a record.
TEST_F(Framer, ARecordAfterNoiseOfAnyLengthIsFramedWhole) {
  // Every frame of the stream, to its end.
  auto framesof = [this](const std::string& stream, const framing& f, int traced) {
    feed(stream);
    in.setend(atend);
    doXdebug = traced;
    testing::internal::CaptureStderr();
    std::vector<std::string> got;
    try {
      for (;;) {
        getraw_etx(in, rawbuf, f);
        got.push_back(buffer(0, inpptr + 1));
      }
    } catch (const endofinput&) {
    }
    testing::internal::GetCapturedStderr();
    doXdebug = 0;
    in.close();
    return got;
  };
  // Each kind of noise, n bytes of it, and how many frames it and the
  // record make: letters; an end byte, then letters; letters, then an end
  // byte; none at all, for n = 1.
  const int kinds = 4;
  auto noise = [](int kind, int n, char end, int petx) -> std::pair<std::string, int> {
    switch (kind) {
      case 0: return {rep(n, 'x'), 1};
      case 1: return {end + rep(n - 1, 'x'), 1};
      case 2: return {rep(n - 1, 'x') + end, n - 1 >= petx ? 2 : 1};
      default: return {rep(n - 1, 'x'), 1};
    }
  };
  for (const framing& f : {neax, md110}) {
    const char end = static_cast<char>(f.etx);
    for (int length : {f.petx + 2, 256}) {
      std::string record;
      for (int i = 0; i < length - 1; ++i) record += static_cast<char>('0' + i % 64);
      record += end;
      for (int kind = 0; kind < kinds; ++kind) {
        // Each record starts a new frame: one stream holds every length.
        std::string stream;
        std::vector<bool> isrecord;  // of each frame expected
        for (int n = 1; n <= 400; ++n) {
          auto [bytes, frames] = noise(kind, n, end, f.petx);
          stream += bytes + record;
          isrecord.insert(isrecord.end(), frames - 1, false);
          isrecord.push_back(true);
        }
        // The byte loop traces every byte: once is enough.
        for (int traced = 0; traced < (length == 256 ? 1 : 2); ++traced) {
          std::vector<std::string> got = framesof(stream, f, traced);
          SCOPED_TRACE(testing::Message() << "end " << int{f.etx} << ", record of " << length
                                          << ", noise " << kind << ", traced " << traced);
          ASSERT_EQ(got.size(), isrecord.size());
          for (size_t i = 0; i < got.size(); ++i) {
            bool whole = got[i].size() >= record.size() &&
                         got[i].compare(got[i].size() - record.size(), record.size(), record) == 0;
            EXPECT_EQ(whole, isrecord[i]) << "frame " << i;
          }
        }
      }
    }
  }
}

TEST_F(Framer, ByteFFIsData) {
  feed(rep(130, '\xff') + "\x03");
  EXPECT_EQ(getraw_etx(in, rawbuf, neax), 131);
  EXPECT_EQ(rawbuf[0], 0xff);
}

// A stream of n bytes, mostly two letters, with the end byte now and then
// (often too early, sometimes after more than 256 bytes), line feeds and
// 0xff; ended by an end byte and a record of 200 'z', the last frame.
std::string randomstream(unsigned seed, size_t n, char end) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> pick(0, 999);
  std::string s;
  int quiet = 0;  // bytes until the end byte may come again
  while (s.size() < n) {
    int r = pick(gen);
    if (quiet == 0 && r < 8) {
      s += end;
      quiet = pick(gen) < 100 ? 400 : 0;
    } else {
      s += r < 12 ? '\n' : r < 15 ? '\xff' : r < 500 ? 'a' : 'b';
      if (quiet > 0) --quiet;
    }
  }
  return s + end + std::string(200, 'z') + end;
}

struct frame {
  int length, last;
  std::string buffer;  // all 256 bytes
  bool operator==(const frame&) const = default;
};

// Every frame of the stream until the 'z' record, and the raw log.
std::vector<frame> frames(inputstream& in, const framing& f, std::string* log) {
  std::vector<frame> got;
  do {
    int length = getraw_etx(in, rawbuf, f);
    in.flushlog();
    got.push_back({length, inpptr, {}});
    got.back().buffer.assign(reinterpret_cast<char*>(rawbuf), 256);
  } while (rawbuf[inpptr - 1] != 'z');
  closerawlog();
  *log = readfile(rawfile);
  return got;
}

TEST_F(Framer, ScanningABufferAtATimeFramesAsTheByteLoop) {
  for (const framing& f : {neax, md110}) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
      std::string stream = randomstream(seed, 60000, static_cast<char>(f.etx));
      writefile(dir.file("in"), stream);
      dolograw = 1;
      rawfile = rawname.c_str();
      std::string scannedlog, tracedlog;
      memset(rawbuf, 0, sizeof rawbuf);
      in.attach(open(dir.file("in").c_str(), O_RDONLY));
      testing::internal::CaptureStderr();  // the log's message
      std::vector<frame> scanned = frames(in, f, &scannedlog);
      testing::internal::GetCapturedStderr();
      in.close();
      unlink(rawname.c_str());

      memset(rawbuf, 0, sizeof rawbuf);
      in.attach(open(dir.file("in").c_str(), O_RDONLY));
      doXdebug = 1;  // the byte loop, which traces each byte
      testing::internal::CaptureStderr();
      std::vector<frame> traced = frames(in, f, &tracedlog);
      testing::internal::GetCapturedStderr();
      doXdebug = 0;
      in.close();
      unlink(rawname.c_str());

      EXPECT_GT(scanned.size(), 50u) << "seed " << seed;
      EXPECT_TRUE(scanned == traced) << "seed " << seed << ", end byte " << int{f.etx};
      EXPECT_EQ(scannedlog, stream) << "seed " << seed;
      EXPECT_EQ(tracedlog, stream) << "seed " << seed;
    }
  }
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
