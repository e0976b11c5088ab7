// The watch's rules and alarms: files with mistakes, each named with its
// line; each kind of rule on a small store written here, with the calls
// that raise it and those that must not; a month of pabxsim's calls with
// fraud and a silence planted in it, where exactly those are raised.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cdr/rules.h"
#include "support/cdrstore.h"
#include "support/e2e.h"
#include "support/tmpdir.h"
#include "tools/common/civil.h"

namespace {

TEST(CdrWatchRules, EachMistakeIsNamedWithItsLine) {
  struct row {
    const char* text;
    const char* problem;  // "LINE: what", the first problem
  };
  const row rows[] = {
      {"x blah\n", "1: kind \"blah\": not destination, long, burst, cost or silence"},
      {"\n# note\nx long\n", "3: a long rule needs over="},
      {"x\n", "1: a rule is a name, a kind and its settings: no kind"},
      {"x long over=2x", "1: over \"2x\": not a duration (a number and s, m or h: 90s, 10m, 2h)"},
      {"x long over=745h", "1: over \"745h\": more than 31 days"},
      {"x cost over=1.23456", "1: over \"1.23456\": a price with more than four decimal places"},
      {"x burst by=station window=10m", "1: a burst rule counts one of calls=, minutes= or cost="},
      {"x burst by=desk calls=1 window=1m", "1: by \"desk\": not station or trunk"},
      {"x destination prefix=0a", "1: prefix \"0a\": not dialled digits joined by commas"},
      {"x destination prefix=1,,2",
       "1: prefix \"1,,2\": an empty prefix (digits joined by commas: 19,0900)"},
      {"x destination prefix=1 outside=Mon-Fri/08:00-08:00",
       "1: outside \"Mon-Fri/08:00-08:00\": from and to are the same time: no time at all "
       "(00:00 to 24:00 is all day)"},
      {"x destination prefix=1 outside=Mon/08:00-09:00 within=Tue/08:00-09:00",
       "1: outside= and within= together: one or the other"},
      {"x silence for=1h over=2h",
       "1: \"over=\": not a setting of a silence rule (within=, for=, stations=, trunks= or "
       "department=)"},
      {"x long over=1h over=2h", "1: over= given twice"},
      {"x long 1h", "1: \"1h\": not a setting NAME=VALUE"},
      {"a long over=1h\na long over=2h\n",
       "2: rule name \"a\": the name of the rule on line 1 too"},
      {"bad/name long over=1h",
       "1: rule name \"bad/name\": letters, digits, '_', '-' and '.' only"},
      {"x long over=1h department=\"Sales", "1: a quote that does not close"},
      {"x long over=1h department=", "1: department \"\": no department named"},
      {"x long over=1h department=\"a\x01"
       "b\" y=\x02"
       "0123456789012345678901234567890123456789",
       "1: \"department=a\\x01b\": a control character"},
      {"# nothing but a comment\n", "0: no rules"},
  };
  for (const row& r : rows) {
    watchrules rules;
    std::vector<fileproblem> problems;
    EXPECT_FALSE(rules.parse(r.text, "r", &problems)) << r.text;
    ASSERT_FALSE(problems.empty()) << r.text;
    EXPECT_EQ(std::to_string(problems[0].line) + ": " + problems[0].what, r.problem) << r.text;
  }
  watchrules rules;
  std::vector<fileproblem> problems;
  ASSERT_TRUE(
      rules.parse("\xef\xbb\xbfp destination prefix=19,0900 outside=Mon-Fri/07:00-19:00 # x\n"
                  "b\tburst by=trunk minutes=90 window=2h prefix=00 department=\"Head office\"\r\n",
                  "r", &problems));
  EXPECT_TRUE(problems.empty());
  ASSERT_EQ(rules.rules().size(), 2u);
  const watchrule &p = rules.rules()[0], &b = rules.rules()[1];
  EXPECT_EQ(p.prefixes, (std::vector<std::string>{"19", "0900"}));
  EXPECT_TRUE(p.outside && p.when && !p.when->holds({6, 10 * 60}) && p.when->holds({0, 7 * 60}));
  EXPECT_TRUE(b.bytrunk && b.measure == burstmeasure::seconds && b.limit == 90 * 60 &&
              b.seconds == 7200 && b.department == "Head office" && b.line == 2);
}

// Calls as the store holds them, from "YYYY-MM-DDThh:mm:ss STATION TRUNK
// DIALLED SECONDS" (-1 seconds: too long to count): outgoing calls, added
// to the hour files of their ends, each file then in the order its calls
// end, as the packer writes them.
void plantcalls(const std::string& root, const std::vector<std::string>& calls) {
  std::vector<std::string> files;
  for (const std::string& c : calls) {
    files.emplace_back();
    std::string line = outgoingline(c, &files.back());
    addtostore(root, files.back(), line);
  }
  for (const std::string& f : files) {
    std::istringstream in(readfile(root + "/" + f));
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l + "\n");
    auto end = [](const std::string& l) {  // hhmmss, after the third '|'
      return l.substr(l.find('|', l.find('|', l.find('|') + 1) + 1) + 7, 6);
    };
    std::stable_sort(lines.begin(), lines.end(),
                     [&](const std::string& x, const std::string& y) { return end(x) < end(y); });
    std::string text;
    for (const std::string& l : lines) text += l;
    writefile(root + "/" + f, text);
  }
}

