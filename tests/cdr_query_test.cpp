// pktav-cdr query, run as a user runs it, on small stores built here: the
// CSV and JSON written by hand, the selections, and the two changes of
// daylight saving time in Europe/Berlin.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "support/cdrstore.h"
#include "support/tmpdir.h"

namespace {

const std::string header =
    "end,start,duration,duration_mark,station,trunk,other_station,dialled,meter,charge,flags,"
    "trunk_first,class_bits,ambiguous\r\n";

// Queries of the two days of March 2024 that addtwodaysofmarch() stores.
class CdrQuery : public ::testing::Test {
 protected:
  void SetUp() override { addtwodaysofmarch(store.path()); }
  procresult query(std::vector<std::string> args) {
    args.insert(args.begin(), {"query", store.path(), "--tz", "Europe/Berlin"});
    return runcdr(args);
  }
  tmpdir store;
};

const std::string row1 =
    "2024-03-04T09:07:36+01:00,2024-03-04T09:04:36+01:00,180,,4201,12,,5551234,3,,02,0,2,0\r\n";
const std::string row2 =
    "2024-03-04T09:30:00+01:00,2024-01-18T02:23:24+01:00,,too-long,4202,7,,,0,,81,1,1,0\r\n";
const std::string row3 =
    "2024-03-04T09:59:59+01:00,2024-03-04T09:59:59+01:00,0,,4203,13,,0049301234,1,4711,03,0,3,"
    "0\r\n";
const std::string row4 =
    "2024-03-05T14:00:10+01:00,2024-01-19T06:53:38+01:00,,end-before-start,4201,12,,5559876,0,,02,"
    "0,2,0\r\n";
const std::string row5 =
    "2024-03-05T14:15:00+01:00,2024-03-05T14:14:00+01:00,60,,4203,14,,,0,,81,1,1,0\r\n";

TEST_F(CdrQuery, CsvHasAHeaderAndOneRowPerCall) {
  procresult r = query({});
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out, header + row1 + row2 + row3 + row4 + row5);
  EXPECT_EQ(r.err, "");
}

TEST_F(CdrQuery, JsonLinesCarryTheSameCalls) {
  procresult r = query({"--format", "json", "--station", "4201"});
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(
      r.out,
      "{\"end\":\"2024-03-04T09:07:36+01:00\",\"start\":\"2024-03-04T09:04:36+01:00\","
      "\"duration\":180,\"duration_mark\":null,\"station\":\"4201\",\"trunk\":\"12\","
      "\"other_station\":\"\",\"dialled\":\"5551234\",\"meter\":3,\"charge\":\"\",\"flags\":\"02\","
      "\"trunk_first\":false,\"class_bits\":2,\"ambiguous\":false}\n"
      "{\"end\":\"2024-03-05T14:00:10+01:00\",\"start\":\"2024-01-19T06:53:38+01:00\","
      "\"duration\":null,\"duration_mark\":\"end-before-start\",\"station\":\"4201\","
      "\"trunk\":\"12\",\"other_station\":\"\",\"dialled\":\"5559876\",\"meter\":0,"
      "\"charge\":\"\",\"flags\":\"02\",\"trunk_first\":false,\"class_bits\":2,\"ambiguous\":false}"
      "\n");
}

struct selectcase {
  std::vector<std::string> args;
  std::string rows;
};

TEST_F(CdrQuery, SelectionsNarrowTheCalls) {
  const selectcase cases[] = {
      {{"--from", "2024-03-05"}, row4 + row5},
      {{"--to", "2024-03-04"}, row1 + row2 + row3},
      {{"--from", "2024-03-04T09:30", "--to", "2024-03-05T14:00:10"}, row2 + row3},
      {{"--from", "2024-03-04T07:30:00Z", "--to", "2024-03-04T09:07:36+01:00"}, ""},
      {{"--from", "2024-03-04T07:30:00Z", "--to", "2024-03-04T09:07:37+01:00"}, row1},
      {{"--from", "2024-03-04T08:30:00Z"}, row2 + row3 + row4 + row5},
      {{"--station", "4202-4203"}, row2 + row3 + row5},
      {{"--trunk", "12-13"}, row1 + row3 + row4},
      {{"--dialled", "555"}, row1 + row4},
      {{"--dialled", "0049"}, row3},
      {{"--flags", "80/80"}, row2 + row5},
      {{"--flags", "03"}, row3},
      {{"--flags", "00/80", "--trunk", "12"}, row1 + row4},
  };
  for (const selectcase& c : cases) {
    procresult r = query(c.args);
    EXPECT_EQ(r.code, 0) << describe(r);
    EXPECT_EQ(r.out, header + c.rows) << c.args[0] << " " << c.args[1];
  }
}

