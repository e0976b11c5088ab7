#include "support/cdrload.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "support/cdrstore.h"
#include "support/e2e.h"
#include "support/linkrun.h"

namespace {

std::vector<std::string> sortedlines(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) v.push_back(line);
  std::sort(v.begin(), v.end());
  return v;
}

}  // namespace

std::string dbname(const ::testing::TestParamInfo<dbkind>& info) {
  return info.param == dbkind::sqlite ? "SQLite" : "PostgreSQL";
}

void loadtest::SetUp() {
  mkdir(store.c_str(), 0755);
  if (GetParam() == dbkind::sqlite) return;
  if (!pgserver::installed()) GTEST_SKIP() << "no PostgreSQL server is installed here";
  pg = std::make_unique<pgserver>();
  ASSERT_TRUE(pg->up());
}

std::string loadtest::db() const { return pg ? pg->conninfo() : dir.file("cdr.sqlite"); }

std::string loadtest::sql(const std::string& query) {
  return pg ? pg->sql(query) : sqlitequery(db(), query);
}

std::vector<std::string> loadtest::tablerows(bool priced) {
  const char* times =
      "to_char(call_end AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"+00:00\"'),"
      " to_char(call_start AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"+00:00\"'),";
  std::string bool1 = pg ? "trunk_first::int" : "trunk_first";
  std::string bool2 = pg ? "ambiguous::int" : "ambiguous";
  return sortedlines(sql(std::string("SELECT ") + (pg ? times : "call_end, call_start,") +
                         " duration, duration_mark, station, trunk, other_station, dialled, meter,"
                         " charge, flags, " +
                         bool1 + ", class_bits, " + bool2 +
                         (priced ? ", destination, billed, cost_units, name, department" : "") +
                         " FROM calls"));
}

procresult loadtest::load(const std::vector<std::string>& args) {
  std::vector<std::string> all = {"load", db(), store, "--tz", "UTC"};
  all.insert(all.end(), args.begin(), args.end());
  return runcdr(all);
}

procresult loadtest::audit(const std::vector<std::string>& args) {
  std::vector<std::string> all = {"audit", "--db", db(), store, "--tz", "UTC"};
  all.insert(all.end(), args.begin(), args.end());
  return runcdr(all);
}

void loadtest::reset() {
  std::filesystem::remove_all(store);
  mkdir(store.c_str(), 0755);
  if (pg)
    pg->sql(
        "DROP SCHEMA public CASCADE; CREATE SCHEMA public AUTHORIZATION pg_database_owner;"
        " GRANT USAGE ON SCHEMA public TO PUBLIC");
  else
    std::filesystem::remove(db());
}

std::vector<std::string> queryrows(const std::string& store,
                                   const std::vector<std::string>& options) {
  std::vector<std::string> args = {"query", store, "--tz", "UTC"};
  args.insert(args.end(), options.begin(), options.end());
  procresult r = runcdr(args);
  EXPECT_TRUE(r.exited && r.code <= 1) << describe(r);  // 1: lines that are no calls left out
  std::string header = r.out.substr(0, r.out.find('\n') + 1);
  std::string text = r.out.substr(header.size());
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  std::replace(text.begin(), text.end(), ',', '|');
  // The cost's field, a decimal of four places, as a count of them.
  size_t cost = 0;
  for (size_t at = header.find(",cost,"); at != header.npos && at > 0; at = header.rfind(',', at - 1))
    ++cost;
  std::vector<std::string> rows = sortedlines(text);
  if (header.find(",cost,") == header.npos) return rows;
  for (std::string& row : rows) {
    size_t from = 0;
    for (size_t i = 0; i < cost; ++i) from = row.find('|', from) + 1;
    size_t to = row.find('|', from);
    std::string units = row.substr(from, to - from);
    units.erase(std::remove(units.begin(), units.end(), '.'), units.end());
    units.erase(0, std::min(units.find_first_not_of('0'), units.size() - 1));
    row.replace(from, to - from, units);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

void sitestore(const std::string& store, const std::string& stream, const std::string& count,
               const std::string& start, const std::string& seed) {
  procresult s = runproc(simjob({"-n", count, "-s", seed, "--start", start, "--calls-per-hour",
                                 "600", "-o", stream}));
  ASSERT_EQ(s.code, 0) << describe(s);
  procresult p = runproc(packer(PKTAV_DEVIROZ7E, {"-v", "-M", "-i", stream, "-o", store}));
  ASSERT_EQ(p.code, 0) << describe(p);
}