// "TIME RULE STATE" of each alarm of the text output, a line each.
std::string alarmsof(const std::string& out) {
  std::istringstream in(out);
  std::string got;
  for (std::string l; std::getline(in, l);) {
    std::istringstream words(l);
    std::string time, rule, kind, state;
    words >> time >> rule >> kind >> state;
    if (state.ends_with(':')) state.pop_back();  // an alarm of no station, trunk or number
    got += time + " " + rule + " " + state + "\n";
  }
  return got;
}

const char* const tarifftext =
    "prefix,destination,days,from,to,setup,per_minute,first,step,pulse\n"
    ",Local,*,00:00,24:00,0,0.01,60,60,0\n"
    "00,International,*,00:00,24:00,0,1.00,60,60,0\n";
const char* const directorytext = "station,name,department\n4200,A,Sales/North\n4201,B,Accounts\n";

TEST(CdrWatchKinds, EachKindRaisesOnWhatItIsFor) {
  struct watchcase {
    const char* rules;
    std::vector<std::string> calls, options;
    const char* alarms;
  };
  const watchcase cases[] = {
      // By the start: the call at 07:01 began at 06:59.
      {"p destination prefix=0900,19 outside=Mon-Fri/07:00-19:00",
       {"2024-03-10T03:14:40 4207 12 0900123456 180", "2024-03-11T10:00:00 4207 12 0900123456 60",
        "2024-03-11T19:00:40 4207 12 19123 20", "2024-03-11T19:00:40 4207 12 0800123 20",
        "2024-03-11T07:01:00 4207 12 0900 120"},
       {},
       "2024-03-10T03:14:40+01:00 p raised\n2024-03-11T07:01:00+01:00 p raised\n"
       "2024-03-11T19:00:40+01:00 p raised\n"},
      {"w destination prefix=00 within=Sat,Sun/00:00-24:00 stations=4200-4299",
       {"2024-03-09T12:00:00 4250 3 0044 60", "2024-03-09T12:10:00 4300 3 0044 60",
        "2024-03-08T12:00:00 4250 3 0044 60"},
       {},
       "2024-03-09T12:00:00+01:00 w raised\n"},
      {"l long over=2h",
       {"2024-03-05T12:00:00 4200 1 0612 7200", "2024-03-05T13:00:00 4200 1 0612 7204",
        "2024-03-05T14:00:00 4200 1 0612 -1"},
       {},
       "2024-03-05T13:00:00+01:00 l raised\n2024-03-05T14:00:00+01:00 l raised\n"},
      // A second episode after the first has ended; another station, and
      // calls of other prefixes, count on their own.
      {"b burst by=station calls=3 window=10m prefix=00",
       {"2024-03-05T10:00:00 4300 1 0044 20", "2024-03-05T10:02:00 4300 2 0044 20",
        "2024-03-05T10:04:00 4300 3 0044 20", "2024-03-05T10:05:00 4300 3 0612 20",
        "2024-03-05T10:05:30 4301 4 0044 20", "2024-03-05T10:06:00 4300 5 0033 20",
        "2024-03-05T10:07:00 4301 4 0044 20", "2024-03-05T10:08:00 4301 4 0044 20",
        "2024-03-05T10:30:00 4300 1 0044 20", "2024-03-05T10:31:00 4300 1 0044 20",
        "2024-03-05T10:32:00 4300 1 0044 20", "2024-03-05T10:33:00 4300 1 0044 20",
        "2024-03-05T11:00:00 4300 1 0612 20"},
       {},
       "2024-03-05T10:06:00+01:00 b raised\n2024-03-05T10:10:00+01:00 b cleared\n"
       "2024-03-05T10:33:00+01:00 b raised\n2024-03-05T10:40:00+01:00 b cleared\n"},
      // Minutes of talk on a trunk; the period's end clears it.
      {"t burst by=trunk minutes=30 window=1h",
       {"2024-03-05T09:00:00 4200 7 0612 1200", "2024-03-05T09:30:00 4201 7 0612 1200",
        "2024-03-05T09:40:00 4202 8 0612 1200"},
       {"--to", "2024-03-05T12:00"},
       "2024-03-05T09:30:00+01:00 t raised\n2024-03-05T10:00:00+01:00 t cleared\n"},
      // 60 s cost 1.00, 64 s are billed 120 s.
      {"c cost over=1.00\ncb burst by=station cost=2.00 window=1h",
       {"2024-03-05T09:00:00 4200 7 0044 60", "2024-03-05T09:10:00 4200 7 0044 64",
        "2024-03-05T09:20:00 4200 7 0612 6000"},
       {"--tariff", "TARIFF", "--to", "2024-03-05T12:00"},
       "2024-03-05T09:10:00+01:00 c raised\n2024-03-05T09:10:00+01:00 cb raised\n"
       "2024-03-05T10:10:00+01:00 cb cleared\n"},
      // The night and the weekend do not count within working hours; they
      // do without.
      {"q silence for=2h within=Mon-Fri/08:00-18:00\na silence for=3h",
       {"2024-03-04T17:30:00 4200 1 0612 20", "2024-03-05T10:30:00 4200 1 0612 20"},
       {"--from", "2024-03-04T16:00", "--to", "2024-03-05T11:00"},
       "2024-03-04T20:30:00+01:00 a raised\n2024-03-05T09:30:00+01:00 q raised\n"
       "2024-03-05T10:30:00+01:00 q cleared\n2024-03-05T10:30:00+01:00 a cleared\n"},
      {"q silence for=2h within=Mon-Fri/08:00-18:00\na silence for=3h",
       {"2024-03-08T17:00:00 4200 1 0612 20", "2024-03-11T08:30:00 4200 1 0612 20",
        "2024-03-11T09:00:00 4200 1 0612 20"},
       {"--from", "2024-03-08T16:00", "--to", "2024-03-11T09:30"},
       "2024-03-08T20:00:00+01:00 a raised\n2024-03-11T08:30:00+01:00 a cleared\n"},
      {"d long over=1m department=Sales\ntr long over=1m trunks=5-6",
       {"2024-03-05T09:00:00 4200 7 0612 120", "2024-03-05T09:10:00 4201 7 0612 120",
        "2024-03-05T09:20:00 4201 5 0612 120"},
       {"--directory", "DIRECTORY"},
       "2024-03-05T09:00:00+01:00 d raised\n2024-03-05T09:20:00+01:00 tr raised\n"},
  };
  for (const watchcase& c : cases) {
    tmpdir dir, store;
    writefile(dir.file("rules"), c.rules);
    writefile(dir.file("tariff.csv"), tarifftext);
    writefile(dir.file("stations.csv"), directorytext);
    plantcalls(store.path(), c.calls);
    std::vector<std::string> args{"watch", "--rules",       dir.file("rules"),
                                  "--tz",  "Europe/Berlin", store.path()};
    for (const std::string& o : c.options)
      args.push_back(o == "TARIFF"      ? dir.file("tariff.csv")
                     : o == "DIRECTORY" ? dir.file("stations.csv")
                                        : o);
    procresult r = runcdr(args);
    EXPECT_EQ(r.code, *c.alarms ? 1 : 0) << c.rules << "\n" << describe(r);
    EXPECT_EQ(alarmsof(r.out), c.alarms) << c.rules << "\n" << r.out;
    EXPECT_EQ(r.err, "") << c.rules;
  }
}