// The third record kind: flag 0x08 with 0x80, both parties stations.
TEST_F(CdrQuery, ACallBetweenStationsIsOnNoTrunk) {
  addtostore(store.path(), hourfilepath(2024, 3, 4, 10),
             ":4204|4205||040324101000|15|||89\n:4206|4207||040324102000|15|2|7|cb\n");
  const std::string rows =
      "2024-03-04T10:10:00+01:00,2024-03-04T10:09:00+01:00,60,,4204,,4205,,0,,89,0,1,0\r\n"
      "2024-03-04T10:20:00+01:00,2024-03-04T10:19:00+01:00,60,,4206,,4207,,2,7,cb,0,3,0\r\n";
  const selectcase cases[] = {
      {{"--from", "2024-03-04T10:00", "--to", "2024-03-04T11:00"}, rows},
      {{"--station", "4204-4206"}, rows},
      {{"--station", "4205"}, ""},  // a call of its first station
      {{"--trunk", "0"}, rows},     // as every call that names no trunk
      {{"--trunk", "4204-4207"}, ""},
  };
  for (const selectcase& c : cases) {
    procresult r = query(c.args);
    EXPECT_EQ(r.code, 0) << describe(r);
    EXPECT_EQ(r.out, header + c.rows) << c.args[0] << " " << c.args[1];
  }
}

TEST_F(CdrQuery, HourFilesCanBeNamedOneByOne) {
  procresult r = runcdr({"query", "--tz", "Europe/Berlin", store.file(hourfilepath(2024, 3, 5, 14)),
                         store.file(hourfilepath(2024, 3, 4, 9))});
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out, header + row4 + row5 + row1 + row2 + row3);
}

TEST_F(CdrQuery, MalformedLinesAreNamedAndLeftOut) {
  addtostore(store.path(), hourfilepath(2024, 3, 4, 9), "4201|12||040324095000|1|||02\n");
  addtostore(store.path(), hourfilepath(2024, 3, 5, 14), ":4201|12||050324145000|1|||02");
  procresult r = query({});
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_EQ(r.out, header + row1 + row2 + row3 + row4 + row5);
  EXPECT_EQ(r.err, "pktav-cdr: " + store.file(hourfilepath(2024, 3, 4, 9)) +
                       ":4: no leading ':': \"4201|12||040324095000|1|||02\"\n"
                       "pktav-cdr: " +
                       store.file(hourfilepath(2024, 3, 5, 14)) +
                       ":3: torn line: no line feed at the end of the file: "
                       "\":4201|12||050324145000|1|||02\"\n");
}

struct usagecase {
  std::vector<std::string> args;
  std::string message;
};

