// The proof that a dropped link costs no call: pabxsim sends thousands of
// calls, dropping the link every 500 records (every other drop in the
// middle of a record, every third with a reset), and pktav-link keeps one
// pktav-deviroz7e reading across all of them. Every call sent whole must be
// in the store exactly once, in order and paired as in an unbroken run,
// which is what pabxsim's list says; a record cut by a drop becomes
// nothing. Then the same over a pseudo-terminal that goes away and comes
// back with the kernel's default line settings. The keeper's metrics at its
// end count the links, the drops by cause and the bytes pabxsim sent.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "support/e2e.h"
#include "support/linkrun.h"
#include "support/tmpdir.h"

namespace {

constexpr size_t held = 23;  // calls the NEAX builds hold until the end

// Drops by cause, as the metrics file names them.
using causes = std::map<std::string, int>;

struct proofrun {
  tmpdir dir;
  std::string cdr = dir.file("cdr");
  std::string calls = dir.file("calls");
  std::string metrics = dir.file("link.prom");
  std::string site = "hq";
  time_t began = time(nullptr);
  proofrun() { mkdir(cdr.c_str(), 0755); }

  std::vector<std::string> simargs(const std::string& count,
                                   const std::string& dropevery = "500") const {
    return {"-n",           count,     "-s",          "9", "--start", "2024-02-05T10:00",
            "--drop-every", dropevery, "--cut-every", "2", "--calls", calls};
  }
  std::vector<std::string> linkargs(const std::string& source) const {
    return {"--retry-min", "0.05", "--retry-max",   "0.2", "--metrics", metrics, "--site", site,
            source,        "--",   PKTAV_DEVIROZ7E, "-v",  "-M",        "-o",    cdr};
  }

  // Once pabxsim has sent everything: waits for all but the held calls,
  // ends the keeper with SIGTERM and checks the store against the list,
  // and the metrics against the run when the drops' causes are known.
  void finish(childproc& sim, childproc& link, size_t drops, const causes& dropped = {}) {
    procresult s = sim.wait(60000);
    ASSERT_EQ(s.code, 0) << describe(s);
    calllist list = readcalls(calls);
    size_t lines = linecount(list.stored);
    EXPECT_TRUE(waitforlines(cdr, lines - held)) << link.err();
    link.signal(SIGTERM);
    procresult r = link.wait();
    EXPECT_TRUE(r.exited && r.code == 0) << describe(r);

    EXPECT_EQ(readstore(cdr), storeof(list.stored));
    EXPECT_EQ(list.cut, drops / 2);
    EXPECT_EQ(occurrences(r.err, "pktav-link: link up: "), static_cast<int>(drops + 1));
    // pabxsim's end is one more.
    EXPECT_EQ(occurrences(r.err, "pktav-link: link down: "), static_cast<int>(drops + 1));
    // One program read it all: it ended once, at the SIGTERM.
    EXPECT_EQ(occurrences(r.err, "my_exit: errcode = 0"), 1) << r.err;
    EXPECT_EQ(occurrences(r.err, "do_terminate() sig=15"), 1);
    // Calls were paired across the drops too: 'E' lines with a station.
    EXPECT_GT(occurrences(list.stored, "|81\n") + occurrences(list.stored, "|83\n"),
              static_cast<int>(lines / 100));
    if (!dropped.empty()) checkmetrics(s.err, drops, dropped);
  }

