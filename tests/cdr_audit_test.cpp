// pktav-cdr audit: a sound store passes; each kind of fault planted in a
// store is found; a raw log replayed through the packer is reconciled with
// a store that lost one call and holds another twice.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/cdrstore.h"
#include "support/e2e.h"
#include "support/tmpdir.h"

namespace {

const std::string line1 = ":4201|12|5551234|050324140736|45|3||02\n";
const std::string line2 = ":7|4202||050324143000|15|||81\n";

class CdrAudit : public ::testing::Test {
 protected:
  void SetUp() override {
    addtostore(store.path(), hourfilepath(2024, 3, 5, 14), line1 + line2);
    addtostore(store.path(), hourfilepath(2024, 3, 5, 15), ":4203|13||050324150000|1|||01\n");
  }
  procresult audit(std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"audit", store.path(), "--tz", "Europe/Berlin"});
    return runcdr(args);
  }
  std::string at(const std::string& rel) { return store.file(rel); }
  tmpdir store;
};

TEST_F(CdrAudit, ASoundStorePassesSilently) {
  procresult r = audit();
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST_F(CdrAudit, EveryKindOfFaultIsFound) {
  std::string h14 = hourfilepath(2024, 3, 5, 14), h15 = hourfilepath(2024, 3, 5, 15);
  addtostore(store.path(), h14, line1);                                   // 3: a duplicate
  addtostore(store.path(), h14, ":4201|12||050324151000|1|||02\n");       // 4: filed an hour early
  addtostore(store.path(), h14, ":4201|12||0503241410|1|||02\n");         // 5: malformed
  addtostore(store.path(), h15, ":4203|13||050324152000|1|||01\n:4204");  // 3: torn
  addtostore(store.path(), "03_2024/06_03_2024:09", ":1|2||060324090000||||01\n");
  addtostore(store.path(), "07_03_2024/07_03_2024:09", ":1|2||070324090000||||01\n");
  addtostore(store.path(), "08_03_2024:09", ":1|2||080324090000||||01\n");
  addtostore(store.path(), "03_2024/05_03_2024/09_03_2024:09", ":1|2||090324090000||||01\n");
  addtostore(store.path(), "03_2024/10_04_2024/10_04_2024:09", ":1|2||100424090000||||01\n");
  addtostore(store.path(), "03_2024/11_03_2024:09", "");  // empty: no calls, no finding
  // 02:30 does not happen in Berlin on 31 March 2024.
  addtostore(store.path(), hourfilepath(2024, 3, 31, 2), ":1|2||310324023000||||01\n");
  procresult r = audit();
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_EQ(r.out,
            "duplicate " + at(h14) + ":3: the same as line 1: \"" + line1.substr(0, 38) + "\"\n" +
                "misfiled " + at(h14) +
                ":4: ends in hour 05_03_2024:15: \":4201|12||050324151000|1|||02\"\n" +
                "malformed " + at(h14) +
                ":5: field 4 is not DDMMYYhhmmss: \":4201|12||0503241410|1|||02\"\n" + "torn " +
                at(h15) + ":3: torn line: no line feed at the end of the file: \":4204\"\n" +
                "misplaced " + at("03_2024/06_03_2024:09") +
                ": hour file outside a day directory; it belongs in "
                "03_2024/06_03_2024/06_03_2024:09\n" +
                "misplaced " + at("07_03_2024/07_03_2024:09") +
                ": day directory outside a month directory; it belongs in "
                "03_2024/07_03_2024/07_03_2024:09\n" +
                "misplaced " + at("08_03_2024:09") +
                ": hour file outside a day and a month directory; it belongs in "
                "03_2024/08_03_2024/08_03_2024:09\n" +
                "misplaced " + at("03_2024/05_03_2024/09_03_2024:09") +
                ": hour file in the directory of another day; it belongs in "
                "03_2024/09_03_2024/09_03_2024:09\n" +
                "notime " + at(hourfilepath(2024, 3, 31, 2)) +
                ":1: its time does not occur in this time zone: \":1|2||310324023000||||01\"\n" +
                // Found under March, it comes after March's hours.
                "misplaced " + at("03_2024/10_04_2024/10_04_2024:09") +
                ": hour file under the directory of another month; it belongs in "
                "04_2024/10_04_2024/10_04_2024:09\n");
  EXPECT_EQ(r.err, "");

  // The same as JSON Lines, one object per finding; and a period that
  // leaves the faults of other days out.
  r = audit({"--json", "--from", "2024-03-05T15:00", "--to", "2024-03-05T16:00"});
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_EQ(r.out, "{\"kind\":\"torn\",\"file\":\"" + at(h15) +
                       "\",\"line\":3,\"detail\":\"torn line: no line feed at the end of the "
                       "file\",\"text\":\":4204\"}\n");
}

// What is not an hour file is named by every command, and read by none: a
// FIFO would block the reader, a link to /dev/zero never end.
TEST_F(CdrAudit, StraysAreNamedNeverRead) {
  const std::string day = "03_2024/05_03_2024/";
  addtostore(store.path(), day + "05_03_2024:14.bak", line1);
  addtostore(store.path(), day + "5_03_2024:07", line1);
  ASSERT_EQ(mkfifo(at(day + "05_03_2024:16").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", at(day + "05_03_2024:17"));
  const std::string strays[] = {
      at(day + "05_03_2024:14.bak") + ": not an hour file",
      at(day + "05_03_2024:16") + ": a FIFO, not a regular file",
      at(day + "05_03_2024:17") + ": a character device, not a regular file",
      at(day + "5_03_2024:07") + ": not an hour file",
  };
  procresult r = audit();
  EXPECT_EQ(r.code, 1) << describe(r);
  std::string found, warned;
  for (const std::string& s : strays) {
    found += "stray " + s + "\n";
    warned += "pktav-cdr: " + s + "; not read\n";
  }
  EXPECT_EQ(r.out, found);
  for (const char* cmd : {"query", "report"}) {
    r = runcdr({cmd, store.path(), "--tz", "Europe/Berlin"});
    EXPECT_EQ(r.code, 1) << describe(r);
    EXPECT_EQ(r.err, warned);
    EXPECT_NE(r.out.find(cmd == std::string("query") ? "4203" : "all calls"), std::string::npos);
  }
  // Named as an operand, such a file is a mistake on the command line.
  r = runcdr({"query", at(day + "05_03_2024:16"), "--tz", "UTC"});
  EXPECT_EQ(r.code, 2) << describe(r);
  EXPECT_EQ(r.err, "pktav-cdr: " + at(day + "05_03_2024:16") + ": a FIFO, not a regular file\n");
}

TEST_F(CdrAudit, AnUnreadableFileIsAFinding) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  std::string h15 = at(hourfilepath(2024, 3, 5, 15));
  std::filesystem::permissions(h15, std::filesystem::perms::none);
  procresult r = audit();
  std::filesystem::permissions(h15, std::filesystem::perms::owner_read);
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_EQ(r.out, "unreadable " + h15 + ": Permission denied\n");
}

// A raw log of 30 NEAX calls on 1 January, and the store the packer made
// of it.
class CdrReconcile : public ::testing::Test {
 protected:
  void SetUp() override {
    writefile(raw, neaxcalls(0, 30));
    procspec job = packer(PKTAV_DEVIROZ7E, {"-v", "-i", raw, "-o", store.path()});
    procresult r = runproc(job);
    ASSERT_EQ(r.code, 0) << describe(r);
    hour = store.file("01_20" + thisyear() + "/01_01_20" + thisyear() + "/01_01_20" + thisyear() +
                      ":10");
    ASSERT_EQ(readfile(hour), neaxlines(0, 30));
  }
  procresult audit(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"audit", store.path(), "--tz",     "UTC",
                                  "--raw", raw,          "--packer", PKTAV_DEVIROZ7E};
    args.insert(args.end(), extra.begin(), extra.end());
    return runcdr(args);
  }
  tmpdir dir, store;
  std::string raw = dir.file("rawsmdr"), hour;
};

TEST_F(CdrReconcile, AStoreThatHoldsTheLogPasses) {
  procresult r = audit();
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out, "");
}