TEST(CdrUsage, BadCommandLinesEndWithCodeTwo) {
  tmpdir d;
  writefile(d.file("passwd"), "root:x:0:0:root:/root:/bin/bash\n");
  const usagecase cases[] = {
      {{}, "a command is needed"},
      {{"list", "/tmp"}, "unknown command \"list\""},
      {{"query"}, "no store or file given"},
      {{"query", "/tmp", "--format", "xml"}, "--format is csv or json, not \"xml\""},
      {{"report", "/tmp", "--format", "json"}, "--format is text or csv, not \"json\""},
      {{"query", "/tmp", "--from", "2024-02-30"}, "not a date or time: \"2024-02-30\""},
      {{"query", "/tmp", "--station", "9-1"},
       "the range \"9-1\" runs from high to low: give the lower number first"},
      {{"report", "/tmp", "--trunk", "12-"}, "not a number or range N-M: \"12-\""},
      {{"query", "/tmp", "--flags", "1ff"}, "not flags HH or HH/MM: \"1ff\""},
      {{"query", "/tmp", "--json"}, "option \"--json\" does not go with this command"},
      {{"query", "/tmp", "--html", "x.html"}, "option \"--html\" does not go with this command"},
      {{"audit", "/tmp", "--raw", "x"}, "--raw and --packer go together"},
      {{"query", "/tmp", "--bogus"}, "unknown option or missing argument: \"--bogus\""},
      {{"query", "/tmp", "--tz", "Nowhere/Atlantis"}, "unknown time zone \"Nowhere/Atlantis\""},
      {{"report", "/tmp", "--tz", d.file("passwd")},
       "unknown time zone \"" + d.file("passwd") + "\""},
      // A period that ends before it begins, or as it begins, holds no call.
      {{"query", "/tmp", "--tz", "UTC", "--from", "2024-03-05", "--to", "2024-03-04"},
       "--from \"2024-03-05\" is not before --to \"2024-03-04\": the period holds no time"},
      {{"report", "/tmp", "--tz", "UTC", "--from", "2024-03-05T10:00+01:00", "--to",
        "2024-03-05T09:00Z"},
       "--from \"2024-03-05T10:00+01:00\" is not before --to \"2024-03-05T09:00Z\": the period "
       "holds no time"},
      {{"audit", "/tmp", "--tz", "UTC", "--from", "2024-03-05T10:00", "--to", "2024-03-05T10:00"},
       "--from \"2024-03-05T10:00\" is not before --to \"2024-03-05T10:00\": the period holds "
       "no time"},
  };
  for (const usagecase& c : cases) {
    procresult r = runcdr(c.args);
    EXPECT_EQ(r.code, 2) << describe(r);
    EXPECT_EQ(r.err.substr(0, r.err.find('\n')), "pktav-cdr: " + c.message);
    EXPECT_EQ(r.out, "");
  }
  // A store that does not exist is no finding but a mistake.
  for (const char* cmd : {"query", "report", "audit"}) {
    procresult r = runcdr({cmd, "/nonexistent-store", "--tz", "UTC"});
    EXPECT_EQ(r.code, 2) << describe(r);
    EXPECT_EQ(r.err, "pktav-cdr: /nonexistent-store: No such file or directory\n");
  }
}

