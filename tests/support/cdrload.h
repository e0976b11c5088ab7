// The fixture of the loader's tests: a store, and a database of either
// kind (an SQLite file, or a PostgreSQL server of the test's own), with
// the loader and the audit run against them and the table read back.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/databases.h"
#include "support/proc.h"
#include "support/tmpdir.h"

enum class dbkind { sqlite, postgres };
std::string dbname(const ::testing::TestParamInfo<dbkind>& info);

class loadtest : public ::testing::TestWithParam<dbkind> {
 public:
  void SetUp() override;

  // DATABASE, as pktav-cdr takes it.
  std::string db() const;
  // SQL run on the database: the rows, fields joined by '|'.
  std::string sql(const std::string& query);
  // The table's calls, in the columns and the forms of query's CSV (in
  // UTC), sorted; with `priced`, also those of --tariff and --directory
  // (the cost in ten-thousandths).
  std::vector<std::string> tablerows(bool priced = false);
  // pktav-cdr load DATABASE STORE --tz UTC, then the arguments.
  procresult load(const std::vector<std::string>& args = {});
  // pktav-cdr audit --db DATABASE STORE --tz UTC, then the arguments.
  procresult audit(const std::vector<std::string>& args = {});
  // An empty store and database again.
  void reset();

  tmpdir dir;
  std::string store = dir.file("site");
  std::unique_ptr<pgserver> pg;
};

// query's rows of a store in UTC, fields joined by '|', sorted; more
// options after the store (a cost column shown in ten-thousandths).
std::vector<std::string> queryrows(const std::string& store,
                                   const std::vector<std::string>& options = {});

// A store made as a site makes it: COUNT of pabxsim's records from START
// (UTC), seed SEED, through pktav-deviroz7e into STORE (more, if there).
void sitestore(const std::string& store, const std::string& stream, const std::string& count,
               const std::string& start, const std::string& seed);
