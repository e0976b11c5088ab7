// The watch's rules and alarms: files with mistakes, each named with its
// line; each kind of rule on a small store written here, with the calls
// that raise it and those that must not; a month of pabxsim's calls with
// fraud and a silence planted in it, where exactly those are raised.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "cdr/rules.h"
#include "support/cdrstore.h"
#include "support/e2e.h"
#include "support/tmpdir.h"

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
      {"x long over=0s", "1: over \"0s\": no time at all"},
      {"x long over=745h", "1: over \"745h\": more than 31 days"},
      {"x cost over=1.23456", "1: over \"1.23456\": a price with more than four decimal places"},
      {"x burst by=station window=10m", "1: a burst rule counts one of calls=, minutes= or cost="},
      {"x burst by=trunk calls=1 minutes=2 window=1m",
       "1: a burst rule counts one of calls=, minutes= or cost="},
      {"x burst by=desk calls=1 window=1m", "1: by \"desk\": not station or trunk"},
      {"x burst by=station calls=many window=1m", "1: calls \"many\": not a whole number"},
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
      {"x long over=1h stations=9-1",
       "1: stations \"9-1\": a range from high to low: give the lower number first"},
      {"x long 1h", "1: \"1h\": not a setting NAME=VALUE"},
      {"a long over=1h\na long over=2h\n",
       "2: rule name \"a\": the name of the rule on line 1 too"},
      {"bad/name long over=1h",
       "1: rule name \"bad/name\": letters, digits, '_', '-' and '.' only"},
      {"x long over=1h department=\"Sales", "1: a quote that does not close"},
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

// A call as the store holds it: an outgoing call of a station on a trunk,
// ending at a wall time, `seconds` long (-1: too long to count).
struct plant {
  const char* end;  // YYYY-MM-DDThh:mm:ss
  const char* station;
  const char* trunk;
  const char* dialled;
  int seconds;
};

std::string cdrline(const plant& p) {
  std::string e = p.end;  // DDMMYYhhmmss
  std::string when = e.substr(8, 2) + e.substr(5, 2) + e.substr(2, 2) + e.substr(11, 2) +
                     e.substr(14, 2) + e.substr(17, 2);
  std::string ticks = p.seconds < 0 ? "999999" : p.seconds ? std::to_string(p.seconds / 4) : "";
  return std::string(":") + p.station + "|" + p.trunk + "|" + p.dialled + "|" + when + "|" + ticks +
         "|||02\n";
}