  void checkmetrics(const std::string& simerr, size_t drops, causes dropped) {
    std::map<std::string, std::string> m = readmetrics(metrics);
    auto value = [&](const std::string& name, const std::string& cause = "") {
      std::string series = name + "{site=\"" + site + "\"";
      if (!cause.empty()) series += ",cause=\"" + cause + "\"";
      return m.count(series + "}") ? m[series + "}"] : "missing";
    };
    EXPECT_EQ(value("pktav_link_up"), "0");
    EXPECT_EQ(value("pktav_link_connections_total"), std::to_string(drops + 1));
    for (const char* cause :
         {"closed", "hangup", "reset", "timeout", "error", "replaced", "silent"})
      EXPECT_EQ(value("pktav_link_drops_total", cause), std::to_string(dropped[cause])) << cause;
    // Every byte pabxsim sent, as its last line counts them.
    size_t end = simerr.rfind(" bytes\n"), from = simerr.rfind(' ', end - 1) + 1;
    EXPECT_EQ(value("pktav_link_bytes_total"), simerr.substr(from, end - from)) << simerr;
    double last = std::stod("0" + value("pktav_link_last_byte_timestamp_seconds"));
    EXPECT_GE(last, static_cast<double>(began));
    EXPECT_LE(last, static_cast<double>(time(nullptr) + 1));
  }
};

TEST(LinkProof, TcpDropsLoseNoCallAndSplitNoPair) {
  proofrun run;
  std::vector<std::string> args = run.simargs("10000");
  args.insert(args.end(), {"--reset-every", "3", "--listen", "127.0.0.1:0"});
  childproc sim(simjob(args));
  int port = listeningport(sim);
  ASSERT_GT(port, 0) << sim.err();
  childproc link(linkjob(run.linkargs("127.0.0.1:" + std::to_string(port))));
  // pabxsim's end closes the last link.
  run.finish(sim, link, 19, {{"reset", 6}, {"closed", 14}});
  EXPECT_EQ(occurrences(link.err(), "Connection reset by peer"), 6);
}

// The pseudo-terminal's path is a symbolic link that pabxsim points at each
// new one, as udev names a USB adapter by its serial number.
TEST(LinkProof, PseudoTerminalGoesAwayAndComesBack) {
  proofrun run;
  std::string port = run.dir.file("pbx");
  std::vector<std::string> args = run.simargs("4000");
  args.push_back("--pty=" + port);
  childproc sim(simjob(args));
  ASSERT_TRUE(sim.waitfor_out("/dev/pts/")) << sim.err();
  childproc link(linkjob(run.linkargs(port)));
  run.finish(sim, link, 7, {{"hangup", 8}});
  // Each new terminal came up cooked; the raw settings of the first went back on.
  EXPECT_EQ(occurrences(link.err(), "line settings put back"), 7);
  EXPECT_EQ(occurrences(link.err(), "the device hung up"), 8);
}

// An exchange that pushes its records connects to the keeper, again after
// each drop, and replays its last two records each time: the store holds
// those calls twice, as the list says.
TEST(LinkProof, ExchangeThatConnectsAndReplays) {
  proofrun run;
  childproc link(linkjob({"--allow", "127.0.0.1", "listen:127.0.0.1:0", "--", PKTAV_DEVIROZ7E, "-v",
                          "-M", "-o", run.cdr}));
  int port = listeningport(link, "pktav-link: listening on 127.0.0.1:");
  ASSERT_GT(port, 0) << link.err();
  std::vector<std::string> args = run.simargs("3000", "400");
  args.insert(args.end(), {"--replay", "2", "--connect", "127.0.0.1:" + std::to_string(port)});
  childproc sim(simjob(args));
  run.finish(sim, link, 7);
  calllist list = readcalls(run.calls);
  EXPECT_EQ(list.replayed, 14u);
}

// The metrics file is what Prometheus reads, a site's name with quotes
// escaped: promtool finds nothing to say of it.
TEST(LinkProof, PromtoolReadsTheMetrics) {
  std::string promtool = findinpath("promtool");
  if (promtool.empty()) GTEST_SKIP() << "promtool (Debian's prometheus) is not installed";
  proofrun run;
  run.site = "north \"A\"";
  std::vector<std::string> args = run.simargs("1000", "300");
  args.insert(args.end(), {"--listen", "127.0.0.1:0"});
  childproc sim(simjob(args));
  int port = listeningport(sim);
  ASSERT_GT(port, 0) << sim.err();
  childproc link(linkjob(run.linkargs("127.0.0.1:" + std::to_string(port))));
  run.finish(sim, link, 3);
  procresult r = runproc({.argv = {promtool, "check", "metrics"},
                          .stdinkind = procspec::file,
                          .stdinpath = run.metrics});
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_NE(
      readfile(run.metrics).find("pktav_link_connections_total{site=\"north \\\"A\\\"\"} 4\n"),
      std::string::npos)
      << readfile(run.metrics);
}

}  // namespace
