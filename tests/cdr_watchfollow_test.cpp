// pktav-cdr watch --follow: calls checked as they come into a store, and a
// watch killed and started again that raises each alarm once across both
// runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <unistd.h>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/cdrstore.h"
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

}  // namespace