TEST(CdrWatchKinds, AnAlarmAsTextAndAsJson) {
  tmpdir dir, store;
  writefile(dir.file("rules"), "premium destination prefix=0900 outside=Mon-Fri/07:00-19:00\n");
  plantcalls(store.path(), {"2024-03-10T03:14:40 4207 12 0900123456 180"});
  std::string file = store.path() + "/" + hourfilepath(2024, 3, 10, 3);
  std::vector<std::string> args{"watch", "--rules",       dir.file("rules"),
                                "--tz",  "Europe/Berlin", store.path()};
  procresult r = runcdr(args);
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_EQ(r.out,
            "2024-03-10T03:14:40+01:00 premium destination raised station 4207 trunk 12 "
            "dialled 0900123456: prefix 0900, started Sun 03:11, outside "
            "Mon-Fri/07:00-19:00: " +
                file + ":1: \":4207|12|0900123456|100324031440|45|||02\"\n");
  args.push_back("--json");
  r = runcdr(args);
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_EQ(
      r.out,
      "{\"time\":\"2024-03-10T03:14:40+01:00\",\"rule\":\"premium\",\"kind\":\"destination\","
      "\"state\":\"raised\",\"station\":\"4207\",\"trunk\":\"12\",\"dialled\":\"0900123456\","
      "\"detail\":\"prefix 0900, started Sun 03:11, outside Mon-Fri/07:00-19:00\",\"file\":\"" +
          file + "\",\"lineno\":1,\"line\":\":4207|12|0900123456|100324031440|45|||02\"}\n");
  // A silence is about no call: no station, trunk, number or line.
  writefile(dir.file("rules"), "quiet silence for=1h\n");
  args.insert(args.end(), {"--to", "2024-03-10T05:00"});
  r = runcdr(args);
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_EQ(r.out,
            "{\"time\":\"2024-03-10T04:14:40+01:00\",\"rule\":\"quiet\",\"kind\":\"silence\","
            "\"state\":\"raised\",\"station\":null,\"trunk\":null,\"dialled\":null,"
            "\"detail\":\"no call for 1h since Sun 03:14\",\"file\":null,\"lineno\":null,"
            "\"line\":null}\n");
}

