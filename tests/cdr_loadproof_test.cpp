// The proofs of the loader: killed at random moments of a load, the
// database server stopped while it follows a store being written, an hour
// file moved away under the packer, and a live site from the simulated
// exchange through pktav-link and the packer into the database. Every call
// must be in the table once.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/cdrload.h"
#include "support/cdrstore.h"
#include "support/e2e.h"
#include "support/linkrun.h"

namespace {

using CdrLoadProof = loadtest;

// The rows of the table; 0 before it is made.
long rowcount(loadtest& t) {
  std::string there = t.sql(t.pg ? "SELECT to_regclass('calls') IS NOT NULL"
                                 : "SELECT count(*) = 1 FROM sqlite_master WHERE name = 'calls'");
  if (there != "t\n" && there != "1\n") return 0;
  return std::stol("0" + t.sql("SELECT count(*) FROM calls"));
}

// Waits until the table holds n rows; false when the time runs out.
bool waitforrows(loadtest& t, long n, int timeout_ms = 30000) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (rowcount(t) != n) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

long storelines(const std::string& store) {
  long n = 0;
  for (const auto& [name, text] : readstore(store)) n += static_cast<long>(linecount(text));
  return n;
}

procspec follower(loadtest& t, const std::vector<std::string>& more = {}) {
  std::vector<std::string> args = {"load", t.db(), t.store, "--tz", "UTC", "--follow"};
  args.insert(args.end(), more.begin(), more.end());
  return cdrjob(args);
}

// Ends the follower with SIGTERM: it ends with 0, and the audit of the
// database finds nothing.
void stopandaudit(loadtest& t, childproc& load) {
  load.signal(SIGTERM);
  procresult r = load.wait();
  EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
  procresult a = t.audit();
  EXPECT_EQ(a.code, 0) << describe(a);
  EXPECT_EQ(a.out, "");
}

TEST_P(CdrLoadProof, KilledAtTwentyRandomMomentsLoadsEveryLineOnce) {
  constexpr long lines = 200000;
  procresult m = runproc({.argv = {MKCDRSTORE, store, "--from", "2024-01-01", "--days", "30",
                                   "--lines", std::to_string(lines), "--stations", "40"}});
  ASSERT_EQ(m.code, 0) << describe(m);
  unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  // The moments: when the table has passed these counts, and a little after.
  // A quarter of the lines stays after the last, so that a loader seen late
  // on a busy machine is still at work when it is killed.
  std::vector<long> at(20);
  for (long& n : at) n = std::uniform_int_distribution<long>(1, lines * 3 / 4)(rng);
  std::sort(at.begin(), at.end());
  int killed = 0;
  for (long n : at) {
    childproc load(cdrjob({"load", db(), store, "--tz", "UTC", "--batch", "3000"}));
    while (rowcount(*this) < n && load.err().empty())
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::this_thread::sleep_for(
        std::chrono::microseconds(std::uniform_int_distribution<int>(0, 30000)(rng)));
    load.signal(SIGKILL);
    procresult r = load.wait();
    ASSERT_EQ(r.err, "");
    if (!r.exited && r.termsig == SIGKILL) ++killed;
  }
  EXPECT_EQ(killed, 20);
  procresult r = load();
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(rowcount(*this), lines);
  procresult a = audit();
  EXPECT_EQ(a.code, 0) << describe(a);
  EXPECT_EQ(a.out, "");
}

INSTANTIATE_TEST_SUITE_P(Databases, CdrLoadProof,
                         ::testing::Values(dbkind::sqlite, dbkind::postgres), dbname);

// The packer's input, served by pabxsim on a port of its own.
struct exchange {
  childproc sim;
  childproc pktav;
  exchange(const std::vector<std::string>& args, const std::string& store)
      : sim(simjob(args)), pktav(packer(PKTAV_DEVIROZ7E, {"-v", "-M", "-i", source(), "-o", store})) {}
  std::string source() {
    int port = listeningport(sim);
    EXPECT_GT(port, 0) << sim.err();
    return "127.0.0.1:" + std::to_string(port);
  }
  void finish() {
    procresult s = sim.wait(60000);
    EXPECT_EQ(s.code, 0) << describe(s);
    procresult p = pktav.wait(60000);
    EXPECT_TRUE(p.exited) << describe(p);
  }
};

using CdrLoadPostgres = loadtest;

TEST_P(CdrLoadPostgres, ServerStoppedAndStartedWhileFollowingLosesAndDoublesNothing) {
  childproc load(follower(*this, {"--batch", "200"}));
  ASSERT_TRUE(load.waitfor_err(": loading " + store)) << load.err();
  exchange pbx({"-n", "3000", "-s", "5", "--start", "2024-01-31T23:00", "--calls-per-hour", "3000",
                "--rate", "300", "--listen", "127.0.0.1:0"},
               store);
  while (rowcount(*this) < 500) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  pg->stop("immediate");
  ASSERT_TRUE(load.waitfor_err("trying again from time to time")) << load.err();
  pg->start();
  ASSERT_TRUE(pg->up());
  EXPECT_TRUE(load.waitfor_err(" is back: loading " + store)) << load.err();
  pbx.finish();
  EXPECT_TRUE(waitforrows(*this, storelines(store))) << load.err();
  stopandaudit(*this, load);
  EXPECT_EQ(tablerows(), queryrows(store));
}

// A large batch goes to the server over two connections, over one for a
// role the server allows only one, and for a role granted only the tables
// (that may not take numbers from their sequence): the rows of query once
// each, every way.
TEST_P(CdrLoadPostgres, ALargeBatchOverTwoConnectionsOrOneLoadsEachLineOnce) {
  constexpr long lines = 20000;
  procresult m = runproc({.argv = {MKCDRSTORE, store, "--from", "2024-01-01", "--days", "2",
                                   "--lines", std::to_string(lines), "--stations", "40"}});
  ASSERT_EQ(m.code, 0) << describe(m);
  sql("CREATE ROLE lone LOGIN CONNECTION LIMIT 1");
  sql("CREATE DATABASE lonedb OWNER lone");
  std::vector<std::string> rows = queryrows(store);
  ASSERT_EQ(rows.size(), static_cast<size_t>(lines));
  for (const std::string& database : {db(), pg->conninfo("lonedb", "lone")}) {
    SCOPED_TRACE(database);
    procresult r = runcdr({"load", database, store, "--tz", "UTC", "--batch", "100000"});
    EXPECT_EQ(r.code, 0) << describe(r);
    EXPECT_EQ(r.err, "");
    r = runcdr({"audit", "--db", database, store, "--tz", "UTC"});
    EXPECT_EQ(r.code, 0) << describe(r);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(tablerows(), rows);
  std::string each = std::to_string(lines) + "|" + std::to_string(lines) + "\n";
  EXPECT_EQ(pg->sql("SELECT count(*), count(DISTINCT (file, line_offset)) FROM calls", "lonedb"),
            each);
  // The head office's role, as pktav-cdr(1) grants it, loading a second site.
  sql("CREATE ROLE adder LOGIN");
  sql("GRANT SELECT, INSERT, UPDATE ON pktav_calls, pktav_files, pktav_positions TO adder");
  sql("GRANT SELECT ON pktav_schema, calls TO adder");
  std::string adder = pg->conninfo("postgres", "adder");
  procresult r = runcdr({"load", adder, store, "--site", "two", "--tz", "UTC", "--batch", "100000"});
  EXPECT_EQ(r.code, 0) << describe(r);
  r = runcdr({"audit", "--db", adder, store, "--site", "two", "--tz", "UTC"});
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(sql("SELECT count(*), count(DISTINCT (file, line_offset)) FROM calls WHERE site = 'two'"),
            each);
}

INSTANTIATE_TEST_SUITE_P(Server, CdrLoadPostgres, ::testing::Values(dbkind::postgres), dbname);

using CdrLoadFollow = loadtest;

// pabxsim pauses after its 600th record: once the loader has every line,
// the file of the latest is moved out of the store, and the packer makes it
// again with the records that follow.
TEST_P(CdrLoadFollow, AnHourFileMovedAwayIsMadeAgainAndLoadedFromItsStart) {
  childproc load(follower(*this));
  ASSERT_TRUE(load.waitfor_err(": loading " + store)) << load.err();
  exchange pbx({"-n", "1200", "-s", "6", "--start", "2024-01-31T10:00", "--calls-per-hour", "300",
                "--rate", "400", "--silence-every", "600", "--silence", "4", "--listen",
                "127.0.0.1:0"},
               store);
  // The pause: the packer wrote all it could (the NEAX build holds 23
  // calls back), the loader loaded it.
  for (long n = 0; n < 500 || rowcount(*this) != n;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    n = storelines(store);
  }
  storemap now = readstore(store);
  std::string hour = now.rbegin()->first;  // DD_MM_YYYY:hh
  std::string path = store + "/" + hour.substr(3, 2) + "_" + hour.substr(6, 4) + "/" +
                     hour.substr(0, 10) + "/" + hour;
  std::string moved = dir.file(hour);
  ASSERT_EQ(rename(path.c_str(), moved.c_str()), 0);
  pbx.finish();
  long inmoved = static_cast<long>(linecount(readfile(moved)));
  EXPECT_TRUE(waitforrows(*this, storelines(store) + inmoved)) << load.err();
  EXPECT_TRUE(load.waitfor_err(path + " was made again: loading it from its start")) << load.err();
  stopandaudit(*this, load);
  std::vector<std::string> rows = queryrows(store), old = queryrows(moved);
  rows.insert(rows.end(), old.begin(), old.end());
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(tablerows(), rows);
}

INSTANTIATE_TEST_SUITE_P(File, CdrLoadFollow, ::testing::Values(dbkind::sqlite), dbname);

// A live site, end to end: pabxsim drops its link 19 times (every other
// drop in the middle of a record, every third a reset) while pktav-link
// keeps one pktav-deviroz7e reading; the loader follows its store into
// PostgreSQL. The table holds what pabxsim's list of calls says, each once,
// soon after the last.
TEST_P(CdrLoadPostgres, ALiveSiteEndToEnd) {
  std::string calls = dir.file("calls");
  childproc load(follower(*this));
  ASSERT_TRUE(load.waitfor_err(": loading " + store)) << load.err();
  childproc sim(simjob({"-n", "10000", "-s", "9", "--start", "2024-02-05T10:00", "--drop-every",
                        "500", "--cut-every", "2", "--reset-every", "3", "--calls", calls,
                        "--listen", "127.0.0.1:0"}));
  int port = listeningport(sim);
  ASSERT_GT(port, 0) << sim.err();
  childproc link(linkjob({"--retry-min", "0.05", "--retry-max", "0.2",
                          "127.0.0.1:" + std::to_string(port), "--", PKTAV_DEVIROZ7E, "-v", "-M",
                          "-o", store}));
  procresult s = sim.wait(120000);
  ASSERT_EQ(s.code, 0) << describe(s);
  calllist list = readcalls(calls);
  long lines = static_cast<long>(linecount(list.stored));
  EXPECT_TRUE(waitforlines(store, static_cast<size_t>(lines) - 23)) << link.err();
  link.signal(SIGTERM);  // pktav writes the calls it held back
  procresult l = link.wait();
  EXPECT_TRUE(l.exited && l.code == 0) << describe(l);
  EXPECT_EQ(readstore(store), storeof(list.stored));
  EXPECT_TRUE(waitforrows(*this, lines, 20000)) << load.err();
  stopandaudit(*this, load);
  EXPECT_EQ(tablerows(), queryrows(store));
}

}  // namespace