TEST_F(CdrReconcile, ARemovedCallAndADuplicatedOneAreFound) {
  // Call 7 is lost, call 20 is stored twice (after call 29).
  writefile(hour, neaxlines(0, 7) + neaxlines(8, 22) + neaxline(20));
  procresult r = audit();
  EXPECT_EQ(r.code, 1) << describe(r);
  std::string l7 = neaxline(7), l20 = neaxline(20);
  l7.pop_back();
  l20.pop_back();
  EXPECT_EQ(r.out, "duplicate " + hour + ":30: the same as line 20: \"" + l20 + "\"\n" +
                       "missing " + hour + ": a call of the raw log that the store lacks: \"" + l7 +
                       "\"\n" + "unlogged " + hour + ":30: a call the raw log does not hold: \"" +
                       l20 + "\"\n");
}

TEST_F(CdrReconcile, ARotatedLogIsReplayedAsTheOneStreamItWas) {
  // The log was rotated after call 12: its two parts, oldest first.
  std::string older = dir.file("rawsmdr.1");
  writefile(older, neaxcalls(0, 12));
  writefile(raw, neaxcalls(12, 18));
  auto both = [&] {
    return runcdr({"audit", store.path(), "--tz", "UTC", "--raw", older, "--raw", raw, "--packer",
                   PKTAV_DEVIROZ7E});
  };
  procresult r = both();
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out, "");
  // A call lost from each part's time is found in each.
  writefile(hour, neaxlines(0, 5) + neaxlines(6, 14) + neaxlines(21, 9));
  r = both();
  EXPECT_EQ(r.code, 1) << describe(r);
  std::string l5 = neaxline(5), l20 = neaxline(20);
  l5.pop_back();
  l20.pop_back();
  EXPECT_EQ(r.out, "missing " + hour + ": a call of the raw log that the store lacks: \"" + l5 +
                       "\"\n" + "missing " + hour +
                       ": a call of the raw log that the store lacks: \"" + l20 + "\"\n");
  // A part that cannot be read is named before anything runs.
  std::string gone = dir.file("rawsmdr.2");
  r = runcdr({"audit", store.path(), "--tz", "UTC", "--raw", gone, "--raw", raw, "--packer",
              PKTAV_DEVIROZ7E});
  EXPECT_EQ(r.code, 2) << describe(r);
  EXPECT_EQ(r.err, "pktav-cdr: " + gone + ": No such file or directory\n");
}

