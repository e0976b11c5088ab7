// pabxsim as an operator runs it: the stream it prints, the list of what it
// sent, and the faults of its links, checked against the packer builds that
// read each format.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "support/builds.h"
#include "support/e2e.h"
#include "support/linkrun.h"
#include "support/proc.h"
#include "support/tmpdir.h"

namespace {

// The CDR lines of every row the list says was sent whole, in order.
TEST(Pabxsim, ListedLinesAreWhatEachBuildStores) {
  const std::vector<std::string> faults[] = {
      {},
      {"--drop-every", "40", "--cut-every", "2"},
      {"--drop-every", "37", "--cut-every", "1", "--replay", "3"},
      {"--drop-every", "41", "--replay", "20"},
  };
  for (const packerbuild& b : allbuilds) {
    if (*b.sim == '\0') continue;  // pabxsim has no format for this exchange
    for (const auto& fault : faults) {
      tmpdir dir;
      std::vector<std::string> args = {"-f",      b.sim,
                                       "-n",      "1500",
                                       "-s",      "5",
                                       "--start", "2024-02-05T10:00",
                                       "-o",      dir.file("stream"),
                                       "--calls", dir.file("calls")};
      args.insert(args.end(), fault.begin(), fault.end());
      procresult sim = runproc(simjob(args));
      ASSERT_EQ(sim.code, 0) << describe(sim);
      procresult run = runproc(packer(b.bin, {"-v", "-M", "-i", dir.file("stream")}));
      ASSERT_EQ(run.code, 0) << describe(run);
      calllist list = readcalls(dir.file("calls"));
      SCOPED_TRACE(std::string(b.name) + " " + testing::PrintToString(fault));
      EXPECT_EQ(run.out, list.stored);
      EXPECT_EQ(list.rows, 1500u + list.replayed);
      EXPECT_EQ(list.cut > 0, !fault.empty() && fault[3] != "20");
      EXPECT_GT(list.damaged, 0u);
    }
  }
}

// Pairs happen, and the two NEAX builds pair differently.
TEST(Pabxsim, IncomingCallsPairWithTheirStationRecord) {
  tmpdir dir;
  for (const char* format : {"neax", "neax98"}) {
    procresult sim = runproc(simjob({"-f", format, "-n", "200", "--start", "2024-02-05T10:00", "-o",
                                     "/dev/null", "--calls", dir.file(format)}));
    ASSERT_EQ(sim.code, 0) << describe(sim);
  }
  calllist deviroz7e = readcalls(dir.file("neax")), diziziv7 = readcalls(dir.file("neax98"));
  // deviroz7e: the 'E' line takes its partner's station and flags 81 or 83.
  EXPECT_GT(occurrences(deviroz7e.stored, "|81\n") + occurrences(deviroz7e.stored, "|83\n"), 5);
  // diziziv7: the partner's line takes the 'E' record's trunk (300-399) and class 3.
  int marked = 0;
  std::istringstream lines(diziziv7.stored);
  for (std::string line; std::getline(lines, line);) {
    if (line.substr(line.size() - 3) == "|03" && line.find("|3") != std::string::npos) ++marked;
  }
  EXPECT_GT(marked, 5);
}

TEST(Pabxsim, SameSeedSameStreamOtherSeedAnother) {
  auto stream = [](const std::string& seed) {
    return runproc(simjob({"-n", "300", "-s", seed, "--start", "2024-02-05T10:00"})).out;
  };
  std::string a = stream("11");
  EXPECT_EQ(a.size() > 300 * 132, true);
  EXPECT_EQ(a, stream("11"));
  EXPECT_NE(a, stream("12"));
}

// A week from Monday 5 February at 100 calls an hour: busy mornings and
// quiet nights, working days and weekends, unless the pace is flat.
TEST(Pabxsim, TrafficFollowsAnOfficesWeekUnlessFlat) {
  struct week {
    double morning = 0, night = 0, workday = 0, weekend = 0;  // calls in each
  };
  auto count = [](const std::vector<std::string>& extra) {
    tmpdir dir;
    std::vector<std::string> args = {
        "-n",        "20000",   "--calls-per-hour", "100", "--start", "2024-02-05T00:00", "-o",
        "/dev/null", "--calls", dir.file("calls")};
    args.insert(args.end(), extra.begin(), extra.end());
    procresult sim = runproc(simjob(args));
    EXPECT_EQ(sim.code, 0) << describe(sim);
    week w;
    std::istringstream lines(readcalls(dir.file("calls")).stored);
    for (std::string line; std::getline(lines, line);) {
      // The fourth field, DDMMYYhhmmss; days 5 to 9 are Monday to Friday.
      std::string when = line.substr(line.find('|', line.find('|', line.find('|') + 1) + 1) + 1);
      int day = std::stoi(when.substr(0, 2)), hour = std::stoi(when.substr(6, 2));
      if (day < 5 || day > 11) continue;
      (day <= 9 ? w.workday : w.weekend) += 1;
      w.morning += day <= 9 && hour >= 9 && hour < 12;
      w.night += hour < 6;
    }
    return w;
  };
  week office = count({}), flat = count({"--flat"});
  // Calls an hour in the mornings of the working days (15 hours) against
  // those of the nights (42); calls a day at weekends against working days.
  auto mornings = [](const week& w) { return (w.morning / 15) / (w.night / 42); };
  auto weekends = [](const week& w) { return (w.weekend / 2) / (w.workday / 5); };
  struct {
    const char* what;
    double got, least, most;
  } checks[] = {
      {"office: mornings to nights", mornings(office), 20, 200},
      {"office: a weekend day to a working day", weekends(office), 0.1, 0.2},
      {"office: a working day's calls", office.workday / 5, 3100, 4100},
      {"flat: mornings to nights", mornings(flat), 0.8, 1.25},
      {"flat: a weekend day to a working day", weekends(flat), 0.8, 1.25},
  };
  for (const auto& c : checks) {
    EXPECT_GE(c.got, c.least) << c.what;
    EXPECT_LE(c.got, c.most) << c.what;
  }
}

// Around now by default: the last call ends within the last few minutes,
// at a pace that makes even a weekend night's hour a busy one.
TEST(Pabxsim, CallsEndAroundNowByDefault) {
  tmpdir dir;
  procresult sim = runproc(simjob(
      {"-n", "50", "--calls-per-hour", "36000", "-o", "/dev/null", "--calls", dir.file("calls")}));
  ASSERT_EQ(sim.code, 0) << describe(sim);
  calllist list = readcalls(dir.file("calls"));
  ASSERT_FALSE(list.stored.empty());
  std::string last = list.stored.substr(list.stored.rfind(':'));
  std::string end = last.substr(last.find('|', last.find('|', last.find('|') + 1) + 1) + 1, 12);
  time_t now = time(nullptr);
  std::tm t{};
  gmtime_r(&now, &t);
  char today[16];
  strftime(today, sizeof today, "%d%m%y", &t);
  // Unless the run is near midnight, the last call ended today.
  bool nearmidnight = (t.tm_hour == 0 && t.tm_min < 30) || (t.tm_hour == 23 && t.tm_min >= 30);
  if (!nearmidnight) {
    EXPECT_EQ(end.substr(0, 6), today) << last;
  }
}

// A client that reads each connection to its end and connects again, as a
// collector would: the connections carry the same bytes as the file, cut
// records and replays included.
TEST(Pabxsim, ServesClientsOneAfterAnotherAcrossDrops) {
  std::vector<std::string> common = {
      "-n",           "400", "-s",          "3", "--start",       "2024-02-05T10:00",
      "--drop-every", "100", "--cut-every", "2", "--reset-every", "3",
      "--replay",     "2"};
  std::vector<std::string> tofile = common;
  std::string file = runproc(simjob(tofile)).out;
  std::vector<std::string> served = common;
  served.insert(served.end(), {"--listen", "127.0.0.1:0"});
  childproc sim(simjob(served));
  int port = listeningport(sim);
  ASSERT_GT(port, 0) << sim.err();
  std::string got;
  int connections = 0, resets = 0;
  while (got.size() < file.size() && connections < 10) {
    int fd = connectloopback(port);
    ASSERT_GE(fd, 0);
    ++connections;
    char buf[65536];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) != 0;) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        resets += errno == ECONNRESET;
        break;
      }
      got.append(buf, static_cast<size_t>(n));
    }
    close(fd);
  }
  procresult r = sim.wait();
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(connections, 4);
  EXPECT_EQ(resets, 1);
  EXPECT_EQ(got, file);
  EXPECT_NE(r.err.find("3 drops"), std::string::npos) << r.err;
}

