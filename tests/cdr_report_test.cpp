// pktav-cdr report on a small store: the text and CSV totals written by
// hand, the page (self-contained, well-formed), and a CSV export loaded
// into SQLite.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support/cdrstore.h"
#include "support/tmpdir.h"

namespace {

class CdrReport : public ::testing::Test {
 protected:
  void SetUp() override { addtwodaysofmarch(store.path()); }
  tmpdir store;
};

std::string row(const char* label, const char* calls, const char* talk, const char* meter,
                const char* charged) {
  char buf[128];
  snprintf(buf, sizeof buf, "%-16s %9s %12s %9s %9s\n", label, calls, talk, meter, charged);
  return buf;
}

std::string heading(const char* title) {
  std::string s = "\n";
  return s.append(row(title, "calls", "talk time", "meter", "charged"));
}

TEST_F(CdrReport, TextTotalsPerDayHourStationAndTrunk) {
  // A call between two stations: their first station's, on no trunk.
  addtostore(store.path(), hourfilepath(2024, 3, 4, 10), ":4204|4205||040324101000|15|||89\n");
  procresult r = runcdr({"report", store.path(), "--tz", "Europe/Berlin"});
  EXPECT_EQ(r.code, 0) << describe(r);
  std::string hours;
  for (int h = 0; h < 24; ++h) {
    char label[16];
    snprintf(label, sizeof label, "%02d:00-%02d:59", h, h);
    hours += h == 9    ? row(label, "3", "0:03:00", "4", "1")
             : h == 10 ? row(label, "1", "0:01:00", "0", "0")
             : h == 14 ? row(label, "2", "0:01:00", "0", "0")
                       : row(label, "0", "0:00:00", "0", "0");
  }
  EXPECT_EQ(r.out, "Calls from 2024-03-04 to 2024-03-05 in " + store.path() + " (Europe/Berlin)\n" +
                       heading("Totals") + row("all calls", "6", "0:05:00", "4", "1") +
                       row("between stations", "1", "0:01:00", "0", "0") + heading("Day") +
                       row("2024-03-04 Mon", "4", "0:04:00", "4", "1") +
                       row("2024-03-05 Tue", "2", "0:01:00", "0", "0") + heading("Hour of day") +
                       hours + heading("Station") + row("4201", "2", "0:03:00", "3", "0") +
                       row("4202", "1", "0:00:00", "0", "0") +
                       row("4203", "2", "0:01:00", "1", "1") +
                       row("4204", "1", "0:01:00", "0", "0") + heading("Trunk") +
                       row("7", "1", "0:00:00", "0", "0") + row("12", "2", "0:03:00", "3", "0") +
                       row("13", "1", "0:00:00", "1", "1") + row("14", "1", "0:01:00", "0", "0"));
}

TEST_F(CdrReport, CsvTotalsAndAPeriodWithoutCalls) {
  procresult r = runcdr({"report", store.path(), "--tz", "Europe/Berlin", "--format", "csv",
                         "--station", "4201-4202"});
  EXPECT_EQ(r.code, 0) << describe(r);
  std::string hours;
  for (int h = 0; h < 24; ++h)
    hours += "hour," + std::to_string(h) +
             (h == 9    ? ",2,180,3,0\r\n"
              : h == 14 ? ",1,0,0,0\r\n"
                        : ",0,0,0,0\r\n");
  EXPECT_EQ(r.out,
            "section,key,calls,talk_seconds,meter,charged\r\n"
            "total,,3,180,3,0\r\n"
            "between-stations,,0,0,0,0\r\n"
            "day,2024-03-04,2,180,3,0\r\n"
            "day,2024-03-05,1,0,0,0\r\n" +
                hours +
                "station,4201,2,180,3,0\r\n"
                "station,4202,1,0,0,0\r\n"
                "trunk,7,1,0,0,0\r\n"
                "trunk,12,2,180,3,0\r\n");

  r = runcdr({"report", store.path(), "--tz", "Europe/Berlin", "--from", "2024-04-01", "--to",
              "2024-04-02"});
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_NE(r.out.find(row("all calls", "0", "0:00:00", "0", "0")), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(row("2024-04-01 Mon", "0", "0:00:00", "0", "0") +
                       row("2024-04-02 Tue", "0", "0:00:00", "0", "0") + "\n"),
            std::string::npos)
      << r.out;
}

bool have(const char* program) {
  std::string cmd = std::string("command -v ") + program + " >/dev/null 2>&1";
  return system(cmd.c_str()) == 0;
}

TEST_F(CdrReport, ThePageIsSelfContainedAndWellFormed) {
  tmpdir out;  // not in the store, where it would be a stray
  std::string page = out.file("traffic.html");
  procresult r = runcdr({"report", store.path(), "--tz", "Europe/Berlin", "--html", page});
  EXPECT_EQ(r.code, 0) << describe(r);
  std::string html = readfile(page);
  ASSERT_FALSE(html.empty());
  // Nothing fetched, nothing run: the only URL is the SVG namespace.
  for (const char* banned : {"<script", "https:", "url(", "<link", "<img", "@import"})
    EXPECT_EQ(html.find(banned), std::string::npos) << banned;
  size_t urls = 0;
  for (size_t p = 0; (p = html.find("http", p)) != std::string::npos; ++p) ++urls;
  EXPECT_EQ(urls, 3u);  // the grid and the two bar charts
  EXPECT_NE(html.find("<title>2024-03-04 09:00, 3 calls</title>"), std::string::npos);
  EXPECT_NE(html.find("<title>2024-03-05 14:00, 2 calls</title>"), std::string::npos);
  EXPECT_NE(html.find("<title>2024-03-05 13:00, 0 calls</title>"), std::string::npos);
  EXPECT_NE(html.find("<title>station 4201: 2 calls, 0:03:00 talk time</title>"),
            std::string::npos);
  EXPECT_NE(html.find("<title>trunk 12: 2 calls, 0:03:00 talk time</title>"), std::string::npos);
  EXPECT_NE(html.find("<tr><th>Calls</th><td>5</td></tr>"), std::string::npos);
  if (!have("xmllint")) GTEST_SKIP() << "xmllint is not installed";
  std::string cmd = "xmllint --noout '" + page + "' 2>&1";
  EXPECT_EQ(system(cmd.c_str()), 0);
}

TEST_F(CdrReport, APageThatCannotBeWrittenEndsTheRunBeforeTheWork) {
  tmpdir out;  // not in the store, where it would be a stray
  std::string tariff = out.file("t.csv"), page = store.file("no/such/dir/page.html");
  writefile(tariff, "prefix,destination,days,from,to,setup,per_minute,first,step,pulse\n"
                    ",Local,*,00:00,24:00,0,0.06,60,60,0\n");
  for (const char* command : {"report", "bill"}) {
    procresult r = runcdr({command, store.path(), "--tz", "UTC", "--tariff", tariff, "--station",
                           "4201", "--html", page});
    EXPECT_EQ(r.code, 2) << describe(r);
    // Found before the work: nothing else is written.
    EXPECT_EQ(r.err, "pktav-cdr: " + page + ": No such file or directory\n") << command;
    EXPECT_EQ(r.out, "") << command;
  }
}

TEST_F(CdrReport, AnExportLoadsIntoSqlite) {
  if (!have("sqlite3")) GTEST_SKIP() << "sqlite3 is not installed";
  std::string csv = store.file("calls.csv"), db = store.file("calls.db");
  procresult r = runcdr({"query", store.path(), "--tz", "Europe/Berlin"});
  ASSERT_EQ(r.code, 0) << describe(r);
  writefile(csv, r.out);
  std::string cmd = "sqlite3 '" + db + "' '.import --csv " + csv +
                    " calls' 'select count(*), cast(sum(duration) as integer), count(duration_mark "
                    "= \"too-long\" "
                    "or null), sum(ambiguous) from calls;' "
                    "'select end from calls where dialled = \"0049301234\";'";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[256];
  while (fgets(buf, sizeof buf, p)) out += buf;
  EXPECT_EQ(pclose(p), 0);
  EXPECT_EQ(out, "5|240|1|0\n2024-03-04T09:59:59+01:00\n");
}

}  // namespace
