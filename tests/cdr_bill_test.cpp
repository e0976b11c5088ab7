// Prices end to end: a month of pabxsim's calls stored by the packer and
// priced, where every department's total in report and in bill is the sum
// of its calls' costs in query; query's added columns and a bill written
// by hand on a small store; bad files refused by every command in check's
// words.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cdr/csvfile.h"
#include "cdr/money.h"
#include "support/cdrstore.h"
#include "support/e2e.h"
#include "support/tmpdir.h"

namespace {

const char* const tariff =
    "# a month's test tariff\n"
    "prefix,destination,days,from,to,setup,per_minute,first,step,pulse\n"
    ",Local,Mon-Fri,08:00,18:00,0.05,0.06,60,60,0.01\n"
    ",Local,*,00:00,24:00,0.05,0.03,60,60,0.01\n"
    "02,Regional,*,00:00,24:00,0.08,0.09,30,6,0.01\n"
    "09,Mobile,Mon-Fri,18:00,08:00,0.10,0.12,30,6,0\n"
    "09,Mobile,*,00:00,24:00,0.10,0.24,30,6,0\n"
    "42,Internal,*,00:00,24:00,0,0,1,1,0\n"
    "43,Internal,*,00:00,24:00,0,0,1,1,0\n";

// Stations 4200-4389 in four departments, two of them within others;
// 4390-4399 in none.
std::string directorytext() {
  std::string s = "station,name,department\n";
  for (int n = 4200; n < 4390; ++n) {
    const char* dept = n < 4250 ? "Sales/North" : n < 4300 ? "Sales/South" : n < 4350 ? "Accounts" : "Accounts/Payroll";
    s += std::to_string(n) + (n == 4201 ? ",\"Doe, Jane\"," : ",Person " + std::to_string(n) + ",") + dept + "\n";
  }
  return s;
}

std::vector<csvrecord> csv(const std::string& text) {
  std::vector<csvrecord> v;
  long line = 0;
  EXPECT_EQ(parsecsv(text, &v, &line), nullptr) << "line " << line;
  return v;
}

size_t column(const csvrecord& header, const std::string& name) {
  for (size_t i = 0; i < header.fields.size(); ++i)
    if (header.fields[i] == name) return i;
  ADD_FAILURE() << "no column " << name;
  return 0;
}

money units(const std::string& text) {
  money m = 0;
  EXPECT_EQ(parsemoney(text, &m), nullptr) << text;
  return m;
}

struct sums {
  uint64_t calls = 0, billed = 0;  // billed: calls that are not incoming
  money cost = 0;
};

class CdrMonth : public ::testing::Test {
 protected:
  void SetUp() override {
    writefile(tariffpath, tariff);
    writefile(directorypath, directorytext());
    procspec sim;
    sim.argv = {PABXSIM, "-n", "15000", "-s", "7", "--start", "2024-03-01T00:00", "--calls-per-hour",
                "20", "-o", dir.file("raw")};
    sim.env = {"TZ=UTC"};
    procresult r = runproc(sim, "", 60000);
    ASSERT_EQ(r.code, 0) << describe(r);
    r = runproc(packer(PKTAV_DEVIROZ7E, {"-v", "-M", "-i", dir.file("raw"), "-o", store.path()}), "",
                60000);
    ASSERT_EQ(r.code, 0) << describe(r);
  }
  procresult cdr(std::vector<std::string> args) {
    args.insert(args.begin() + 1, {store.path(), "--tz", "UTC", "--tariff", tariffpath, "--directory",
                                   directorypath});
    return runcdr(args);
  }
  tmpdir dir, store;
  std::string tariffpath = dir.file("tariff.csv"), directorypath = dir.file("stations.csv");
};

TEST_F(CdrMonth, DepartmentTotalsInReportAndBillAreTheSumsOfTheirCalls) {
  procresult q = cdr({"query"});
  ASSERT_EQ(q.code, 0) << describe(q);
  std::vector<csvrecord> calls = csv(q.out);
  ASSERT_GT(calls.size(), 14000u);
  size_t dept = column(calls[0], "department"), cost = column(calls[0], "cost"),
         dest = column(calls[0], "destination");
  // Each call counts in its department and in those above it.
  std::map<std::string, sums> want;
  std::map<std::string, uint64_t> destinations;
  for (size_t i = 1; i < calls.size(); ++i) {
    const std::vector<std::string>& f = calls[i].fields;
    ++destinations[f[dest]];
    std::string d = f[dept].empty() ? "(none)" : f[dept];
    for (size_t at = d.size(); at != std::string::npos; at = d.rfind('/', at - 1)) {
      sums& s = want[d.substr(0, at)];
      ++s.calls;
      s.billed += f[dest] != "incoming";
      if (!f[cost].empty()) s.cost += units(f[cost]);
    }
  }
  EXPECT_EQ(want.size(), 6u);  // with Sales, Accounts and (none)
  for (const char* d : {"Local", "Regional", "Mobile", "Internal", "incoming"})
    EXPECT_GT(destinations[d], 100u) << d;

  procresult r = cdr({"report", "--format", "csv"});
  ASSERT_EQ(r.code, 0) << describe(r);
  std::vector<csvrecord> report = csv(r.out);
  size_t departments = 0;
  for (const csvrecord& row : report) {
    if (row.fields[0] != "department") continue;
    ++departments;
    const sums& s = want[row.fields[1].empty() ? "(none)" : row.fields[1]];
    EXPECT_EQ(row.fields[2], std::to_string(s.calls)) << row.fields[1];
    EXPECT_EQ(row.fields[6], moneytext(s.cost, 2)) << row.fields[1];
    EXPECT_GT(s.cost, 0) << row.fields[1];
  }
  EXPECT_EQ(departments, want.size());

  procresult b = cdr({"bill", "--each-department", "--format", "csv"});
  ASSERT_EQ(b.code, 0) << describe(b);
  size_t bills = 0;
  for (const csvrecord& row : csv(b.out)) {
    if (row.fields[1] != "total") continue;
    ++bills;
    std::string who = row.fields[0] == "no department" ? "(none)" : row.fields[0].substr(11);
    const sums& s = want[who];
    EXPECT_EQ(row.fields[7], std::to_string(s.billed)) << who;
    EXPECT_EQ(row.fields[10], moneytext(s.cost, 2)) << who;
  }
  EXPECT_EQ(bills, want.size());
}

const std::string twodaystariff =
    "prefix,destination,days,from,to,setup,per_minute,first,step,pulse\n"
    "555,Local,*,00:00,24:00,0.05,0.06,60,60,0.01\n"
    "0049,Germany,Mon-Fri,08:00,18:00,0,0.09,30,6,0.0125\n";

class CdrPriced : public ::testing::Test {
 protected:
  void SetUp() override {
    addtwodaysofmarch(store.path());
    writefile(tariffpath, twodaystariff);
    writefile(directorypath, "station,name,department\n4201,\"Doe, Jane\",Sales/North\n4203,Cy,Sales\n");
  }
  procresult cdr(std::vector<std::string> args) {
    args.insert(args.begin() + 1, {store.path(), "--tz", "Europe/Berlin"});
    return runcdr(args);
  }
  tmpdir dir, store;
  std::string tariffpath = dir.file("t.csv"), directorypath = dir.file("d.csv");
};

TEST_F(CdrPriced, QueryAddsDestinationBilledCostNameAndDepartment) {
  procresult r = cdr({"query", "--tariff", tariffpath, "--directory", directorypath});
  EXPECT_EQ(r.code, 0) << describe(r);
  std::vector<csvrecord> rows = csv(r.out);
  ASSERT_FALSE(rows.empty());
  // The added columns follow the call's, which end with ambiguous.
  const std::vector<std::string>& head = rows.front().fields;
  size_t at = static_cast<size_t>(std::find(head.begin(), head.end(), "ambiguous") - head.begin()) + 1;
  std::vector<std::string> added;
  for (const csvrecord& row : rows) {
    ASSERT_EQ(row.fields.size(), at + 5);
    added.push_back(row.fields[at] + "|" + row.fields[at + 1] + "|" + row.fields[at + 2] + "|" +
                    row.fields[at + 3] + "|" + row.fields[at + 4]);
  }
  EXPECT_EQ(added, (std::vector<std::string>{
                       "destination|billed|cost|name|department",
                       "Local|180|0.2600|Doe, Jane|Sales/North",  // 500 + 1800 + 300
                       "incoming||0.0000||",
                       "Germany|0|0.0125|Cy|Sales",  // 0 s: the pulse only
                       "unpriced|||Doe, Jane|Sales/North",
                       "incoming||0.0000|Cy|Sales",
                   }));
  r = cdr({"query", "--tariff", tariffpath, "--directory", directorypath, "--format", "json",
           "--station", "4202"});
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_NE(r.out.find(",\"ambiguous\":false,\"destination\":\"incoming\",\"billed\":null,"
                       "\"cost\":\"0.0000\",\"name\":null,\"department\":null}\n"),
            std::string::npos)
      << r.out;
}

TEST_F(CdrPriced, AStationsBill) {
  procresult r = cdr({"bill", "--tariff", tariffpath, "--directory", directorypath, "--station", "4201"});
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out,
            "Bill of station 4201\n"
            "Period: 2024-03-04 to 2024-03-05 (Europe/Berlin)\n"
            "Tariff: " + tariffpath + "\n"
            "Calls from: " + store.path() + "\n"
            "\n"
            "Start                Station  Number dialled  Destination          Duration   Billed      Cost\n"
            "2024-01-19 06:53:38     4201  5559876         unpriced     end-before-start        -  unpriced\n"
            "2024-03-04 09:04:36     4201  5551234         Local                 0:03:00  0:03:00      0.26\n"
            "\n"
            "Station  Name       Calls  Duration   Billed  Cost\n"
            "   4201  Doe, Jane      2   0:03:00  0:03:00  0.26\n"
            "\n"
            "Destination  Calls  Duration   Billed  Cost\n"
            "Local            1   0:03:00  0:03:00  0.26\n"
            "unpriced         1   0:00:00  0:00:00     -\n"
            "\n"
            "Total            2   0:03:00  0:03:00  0.26\n");
}