// Adds the calls to the hour files of their ends, each file then in the
// order its calls end, as the packer writes them.
void plantcalls(const std::string& root, const std::vector<plant>& calls) {
  std::vector<std::string> files;
  for (const plant& p : calls) {
    std::string e = p.end;
    files.push_back(hourfilepath(std::stoi(e.substr(0, 4)), std::stoi(e.substr(5, 2)),
                                 std::stoi(e.substr(8, 2)), std::stoi(e.substr(11, 2))));
    addtostore(root, files.back(), cdrline(p));
  }
  std::sort(files.begin(), files.end());
  files.erase(std::unique(files.begin(), files.end()), files.end());
  for (const std::string& f : files) {
    std::istringstream in(readfile(root + "/" + f));
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l + "\n");
    auto end = [](const std::string& l) {  // hhmmss of field 4
      size_t at = 0;
      for (int bar = 0; bar < 3; ++bar) at = l.find('|', at) + 1;
      return l.substr(at + 6, 6);
    };
    std::stable_sort(lines.begin(), lines.end(),
                     [&](const std::string& a, const std::string& b) { return end(a) < end(b); });
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
    std::vector<plant> calls;
    std::vector<std::string> options;
    const char* alarms;
  };
  const watchcase cases[] = {
      // By the start: the call at 07:01 began at 06:59.
      {"p destination prefix=0900,19 outside=Mon-Fri/07:00-19:00",
       {{"2024-03-10T03:14:40", "4207", "12", "0900123456", 180},
        {"2024-03-11T10:00:00", "4207", "12", "0900123456", 60},
        {"2024-03-11T19:00:40", "4207", "12", "19123", 20},
        {"2024-03-11T19:00:40", "4207", "12", "0800123", 20},
        {"2024-03-11T07:01:00", "4207", "12", "0900", 120}},
       {},
       "2024-03-10T03:14:40+01:00 p raised\n2024-03-11T07:01:00+01:00 p raised\n"
       "2024-03-11T19:00:40+01:00 p raised\n"},
      {"w destination prefix=00 within=Sat,Sun/00:00-24:00 stations=4200-4299",
       {{"2024-03-09T12:00:00", "4250", "3", "0044", 60},
        {"2024-03-09T12:10:00", "4300", "3", "0044", 60},
        {"2024-03-08T12:00:00", "4250", "3", "0044", 60}},
       {},
       "2024-03-09T12:00:00+01:00 w raised\n"},
      {"l long over=2h",
       {{"2024-03-05T12:00:00", "4200", "1", "0612", 7200},
        {"2024-03-05T13:00:00", "4200", "1", "0612", 7204},
        {"2024-03-05T14:00:00", "4200", "1", "0612", -1}},
       {},
       "2024-03-05T13:00:00+01:00 l raised\n2024-03-05T14:00:00+01:00 l raised\n"},
      // A second episode after the first has ended; another station, and
      // calls of other prefixes, count on their own.
      {"b burst by=station calls=3 window=10m prefix=00",
       {{"2024-03-05T10:00:00", "4300", "1", "0044", 20},
        {"2024-03-05T10:02:00", "4300", "2", "0044", 20},
        {"2024-03-05T10:04:00", "4300", "3", "0044", 20},
        {"2024-03-05T10:05:00", "4300", "3", "0612", 20},
        {"2024-03-05T10:05:30", "4301", "4", "0044", 20},
        {"2024-03-05T10:06:00", "4300", "5", "0033", 20},
        {"2024-03-05T10:07:00", "4301", "4", "0044", 20},
        {"2024-03-05T10:08:00", "4301", "4", "0044", 20},
        {"2024-03-05T10:30:00", "4300", "1", "0044", 20},
        {"2024-03-05T10:31:00", "4300", "1", "0044", 20},
        {"2024-03-05T10:32:00", "4300", "1", "0044", 20},
        {"2024-03-05T10:33:00", "4300", "1", "0044", 20},
        {"2024-03-05T11:00:00", "4300", "1", "0612", 20}},
       {},
       "2024-03-05T10:06:00+01:00 b raised\n2024-03-05T10:10:00+01:00 b cleared\n"
       "2024-03-05T10:33:00+01:00 b raised\n2024-03-05T10:40:00+01:00 b cleared\n"},
      // Minutes of talk on a trunk; the period's end clears it.
      {"t burst by=trunk minutes=30 window=1h",
       {{"2024-03-05T09:00:00", "4200", "7", "0612", 1200},
        {"2024-03-05T09:30:00", "4201", "7", "0612", 1200},
        {"2024-03-05T09:40:00", "4202", "8", "0612", 1200}},
       {"--to", "2024-03-05T12:00"},
       "2024-03-05T09:30:00+01:00 t raised\n2024-03-05T10:00:00+01:00 t cleared\n"},
      // 60 s cost 1.00, 64 s are billed 120 s.
      {"c cost over=1.00\ncb burst by=station cost=2.00 window=1h",
       {{"2024-03-05T09:00:00", "4200", "7", "0044", 60},
        {"2024-03-05T09:10:00", "4200", "7", "0044", 64},
        {"2024-03-05T09:20:00", "4200", "7", "0612", 6000}},
       {"--tariff", "TARIFF", "--to", "2024-03-05T12:00"},
       "2024-03-05T09:10:00+01:00 c raised\n2024-03-05T09:10:00+01:00 cb raised\n"
       "2024-03-05T10:10:00+01:00 cb cleared\n"},
      // The night and the weekend do not count within working hours; they
      // do without.
      {"q silence for=2h within=Mon-Fri/08:00-18:00\na silence for=3h",
       {{"2024-03-04T17:30:00", "4200", "1", "0612", 20},
        {"2024-03-05T10:30:00", "4200", "1", "0612", 20}},
       {"--from", "2024-03-04T16:00", "--to", "2024-03-05T11:00"},
       "2024-03-04T20:30:00+01:00 a raised\n2024-03-05T09:30:00+01:00 q raised\n"
       "2024-03-05T10:30:00+01:00 q cleared\n2024-03-05T10:30:00+01:00 a cleared\n"},
      {"q silence for=2h within=Mon-Fri/08:00-18:00\na silence for=3h",
       {{"2024-03-08T17:00:00", "4200", "1", "0612", 20},
        {"2024-03-11T08:30:00", "4200", "1", "0612", 20},
        {"2024-03-11T09:00:00", "4200", "1", "0612", 20}},
       {"--from", "2024-03-08T16:00", "--to", "2024-03-11T09:30"},
       "2024-03-08T20:00:00+01:00 a raised\n2024-03-11T08:30:00+01:00 a cleared\n"},
      {"d long over=1m department=Sales\ntr long over=1m trunks=5-6",
       {{"2024-03-05T09:00:00", "4200", "7", "0612", 120},
        {"2024-03-05T09:10:00", "4201", "7", "0612", 120},
        {"2024-03-05T09:20:00", "4201", "5", "0612", 120}},
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

}  // namespace