TEST(CdrUsage, HelpAndVersionGoToStandardOutput) {
  procresult r = runcdr({"--version"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out.rfind("pktav-cdr (pktav) ", 0), 0u) << r.out;
  for (const char* cmd : {"query", "report", "audit"}) {
    r = runcdr({cmd, "--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.rfind(std::string("usage: pktav-cdr ") + cmd, 0), 0u) << r.out;
    EXPECT_NE(r.out.find("--tz ZONE"), std::string::npos);
  }
}

// The commands of the usage message, and the options each one's --help
// names.
std::map<std::string, std::set<std::string>> helpoptions() {
  std::map<std::string, std::set<std::string>> named;
  std::istringstream usage(runcdr({"--help"}).out);
  const std::regex command(R"(^(usage: |\s+)pktav-cdr ([a-z]+) )"), option("--[a-z][a-z-]*");
  std::smatch m;
  for (std::string line; std::getline(usage, line);) {
    if (!std::regex_search(line, m, command)) continue;
    std::string help = runcdr({m[2], "--help"}).out;
    auto& opts = named[m[2]];
    for (std::sregex_iterator it(help.begin(), help.end(), option), end; it != end; ++it)
      opts.insert(it->str());
  }
  return named;
}

// A command refuses an option of another: tried with a value and without
// (the one form getopt takes of an option with a value or without).
bool refuses(const std::string& command, const std::string& option, const tmpdir& dir) {
  const std::vector<std::string> forms[] = {
      {command, dir.file("none"), "--tz", "UTC", option + "=" + dir.file("value")},
      {command, dir.file("none"), "--tz", "UTC", option},
  };
  for (const auto& args : forms)
    if (runcdr(args).err.find("does not go with this command") != std::string::npos) return true;
  return false;
}

TEST(CdrUsage, EachCommandTakesTheOptionsItsHelpNamesAndNoOthers) {
  tmpdir dir;
  auto named = helpoptions();
  ASSERT_GE(named.size(), 3u);
  std::set<std::string> every;
  for (const auto& [command, opts] : named) every.insert(opts.begin(), opts.end());
  for (const auto& [command, opts] : named)
    for (const std::string& option : every)
      EXPECT_EQ(refuses(command, option, dir), opts.count(option) == 0) << command << " " << option;
}

// A Berlin store over both changes of 2024 and the autumn of 2025.
class CdrDst : public ::testing::Test {
 protected:
  void SetUp() override {
    // Spring: 02:00 does not happen; a minute-long call spans the gap.
    addtostore(store.path(), hourfilepath(2024, 3, 31, 1), ":4201|12|1|310324015930|15|||02\n");
    addtostore(store.path(), hourfilepath(2024, 3, 31, 3), ":4201|12|2|310324030010|15|||02\n");
    // Autumn 2024: the lines of the repeated hour step back once, so the
    // order of the file tells the two passes apart.
    addtostore(store.path(), hourfilepath(2024, 10, 27, 2),
               ":4201|12|3|271024021000|15|||02\n"
               ":4202|12|4|271024025000|15|||02\n"
               ":4203|12|5|271024020500|15|||02\n"
               ":4204|12|6|271024024000|15|||02\n");
    // The first call after the hour, begun in its second pass.
    addtostore(store.path(), hourfilepath(2024, 10, 27, 3), ":4205|12|7|271024030030|30|||02\n");
    // Autumn 2025: no step back, so nothing proves which pass either is.
    addtostore(store.path(), hourfilepath(2025, 10, 26, 2),
               ":4206|12|8|261025021000|15|||02\n"
               ":4207|12|9|261025022000|15|||02\n");
  }
  tmpdir store;
};

std::string times(const std::string& csv) {
  // end, start and ambiguous of each row.
  std::string out;
  size_t pos = csv.find('\n') + 1;
  while (pos < csv.size()) {
    size_t eol = csv.find('\r', pos);
    std::string row = csv.substr(pos, eol - pos);
    out += row.substr(0, 51) + " " + row.back() + "\n";
    pos = eol + 2;
  }
  return out;
}

TEST_F(CdrDst, BothChangesOfBerlinKeepTheirOffsets) {
  procresult r = runcdr({"query", store.path(), "--tz", "Europe/Berlin"});
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(times(r.out),
            "2024-03-31T01:59:30+01:00,2024-03-31T01:58:30+01:00 0\n"
            "2024-03-31T03:00:10+02:00,2024-03-31T01:59:10+01:00 0\n"
            "2024-10-27T02:10:00+02:00,2024-10-27T02:09:00+02:00 0\n"
            "2024-10-27T02:50:00+02:00,2024-10-27T02:49:00+02:00 0\n"
            "2024-10-27T02:05:00+01:00,2024-10-27T02:04:00+01:00 0\n"
            "2024-10-27T02:40:00+01:00,2024-10-27T02:39:00+01:00 0\n"
            "2024-10-27T03:00:30+01:00,2024-10-27T02:58:30+01:00 0\n"
            "2025-10-26T02:10:00+02:00,2025-10-26T02:09:00+02:00 1\n"
            "2025-10-26T02:20:00+02:00,2025-10-26T02:19:00+02:00 1\n");
}

TEST_F(CdrDst, StrictReadingMarksEveryRepeatedTimeAmbiguous) {
  procresult r = runcdr({"query", store.path(), "--tz", "Europe/Berlin", "--strict-dst", "--from",
                         "2024-10-27", "--to", "2024-10-27"});
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(times(r.out),
            "2024-10-27T02:10:00+02:00,2024-10-27T02:09:00+02:00 1\n"
            "2024-10-27T02:50:00+02:00,2024-10-27T02:49:00+02:00 1\n"
            "2024-10-27T02:05:00+02:00,2024-10-27T02:04:00+02:00 1\n"
            "2024-10-27T02:40:00+02:00,2024-10-27T02:39:00+02:00 1\n"
            "2024-10-27T03:00:30+01:00,2024-10-27T02:58:30+01:00 0\n");
}

TEST_F(CdrDst, TwoStepsBackProveNothing) {
  addtostore(store.path(), hourfilepath(2024, 10, 27, 2), ":4208|12|10|271024020100|15|||02\n");
  procresult r = runcdr({"query", store.path(), "--tz", "Europe/Berlin", "--format", "json",
                         "--from", "2024-10-27T02:00+02:00", "--to", "2024-10-27T03:00+01:00"});
  EXPECT_EQ(r.code, 0) << describe(r);
  // The call after the hour ends at 02:00:30 UTC, past the period.
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 5);
  size_t ambiguous = 0;
  for (size_t p = 0; (p = r.out.find("\"ambiguous\":true", p)) != std::string::npos; ++p)
    ++ambiguous;
  EXPECT_EQ(ambiguous, 5u) << r.out;
}

}  // namespace