TEST_F(CdrPriced, EveryCommandRefusesABadFileInCheckWords) {
  writefile(tariffpath, twodaystariff + "00,Intl,Sun-Mon,08:00,18:00,0,1.00001,30,6,0\n");
  procresult check = runcdr({"check", "--tariff", tariffpath, "--directory", directorypath});
  EXPECT_EQ(check.code, 2) << describe(check);
  EXPECT_EQ(check.err, "pktav-cdr: " + tariffpath +
                           ":4: per_minute \"1.00001\": a price with more than four decimal places\n");
  for (std::vector<std::string> args :
       {std::vector<std::string>{"query"}, {"report"}, {"bill", "--each-department"}}) {
    args.insert(args.end(), {"--tariff", tariffpath, "--directory", directorypath});
    procresult r = cdr(args);
    EXPECT_EQ(r.code, 2) << args[0];
    EXPECT_EQ(r.err, check.err) << args[0];
    EXPECT_EQ(r.out, "") << args[0];
  }
  procresult load = runcdr({"load", dir.file("cdr.sqlite"), store.path(), "--tariff", tariffpath,
                            "--directory", directorypath});
  EXPECT_EQ(load.code, 2) << describe(load);
  EXPECT_EQ(load.err, check.err);
  EXPECT_FALSE(std::filesystem::exists(dir.file("cdr.sqlite")));
  writefile(tariffpath, twodaystariff + "555,Other,*,00:00,24:00,0,1,30,6,0\n");
  check = runcdr({"check", "--tariff", tariffpath, "--directory", directorypath});
  EXPECT_EQ(check.code, 1) << describe(check);
  EXPECT_EQ(check.out, tariffpath + ": 3 rates, 3 destinations\n" + directorypath +
                           ": 2 stations, 2 departments\n");
  EXPECT_NE(check.err.find(":4: warning: never chosen"), std::string::npos) << check.err;
  check = runcdr({"check", "--tariff", EXAMPLES_DIR "/tariff.csv", "--directory",
                  EXAMPLES_DIR "/stations.csv"});
  EXPECT_EQ(check.code, 0) << describe(check);
}

}  // namespace