TEST(CdrWatchRules, CheckAndWatchNameTheSameMistakes) {
  tmpdir dir, store;
  std::string rules = dir.file("rules"), tariff = dir.file("t.csv"), stations = dir.file("s.csv");
  writefile(tariff, tarifftext);
  writefile(stations, directorytext);
  writefile(rules, "# name kind settings\nok long over=2h\nbad long over=2\n");
  procresult check = runcdr({"check", "--rules", rules});
  EXPECT_EQ(check.code, 2) << describe(check);
  EXPECT_EQ(check.err,
            "pktav-cdr: " + rules +
                ":3: over \"2\": not a duration (a number and s, m or h: 90s, 10m, 2h)\n");
  // Sound in itself, the rules want a tariff and a directory that names
  // the department.
  writefile(rules, "ok long over=2h\ndear cost over=5\nwho long over=1h department=Sales/South\n");
  check = runcdr({"check", "--rules", rules});
  EXPECT_EQ(check.code, 2) << describe(check);
  EXPECT_EQ(check.err, "pktav-cdr: " + rules + ":2: rule dear: a cost needs --tariff\npktav-cdr: " +
                           rules + ":3: rule who: department= needs --directory\n");
  std::vector<std::string> files{"--rules", rules, "--tariff", tariff, "--directory", stations};
  check = runcdr({"check", files[0], files[1], files[2], files[3], files[4], files[5]});
  EXPECT_EQ(check.code, 2) << describe(check);
  EXPECT_EQ(check.err, "pktav-cdr: " + rules + ":3: rule who: no department \"Sales/South\" in " +
                           stations + "\n");
  procresult watch = runcdr({"watch", files[0], files[1], files[2], files[3], files[4], files[5],
                             "--tz", "UTC", store.path()});
  EXPECT_EQ(watch.code, 2);
  EXPECT_EQ(watch.err, check.err);
  writefile(rules, "ok long over=2h\ndear cost over=5\nwho long over=1h department=Sales\n");
  check = runcdr({"check", files[0], files[1], files[2], files[3], files[4], files[5]});
  EXPECT_EQ(check.code, 0) << describe(check);
  EXPECT_EQ(check.out, tariff + ": 2 rates, 2 destinations\n" + stations +
                           ": 2 stations, 3 departments\n" + rules + ": 3 rules\n");
}

