// pktav-cdr watch --follow, --exec and --metrics: calls checked as they
// come into a store, a watch killed and started again that raises each
// alarm once across both runs, and one killed at random moments while a
// live site stores the calls; commands for the alarms that fail, hang or
// read slowly; the metrics as promtool reads them.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <unistd.h>
#include <chrono>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/cdrstore.h"
#include "support/e2e.h"
#include "support/linkrun.h"
#include "support/proc.h"
#include "support/tmpdir.h"

namespace {

// "YYYY-MM-DDThh:mm:ss" of an instant, in UTC.
std::string utc(int64_t t) {
  time_t s = static_cast<time_t>(t);
  tm parts{};
  gmtime_r(&s, &parts);
  char buf[32];
  strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &parts);
  return buf;
}

// Calls "END STATION TRUNK DIALLED SECONDS" (END seconds since the epoch)
// written to their hour files, each file's new lines in one write.
void arrive(const std::string& root, const std::vector<std::string>& calls) {
  std::map<std::string, std::string> files;
  for (const std::string& c : calls) {
    std::istringstream in(c);
    int64_t end;
    std::string rest;
    in >> end;
    std::getline(in, rest);
    std::string rel;
    std::string line = outgoingline(utc(end) + rest, &rel);
    files[rel] += line;
  }
  for (const auto& [rel, text] : files) addtostore(root, rel, text);
}

// "TIME RULE STATE" of each alarm, sorted; the time of a burst's end is
// the watch's own clock, and shown as "*".
std::vector<std::string> alarmsof(const std::string& out) {
  std::vector<std::string> got;
  std::istringstream in(out);
  for (std::string l; std::getline(in, l);) {
    std::istringstream words(l);
    std::string time, rule, kind, state;
    words >> time >> rule >> kind >> state;
    if (state.ends_with(':')) state.pop_back();
    if (kind == "burst" && state == "cleared") time = "*";
    got.push_back(time + " " + rule + " " + state);
  }
  std::sort(got.begin(), got.end());
  return got;
}

// The silence is raised before the kill and cleared after it; the burst
// raised and cleared before it; calls come while the watch is down and
// after it started again.
TEST(CdrWatchFollow, KilledAndStartedAgainEachAlarmOnce) {
  tmpdir dir, store;
  writefile(dir.file("rules"),
            "premium destination prefix=0900\n"
            "long    long        over=2h\n"
            "intl    burst       by=station prefix=00 calls=3 window=2s\n"
            "quiet   silence     for=20m stations=4200-4299\n");
  int64_t t0 = time(nullptr);
  auto at = [&](int64_t ago, const std::string& rest) { return std::to_string(t0 - ago) + rest; };
  std::vector<std::string> args = {"watch", "--follow", "--rules", dir.file("rules"), "--state",
                                   dir.file("state"), "--tz", "UTC", "--from", utc(t0 - 4 * 3600),
                                   store.path()};
  std::string out;
  {
    childproc watch(cdrjob(args));
    ASSERT_TRUE(watch.waitfor_err("watching")) << watch.err();
    arrive(store.path(), {at(3 * 3600, " 4301 150 0900111 60"), at(10600, " 4300 161 0044161 20"),
                          at(10590, " 4300 161 0044162 20"), at(10580, " 4300 161 0044163 20"),
                          at(10570, " 4300 161 0044164 20")});
    // Killed once the burst's end is out and kept, the silence still raised.
    ASSERT_TRUE(watch.waitfor_out("intl burst cleared")) << watch.out() << watch.err();
    const std::string kept = "burst intl\nsilence quiet 1 1 ";
    for (int i = 0; i < 1000 && readfile(dir.file("state")).find(kept) == std::string::npos; ++i)
      usleep(10000);
    ASSERT_NE(readfile(dir.file("state")).find(kept), std::string::npos)
        << readfile(dir.file("state")) << watch.out() << watch.err();
    watch.signal(SIGKILL);
    procresult r = watch.wait();
    EXPECT_EQ(r.termsig, SIGKILL);
    out = r.out;
  }
  // Calls stored while it is down, then more after it starts again.
  arrive(store.path(), {at(3600, " 4203 150 0612 8000")});
  {
    childproc watch(cdrjob(args));
    ASSERT_TRUE(watch.waitfor_err("watching")) << watch.err();
    arrive(store.path(), {at(30, " 4204 150 0900222 60")});
    ASSERT_TRUE(watch.waitfor_out("0900222")) << watch.out() << watch.err();
    watch.signal(SIGTERM);
    procresult r = watch.wait();
    EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
    out += r.out;
  }
  std::vector<std::string> want = {utc(t0 - 4 * 3600 + 1200) + "+00:00 quiet raised",  // --from on
                                   utc(t0 - 3 * 3600) + "+00:00 premium raised",
                                   utc(t0 - 10570) + "+00:00 intl raised",
                                   "* intl cleared",
                                   utc(t0 - 3600) + "+00:00 long raised",
                                   utc(t0 - 3600) + "+00:00 quiet cleared",
                                   utc(t0 - 30) + "+00:00 premium raised"};
  std::sort(want.begin(), want.end());
  EXPECT_EQ(alarmsof(out), want) << out;
}