TEST_F(CdrReconcile, OnlyThePeriodBothCoverIsCompared) {
  // Calls before and after the log, in the store only.
  addtostore(store.path(), hourfilepath(2000 + std::stoi(thisyear()), 1, 1, 9),
             ":1|2||0101" + thisyear() + "090000||||01\n");
  addtostore(store.path(), hourfilepath(2000 + std::stoi(thisyear()), 1, 1, 11),
             ":1|2||0101" + thisyear() + "110000||||01\n");
  procresult r = audit();
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out, "");
}

TEST_F(CdrReconcile, NothingToCompareIsSaidAloud) {
  // A log of noise gives no calls.
  std::string noise = dir.file("noise");
  writefile(noise, "\x02 garbage \x03\n");
  procresult r =
      runcdr({"audit", store.path(), "--tz", "UTC", "--raw", noise, "--packer", PKTAV_DEVIROZ7E});
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.err,
            "pktav-cdr: the replay of " + noise + " gave no calls: nothing was reconciled\n");
  r = audit({"--from", "2001-01-01", "--to", "2001-01-02"});
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.err, "pktav-cdr: the store and the replay of " + raw +
                       " share no period: nothing was reconciled\n");
  r = runcdr({"audit", hour, "--tz", "UTC", "--raw", raw, "--packer", PKTAV_DEVIROZ7E});
  EXPECT_EQ(r.code, 2) << describe(r);
  EXPECT_EQ(r.err, "pktav-cdr: " + hour + ": reconciliation needs a store directory\n");
}

TEST_F(CdrReconcile, APackerThatFailsEndsTheAuditWithCodeTwo) {
  procresult r = runcdr(
      {"audit", store.path(), "--tz", "UTC", "--raw", raw, "--packer", dir.file("no-such-packer")});
  EXPECT_EQ(r.code, 2) << describe(r);
  EXPECT_NE(r.err.find("the replay through " + dir.file("no-such-packer") +
                       " failed (exit code 127): cannot run"),
            std::string::npos)
      << r.err;
  // Options after -- reach the packer: a bad one fails it, and the packer's
  // own words on it are shown, not its banner, statistics or help.
  r = audit({"--", "-Z"});
  EXPECT_EQ(r.code, 2) << describe(r);
  // (The packer names itself by the real path of the build's program.)
  EXPECT_EQ(r.err.rfind(std::string("pktav-cdr: the replay through ") + PKTAV_DEVIROZ7E +
                            " failed (exit code 1): /",
                        0),
            0u)
      << r.err;
  const std::string words = "pktav-deviroz7e: invalid option -- 'Z'; Usage: pktav [-i smdrfile]";
  EXPECT_NE(r.err.find(words), std::string::npos) << r.err;
  for (const char* noise : {"my_exit", "PC-TAV", "Rec:", "eg. pktav", "\n\n"})
    EXPECT_EQ(r.err.find(noise), std::string::npos) << noise << " in " << r.err;
}

}  // namespace