// A month of an office's calls, stored by the packer, with fraud planted
// in it: a station dialling premium numbers on a Sunday night, a burst of
// international calls within ten minutes, one very long call; and the
// calls of a working day from 10:00 to 13:00 taken out.
TEST(CdrWatchMonth, ExactlyThePlantedAlarmsEachOnce) {
  tmpdir dir, store;
  procspec sim{
      .argv = {PABXSIM, "-n", "18500", "-s", "7", "--start", "20" + thisyear() + "-03-01T00:00",
               "--calls-per-hour", "20", "-o", dir.file("raw")},
      .env = {"TZ=UTC"}};
  procresult r = runproc(sim, "", 60000);
  ASSERT_EQ(r.code, 0) << describe(r);
  r = runproc(packer(PKTAV_DEVIROZ7E, {"-v", "-M", "-i", dir.file("raw"), "-o", store.path()}), "",
              60000);
  ASSERT_EQ(r.code, 0) << describe(r);
  int year = 0;  // that the packer filed March in
  for (const auto& e : std::filesystem::directory_iterator(store.path()))
    if (e.path().filename().string().starts_with("03_"))
      year = std::stoi(e.path().filename().string().substr(3));
  ASSERT_GT(year, 0);
  auto day = [&](int from, int weekday) {  // the first such day of March from `from` on
    while (weekdayof(daysfromcivil(year, 3, from)) != weekday) ++from;
    return from;
  };
  auto at = [&](int d, const std::string& rest) {
    char date[16];
    snprintf(date, sizeof date, "%04d-03-%02dT", year, d);
    return date + rest;
  };
  int sunday = day(8, 6), tuesday = day(10, 1), thursday = day(12, 3), wednesday = day(18, 2);
  for (int h = 10; h < 13; ++h)
    std::filesystem::remove(store.path() + "/" + hourfilepath(year, 3, wednesday, h));
  std::vector<std::string> fraud = {
      at(sunday, "03:12:40 4207 150 0900555101 180"),
      at(sunday, "03:20:10 4207 150 0900555102 180"),
      at(sunday, "03:31:00 4207 150 0900555103 180"),
      at(thursday, "12:05:00 4250 170 00441632960 11100"),
      // The last call before the quiet hours and the first after them.
      at(wednesday, "09:59:59 4210 20 0612 60"), at(wednesday, "13:00:00 4211 21 0612 60")};
  for (int k = 0; k < 12; ++k) {
    char call[64];
    snprintf(call, sizeof call, "22:%02d:%02d 4300 161 004420794600%02d 20", (30 + 40 * k) / 60,
             (30 + 40 * k) % 60, k);
    fraud.push_back(at(tuesday, call));
  }
  plantcalls(store.path(), fraud);
  writefile(dir.file("rules"),
            "# name    kind         settings\n"
            "premium   destination  prefix=19,0900 outside=Mon-Fri/07:00-19:00\n"
            "intl      burst        by=station prefix=00 calls=10 window=10m\n"
            "long      long         over=2h\n"
            "quiet     silence      for=2h within=Mon-Fri/08:00-18:00\n"
            "costly    cost         over=25.00\n");
  writefile(dir.file("tariff.csv"),
            "prefix,destination,days,from,to,setup,per_minute,first,step,pulse\n"
            ",Local,*,00:00,24:00,0.05,0.06,60,60,0.01\n"
            "09,Mobile,*,00:00,24:00,0.10,0.24,30,6,0\n"
            "00,International,*,00:00,24:00,0,1.50,30,6,0\n");
  r = runcdr({"watch", "--rules", dir.file("rules"), "--tariff", dir.file("tariff.csv"), "--tz",
              "UTC", "--from", at(1, "00:00"), "--to", at(31, "23:59"), store.path()});
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_EQ(r.err, "");
  std::vector<std::string> want = {
      at(sunday, "03:12:40+00:00 premium raised"),
      at(sunday, "03:20:10+00:00 premium raised"),
      at(sunday, "03:31:00+00:00 premium raised"),
      at(tuesday, "22:07:10+00:00 intl raised"),   // the eleventh call
      at(tuesday, "22:11:10+00:00 intl cleared"),  // ten minutes after the second
      at(wednesday, "11:59:59+00:00 quiet raised"),
      at(wednesday, "13:00:00+00:00 quiet cleared"),
      at(thursday, "12:05:00+00:00 long raised"),
      at(thursday, "12:05:00+00:00 costly raised")};
  // In the order of their times; of one time, in the order of the rules.
  std::stable_sort(want.begin(), want.end(), [](const std::string& a, const std::string& b) {
    return a.substr(0, 25) < b.substr(0, 25);
  });
  std::string wanted;
  for (const std::string& w : want) wanted += w + "\n";
  EXPECT_EQ(alarmsof(r.out), wanted) << r.out;
}

}  // namespace