// A rate spreads the records out, a silence holds them back; neither
// changes a byte of the stream.
TEST(Pabxsim, RateAndSilenceTakeTimeNotBytes) {
  std::vector<std::string> base = {"-n", "40", "--start", "2024-02-05T10:00"};
  std::string plain = runproc(simjob(base)).out;
  struct {
    std::vector<std::string> extra;
    double atleast;
  } cases[] = {
      {{"--rate", "100"}, 0.38},
      {{"--silence-every", "10", "--silence", "0.2"}, 0.6},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = base;
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    auto began = std::chrono::steady_clock::now();
    procresult r = runproc(simjob(args));
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    EXPECT_EQ(r.code, 0) << describe(r);
    EXPECT_EQ(r.out, plain);
    EXPECT_GE(took, c.atleast) << testing::PrintToString(c.extra);
  }
}

TEST(Pabxsim, CommandLine) {
  struct {
    std::vector<std::string> args;
    int code;
    std::string err;
  } cases[] = {
      {{"--format", "pdp11"}, 2, "pabxsim: bad value: pdp11\nUsage: pabxsim"},
      {{"--count", "-3"}, 2, "bad value: -3"},
      {{"--start", "yesterday"}, 2, "bad value: yesterday"},
      {{"--bogus"}, 2, "unknown option"},
      {{"stray"}, 2, "unexpected argument: stray"},
      {{"--listen", "nowhere"}, 2, "pabxsim: nowhere: not ADDRESS:PORT"},
      // Not taken modulo 65536, nor sent to port 0.
      {{"--listen", "127.0.0.1:99999"}, 2, "pabxsim: 127.0.0.1:99999: no such port"},
      {{"--connect", "127.0.0.1:0"}, 2, "pabxsim: 127.0.0.1:0: no such port"},
      {{"-o", "/no/such/dir/x"}, 2, "pabxsim: /no/such/dir/x: No such file or directory"},
      {{"--help"}, 0, ""},
  };
  for (const auto& c : cases) {
    procresult r = runproc(simjob(c.args));
    EXPECT_EQ(r.code, c.code) << describe(r);
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  EXPECT_NE(runproc(simjob({"--help"})).out.find("--drop-every K"), std::string::npos);
}

}  // namespace