// The lines of a text.
std::vector<std::string> linesof(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// A live site: pabxsim drops its link every 500 records while pktav-link
// keeps one packer storing the calls; the watch follows the store and is
// killed at three random moments while they come, each time started again
// from its state.
// Its alarms, all runs together, are those of the same rules over the
// whole store, each once: only the alarm a watch wrote just before it was
// killed may come again, first, from the next.
TEST(CdrWatchFollow, ALiveSiteAndAWatchKilledAtRandomRaiseEachAlarmOnce) {
  tmpdir dir, store;
  writefile(dir.file("rules"),
            "mobile  destination  prefix=09 stations=4200-4299\n"
            "long    long         over=15m\n");
  unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  std::vector<std::string> watch = {"watch", "--follow", "--rules", dir.file("rules"), "--state",
                                    dir.file("state"), "--tz", "UTC", "--from", "2024-02-01",
                                    store.path()};
  childproc sim(simjob({"-n", "8000", "-s", "11", "--start", "2024-02-05T10:00", "--rate", "2000",
                        "--drop-every", "500", "--cut-every", "2", "--calls", dir.file("calls"),
                        "--listen", "127.0.0.1:0"}));
  int port = listeningport(sim);
  ASSERT_GT(port, 0) << sim.err();
  childproc link(linkjob({"--retry-min", "0.05", "--retry-max", "0.2",
                          "127.0.0.1:" + std::to_string(port), "--", PKTAV_DEVIROZ7E, "-v", "-M",
                          "-o", store.path()}));
  std::vector<std::vector<std::string>> runs;
  for (int kill = 0; kill < 3; ++kill) {
    childproc w(cdrjob(watch));
    ASSERT_TRUE(w.waitfor_err("watching")) << w.err();
    // While the calls come (for about 4 s), most often in the middle of
    // its work on them.
    std::this_thread::sleep_for(
        std::chrono::milliseconds(std::uniform_int_distribution<int>(200, 1200)(rng)));
    w.signal(SIGKILL);
    procresult r = w.wait();
    EXPECT_EQ(r.termsig, SIGKILL) << describe(r);
    runs.push_back(linesof(r.out));
  }
  procresult s = sim.wait(120000);
  ASSERT_EQ(s.code, 0) << describe(s);
  calllist list = readcalls(dir.file("calls"));
  EXPECT_TRUE(waitforlines(store.path(), linecount(list.stored) - 23)) << link.err();
  link.signal(SIGTERM);  // the packer writes the calls it held back
  procresult l = link.wait();
  EXPECT_TRUE(l.exited && l.code == 0) << describe(l);
  ASSERT_EQ(readstore(store.path()), storeof(list.stored));

  std::vector<std::string> want = linesof(
      runcdr({"watch", "--rules", dir.file("rules"), "--tz", "UTC", "--from", "2024-02-01",
              "--to", "2099-12-31", store.path()})
          .out);
  ASSERT_GT(want.size(), 20u);
  {
    childproc w(cdrjob(watch));
    ASSERT_TRUE(w.waitfor_err("watching")) << w.err();
    size_t had = 0;
    for (const auto& run : runs) had += run.size();
    for (int i = 0; i < 1500 && had + linesof(w.out()).size() < want.size(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // and nothing more
    w.signal(SIGTERM);
    procresult r = w.wait();
    EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
    runs.push_back(linesof(r.out));
  }
  std::vector<std::string> got;
  for (size_t i = 0; i < runs.size(); ++i) {
    auto from = runs[i].begin();
    if (i > 0 && !runs[i - 1].empty() && from != runs[i].end() && *from == runs[i - 1].back())
      ++from;
    got.insert(got.end(), from, runs[i].end());
  }
  std::sort(got.begin(), got.end());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(got, want);
}

// Each alarm is on standard output whatever its command does; a command
// that fails or hangs is told, one that reads slowly gets the alarm whole.
TEST(CdrWatchExec, EachAlarmHandedOverOrTold) {
  tmpdir dir, store;
  writefile(dir.file("rules"), "premium destination prefix=0900\n");
  arrive(store.path(), {"1709542800 4201 150 0900111 60", "1709546400 4202 150 0900222 60"});
  std::string got = dir.file("got");
  struct execcase {
    std::string command;
    std::vector<std::string> options;
    const char* told;  // on standard error for each alarm; null: nothing
  };
  const execcase cases[] = {
      {"cat >/dev/null; exit 3", {}, "exited with status 3"},
      {"exec sleep 30", {"--exec-timeout", "1"}, "still running after 1 s: killed"},
      {"sleep 30 & wait", {"--exec-timeout", "1"}, "still running after 1 s: killed"},
      {"while IFS= read -r l; do sleep 0.2; printf '%s|%s|%s|%s\\n' \"$PKTAV_ALARM_RULE\" "
       "\"$PKTAV_ALARM_STATION\" \"$PKTAV_ALARM_LINENO\" \"$l\" >>" + got + "; done",
       {},
       nullptr},
  };
  for (const execcase& c : cases) {
    std::vector<std::string> args = {"watch", "--rules", dir.file("rules"), "--tz", "UTC",
                                     "--exec", c.command};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(store.path());
    procresult r = runcdr(args);
    EXPECT_EQ(r.code, 1) << c.command << describe(r);
    std::istringstream lines(r.out);
    std::vector<std::string> out;
    for (std::string l; std::getline(lines, l);) out.push_back(l);
    ASSERT_EQ(out.size(), 2u) << c.command << r.out;
    if (c.told) {
      EXPECT_EQ(occurrences(r.err, c.told), 2) << c.command << r.err;
      EXPECT_EQ(occurrences(r.err, out[0]), 1) << r.err;
    } else {
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(readfile(got), "premium|4201|1|" + out[0] + "\npremium|4202|1|" + out[1] + "\n");
    }
  }
}

// The metrics of a watch that follows a store: the calls, the alarms by
// rule, those active, the latest call; read by promtool.
TEST(CdrWatchMetrics, PromtoolReadsThem) {
  tmpdir dir, store;
  writefile(dir.file("rules"),
            "premium destination prefix=0900\n"
            "quiet   silence     for=20m\n");
  int64_t t0 = time(nullptr);
  auto at = [&](int64_t ago, const std::string& rest) { return std::to_string(t0 - ago) + rest; };
  childproc watch(cdrjob({"watch", "--follow", "--rules", dir.file("rules"), "--tz", "UTC",
                          "--metrics", dir.file("watch.prom"), "--site", "north \"A\"",
                          store.path()}));
  ASSERT_TRUE(watch.waitfor_err("watching")) << watch.err();
  arrive(store.path(), {at(3600, " 4201 150 0900111 60"), at(3000, " 4202 150 0612 60"),
                        at(2400, " 4203 150 0900222 60")});
  ASSERT_TRUE(watch.waitfor_out("0900222")) << watch.out() << watch.err();
  const std::string site = "{site=\"north \\\"A\\\"\"";
  const std::string want[] = {
      "pktav_watch_calls_total" + site + "} 3\n",
      "pktav_watch_alarms_total" + site + ",rule=\"premium\"} 2\n",
      // Calls stored late count their silence from when they came.
      "pktav_watch_alarms_total" + site + ",rule=\"quiet\"} 0\n",
      "pktav_watch_active_alarms" + site + ",rule=\"quiet\"} 0\n",
      "pktav_watch_last_call_timestamp_seconds" + site + "} " + std::to_string(t0 - 2400) + "\n"};
  std::string text;
  for (int i = 0; i < 1000; ++i, usleep(10000)) {
    text = readfile(dir.file("watch.prom"));
    if (std::all_of(std::begin(want), std::end(want),
                    [&](const std::string& w) { return text.find(w) != std::string::npos; }))
      break;
  }
  for (const std::string& w : want) EXPECT_NE(text.find(w), std::string::npos) << w << text;
  watch.signal(SIGTERM);
  procresult r = watch.wait();
  EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
  std::string promtool = findinpath("promtool");
  if (promtool.empty()) GTEST_SKIP() << "promtool (Debian's prometheus) is not installed";
  r = runproc({.argv = {promtool, "check", "metrics"},
               .stdinkind = procspec::file,
               .stdinpath = dir.file("watch.prom")});
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out + r.err, "");
}

}  // namespace
