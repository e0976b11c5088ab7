// Pricing by a tariff and placing by a station directory: calls priced by
// hand (increments, windows, prefixes, pulses, rounding, the days clocks
// change), the parts they rest on (money, windows, the CSV reader), and
// the files that are wrong, each problem named with its line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cdr/csvfile.h"
#include "cdr/pricing.h"
#include "cdr/select.h"
#include "support/tmpdir.h"

namespace {

TEST(CdrPrice, BilledSecondsByIncrements) {
  struct row {
    uint32_t first, step, seconds, billed;
  };
  const row rows[] = {
      {60, 60, 0, 0},   {60, 60, 1, 60},    {60, 60, 59, 60},   {60, 60, 60, 60},
      {60, 60, 61, 120}, {60, 60, 119, 120}, {60, 60, 120, 120}, {60, 60, 121, 180},
      {30, 6, 0, 0},    {30, 6, 1, 30},     {30, 6, 29, 30},    {30, 6, 30, 30},
      {30, 6, 31, 36},  {30, 6, 35, 36},    {30, 6, 36, 36},    {30, 6, 37, 42},
      {1, 1, 0, 0},     {1, 1, 1, 1},       {1, 1, 2, 2},       {1, 1, 61, 61},
      {0, 60, 1, 60},   {0, 60, 60, 60},    {0, 60, 61, 120},
  };
  for (const row& r : rows)
    EXPECT_EQ(billedseconds(r.seconds, r.first, r.step), r.billed)
        << r.first << "/" << r.step << " " << r.seconds << " s";
}

TEST(CdrPrice, MoneyIsReadExactlyAndShownRoundedHalfUp) {
  struct good {
    const char* text;
    money units;
  };
  for (const good& g : {good{"0", 0}, {"12", 120000}, {"0.05", 500}, {"1.2345", 12345},
                        {"999999.9999", money_maxprice}, {"007.5", 75000}}) {
    money m = -1;
    EXPECT_EQ(parsemoney(g.text, &m), nullptr) << g.text;
    EXPECT_EQ(m, g.units) << g.text;
  }
  for (const char* bad : {"", "-1", "0.12345", "1,5", ".5", "5.", "1e3", " 1", "1000000"}) {
    money m;
    EXPECT_NE(parsemoney(bad, &m), nullptr) << bad;
  }
  struct shown {
    money units;
    const char* two;
    const char* four;
  };
  for (const shown& s : {shown{0, "0.00", "0.0000"}, {49, "0.00", "0.0049"}, {50, "0.01", "0.0050"},
                         {150, "0.02", "0.0150"}, {250, "0.03", "0.0250"},
                         {1234567, "123.46", "123.4567"}, {99995, "10.00", "9.9995"}}) {
    EXPECT_EQ(moneytext(s.units, 2), s.two) << s.units;
    EXPECT_EQ(moneytext(s.units, 4), s.four) << s.units;
  }
}

TEST(CdrPrice, WindowsHoldFromTheirStartToTheirEndByTheDayTheyOpen) {
  struct row {
    const char* window;
    int weekday, minute;  // 0 Monday
    bool holds;
  };
  const row rows[] = {
      {"Mon-Fri/08:00-18:00", 0, 8 * 60, true},   {"Mon-Fri/08:00-18:00", 0, 8 * 60 - 1, false},
      {"Mon-Fri/08:00-18:00", 4, 18 * 60 - 1, true}, {"Mon-Fri/08:00-18:00", 4, 18 * 60, false},
      {"Mon-Fri/08:00-18:00", 5, 10 * 60, false}, {"Fri/18:00-08:00", 4, 23 * 60, true},
      {"Fri/18:00-08:00", 5, 7 * 60 + 59, true},  {"Fri/18:00-08:00", 5, 8 * 60, false},
      {"Fri/18:00-08:00", 4, 7 * 60, false},      {"Sun/18:00-08:00", 0, 0, true},
      {"*/00:00-24:00", 6, 1439, true},           {"Fri-Mon/00:00-24:00", 6, 0, true},
      {"Fri-Mon/00:00-24:00", 1, 0, false},       {"mon-thu,sat/10:00-11:00", 5, 600, true},
      {"mon-thu,sat/10:00-11:00", 4, 600, false},
  };
  for (const row& r : rows) {
    window w;
    ASSERT_EQ(parsewindow(r.window, &w), nullptr) << r.window;
    EXPECT_EQ(w.holds({r.weekday, r.minute}), r.holds) << r.window << " " << r.weekday << " " << r.minute;
    EXPECT_EQ(w.minutes().test(static_cast<size_t>(r.weekday * 1440 + r.minute)), r.holds) << r.window;
  }
  for (const char* bad : {"Mon-Fri", "Mon-Fri/08:00-08:00", "Mnd/08:00-18:00", "Mon/8:00-18:00",
                          "Mon/24:00-08:00", "Mon/08:00-24:01", "Mon,/08:00-18:00", "/08:00-18:00"}) {
    window w;
    EXPECT_NE(parsewindow(bad, &w), nullptr) << bad;
  }
  EXPECT_EQ(momentof(0).weekday, 3);  // 1 January 1970, a Thursday
}

TEST(CdrPrice, CsvRecordsWithQuotesCommentsAndLineEnds) {
  struct row {
    const char* text;
    const char* records;  // "line:field|field;..." or "error at LINE"
  };
  const row rows[] = {
      {"a,b\r\n1,2\n", "1:a|b;2:1|2;"},
      {"\xef\xbb\xbf# note\n\na,\"b,c\"\n", "3:a|b,c;"},
      {"\"say \"\"hi\"\"\",x", "1:say \"hi\"|x;"},
      {"\"two\nlines\",y\nz,\n", "1:two\nlines|y;3:z|;"},
      {"a,b\n\"open,c\n", "error at 2"},
      {"a,b\"c\n", "error at 1"},
      {"a\n\"q\"x,b\n", "error at 2"},
  };
  for (const row& r : rows) {
    std::vector<csvrecord> recs;
    long line = 0;
    std::string got;
    if (const char* why = parsecsv(r.text, &recs, &line)) {
      got = "error at " + std::to_string(line);
      EXPECT_NE(*why, '\0');
    } else {
      for (const csvrecord& c : recs) {
        got += std::to_string(c.line) + ":";
        for (size_t i = 0; i < c.fields.size(); ++i) got += (i ? "|" : "") + c.fields[i];
        got += ";";
      }
    }
    EXPECT_EQ(got, r.records) << r.text;
  }
}

const char* const handtariff =
    "prefix,destination,days,from,to,setup,per_minute,first,step,pulse\n"
    ",Local,Mon-Fri,08:00,18:00,0.0500,0.0600,60,60,0\n"  // line 2: peak
    ",Local,*,00:00,24:00,0.0500,0.0300,60,60,0\n"        // off-peak
    "06,Mobile,Mon-Fri,18:00,08:00,0.1000,0.1200,30,6,0\n"
    "06,Mobile,*,00:00,24:00,0.1000,0.2400,30,6,0\n"
    "00,International,*,00:00,24:00,0,0.9000,30,6,0\n"
    "0044,UK,*,00:00,24:00,0,0.5000,30,6,0\n"
    "0190,Premium,*,00:00,24:00,0,0,1,1,0.1250\n"
    "07,Night line,*,02:00,03:00,0,1.0000,1,1,0\n"  // the hour clocks skip and repeat
    "07,Day line,*,00:00,24:00,0,0.5000,1,1,0\n"
    "0001,Half,*,00:00,24:00,0,0.0001,30,6,0\n";

struct handcall {
  const char* start;  // in Europe/Berlin unless an offset is given
  uint32_t seconds;   // a multiple of 4, as the store counts them
  const char* dialled;
  uint32_t meter;
  const char* destination;
  const char* billed;  // "" when not billed
  const char* cost;    // "" when it has none
  uint8_t flags = 0x02;
};

// setup + per_minute * billed / 60 + pulse * meter, in ten-thousandths.
const handcall handcalls[] = {
    // Increments (Mobile by day, 30/6): 0 s bills nothing, not even the setup.
    {"2024-03-05T10:00", 0, "0612345", 0, "Mobile", "0", "0.0000"},
    {"2024-03-05T10:00", 4, "0612345", 0, "Mobile", "30", "0.2200"},    // 1000 + 2400*30/60
    {"2024-03-05T10:00", 28, "0612345", 0, "Mobile", "30", "0.2200"},
    {"2024-03-05T10:00", 32, "0612345", 0, "Mobile", "36", "0.2440"},   // 1000 + 1440
    {"2024-03-05T10:00", 36, "0612345", 0, "Mobile", "36", "0.2440"},
    {"2024-03-05T10:00", 40, "0612345", 0, "Mobile", "42", "0.2680"},   // 1000 + 1680
    {"2024-03-04T08:00", 64, "5551234", 0, "Local", "120", "0.1700"},   // 500 + 600*2
    // Windows: the night rate from 18:00 on weekdays to 08:00 the next day.
    {"2024-03-04T17:59", 60, "0612345", 0, "Mobile", "60", "0.3400"},   // Mon day
    {"2024-03-04T18:00", 60, "0612345", 0, "Mobile", "60", "0.2200"},   // Mon night
    {"2024-03-05T07:59", 60, "0612345", 0, "Mobile", "60", "0.2200"},   // opened Monday
    {"2024-03-05T08:00", 60, "0612345", 0, "Mobile", "60", "0.3400"},   // `to` is not in it
    {"2024-03-09T07:59", 60, "0612345", 0, "Mobile", "60", "0.2200"},   // Sat: opened Friday
    {"2024-03-09T08:00", 60, "0612345", 0, "Mobile", "60", "0.3400"},
    {"2024-03-10T23:00", 60, "0612345", 0, "Mobile", "60", "0.3400"},   // Sun: not a night
    {"2024-03-11T07:59", 60, "0612345", 0, "Mobile", "60", "0.3400"},   // Mon: Sunday opened none
    {"2024-03-04T08:00", 60, "5551234", 0, "Local", "60", "0.1100"},    // 500 + 600
    {"2024-03-09T10:00", 60, "5551234", 0, "Local", "60", "0.0800"},    // 500 + 300
    // Prefixes: the longest wins; the empty one takes the rest.
    {"2024-03-05T10:00", 60, "00441234567", 0, "UK", "60", "0.5000"},
    {"2024-03-05T10:00", 60, "00491234567", 0, "International", "60", "0.9000"},
    {"2024-03-05T10:00", 60, "0", 0, "Local", "60", "0.1100"},
    {"2024-03-05T10:00", 60, "", 0, "Local", "60", "0.1100"},
    // Pulses, whatever the duration.
    {"2024-03-05T10:00", 60, "0190123", 3, "Premium", "60", "0.3750"},
    {"2024-03-05T10:00", 0, "0190123", 2, "Premium", "0", "0.2500"},
    // Half a ten-thousandth rounds up: 1 * 30 / 60.
    {"2024-03-05T10:00", 4, "0001", 0, "Half", "30", "0.0001"},
    // Clocks change: 02:00-03:00 is skipped on 31 March and repeated on
    // 27 October; a rate applies by the start as the zone shows it.
    {"2024-03-31T01:59", 60, "0712", 0, "Day line", "60", "0.5000"},
    {"2024-03-31T03:00+02:00", 60, "0712", 0, "Day line", "60", "0.5000"},
    {"2024-10-27T02:30+02:00", 60, "0712", 0, "Night line", "60", "1.0000"},
    {"2024-10-27T02:30+01:00", 60, "0712", 0, "Night line", "60", "1.0000"},
    {"2024-10-27T03:00+01:00", 60, "0712", 0, "Day line", "60", "0.5000"},
    // Incoming calls cost 0; marked ones are unpriced.
    {"2024-03-05T10:00", 60, "", 0, "incoming", "", "0.0000", 0x81},
    {"2024-03-05T10:00", 999999 * 4, "0612345", 0, "unpriced", "", ""},
};

// A call of `seconds` starting at `start`.
readcall callat(tzone& zone, const handcall& h) {
  timebound b;
  EXPECT_TRUE(parsebound(h.start, &b)) << h.start;
  readcall c;
  int64_t start = b.offset ? wallsecs(b.w) - *b.offset : zone.resolve(b.w).first;
  c.call.ticks = h.seconds / 4;
  c.end = start + (c.call.marked() ? 0 : h.seconds);
  c.call.dialled = h.dialled;
  c.call.meter = h.meter;
  c.call.flags = h.flags;
  return c;
}

TEST(CdrPrice, CallsPricedByHand) {
  tmpdir dir;
  writefile(dir.file("tariff.csv"), handtariff);
  std::string path = dir.file("tariff.csv");
  pricing p;
  std::vector<fileproblem> problems;
  ASSERT_TRUE(p.load(&path, nullptr, &problems));
  EXPECT_TRUE(problems.empty()) << problemtext(problems.front());
  tzone zone("Europe/Berlin");
  for (const handcall& h : handcalls) {
    pricedcall c = p.price(callat(zone, h), zone);
    SCOPED_TRACE(std::string(h.start) + " " + h.dialled + " " + std::to_string(h.seconds) + " s");
    EXPECT_EQ(p.rates().destinations()[c.destination], h.destination);
    EXPECT_EQ(c.rated() ? std::to_string(c.billed) : "", h.billed);
    EXPECT_EQ(c.costed() ? moneytext(c.cost, 4) : "", h.cost);
  }
}

TEST(CdrPrice, ANumberNoRateTakesIsUnrated) {
  tmpdir dir;
  std::string path = dir.file("t.csv");
  writefile(path, "prefix,destination,days,from,to,setup,per_minute,first,step,pulse\n"
                  "0,Trunk,Mon-Fri,08:00,18:00,0,1,60,60,0\n");
  pricing p;
  std::vector<fileproblem> problems;
  ASSERT_TRUE(p.load(&path, nullptr, &problems));
  tzone zone("UTC");
  for (handcall h : {handcall{"2024-03-05T10:00", 60, "4201", 0, "unrated", "", ""},
                     handcall{"2024-03-09T10:00", 60, "0612", 0, "unrated", "", ""},
                     handcall{"2024-03-05T10:00", 60, "0612", 0, "Trunk", "60", "1.0000"}}) {
    pricedcall c = p.price(callat(zone, h), zone);
    EXPECT_EQ(p.rates().destinations()[c.destination], h.destination) << h.start << " " << h.dialled;
    EXPECT_EQ(c.costed() ? moneytext(c.cost, 4) : "", h.cost);
  }
}

const char* const header = "prefix,destination,days,from,to,setup,per_minute,first,step,pulse\n";

struct badfile {
  bool istariff;
  std::string text;
  std::vector<std::string> problems;  // after "FILE:"
};

const badfile badfiles[] = {
    {true,
     std::string(header) +
         ",Local,Mnd,08:00,18:00,0.05,0.06,60,60,0\n"
         ",Local,Mon-Fri,8:00,18:00,0.05,0.06,60,60,0\n"
         ",Local,Mon-Fri,08:00,24:01,0.05,0.06,60,60,0\n"
         ",Local,*,08:00,08:00,0.05,0.06,60,60,0\n"
         ",Local,*,00:00,24:00,0.12345,0.06,60,60,0\n"
         ",Local,*,00:00,24:00,0.05,-0.06,60,60,0\n"
         ",Local,*,00:00,24:00,0.05,0.06,60,0,0\n"
         "0x1,Local,*,00:00,24:00,0,0,1,1,0\n"
         "00,,*,00:00,24:00,0,0,1,1,0\n"
         "00,unrated,*,00:00,24:00,0,0,1,1,0\n"
         "00,Intl,*,00:00,24:00,0,0.9,30,6\n",
     {"2: days \"Mnd\": not days (*, or Mon..Sun and ranges such as Mon-Fri, joined by commas)",
      "3: from \"8:00\": not a time of day from 00:00 to 23:59",
      "4: to \"24:01\": not a time of day from 00:00 to 24:00",
      "5: from and to are the same time: no time at all (00:00 to 24:00 is all day)",
      "6: setup \"0.12345\": a price with more than four decimal places",
      "7: per_minute \"-0.06\": a negative price", "8: step \"0\": a step of 0 seconds: at least 1",
      "9: prefix \"0x1\": not dialled digits", "10: destination \"\": no name",
      "11: destination \"unrated\": a name pktav-cdr gives calls it does not price by a rate",
      "12: 9 fields, not 10"}},
    {true,
     std::string(header) +
         ",Local,*,00:00,24:00,0,0.03,60,60,0\n"
         ",Local,Mon-Fri,08:00,18:00,0,0.06,60,60,0\n"
         "00,Intl,Mon-Fri,08:00,18:00,0,1,30,6,0\n"
         "00,Intl,\"Sat,Sun\",00:00,24:00,0,0.5,30,6,0\n"
         "00,Intl,Mon-Fri,18:00,08:00,0,0.7,30,6,0\n"
         "00,Intl,Tue,07:00,09:00,0,2,30,6,0\n"
         "00,Intl,*,00:00,24:00,0,0.8,30,6,0\n",
     {"3: warning: never chosen: the rates of its prefix (\"\") on line 2 hold whenever it does, "
      "and come first",
      "7: warning: never chosen: the rates of its prefix (\"00\") on lines 4, 6 hold whenever it "
      "does, and come first"}},
    {true, "prefix,destination,days,from,to,setup,per_minute,first,step\n",
     {"1: the first row names the columns "
      "prefix,destination,days,from,to,setup,per_minute,first,step,pulse"}},
    {true, std::string(header) + "00,\"Intl,*,00:00,24:00,0,1,1,1,0\n", {"2: a quote that does not close"}},
    {true, header, {" no rates"}},
    {true, "", {" no header row: the first row names the columns "
                "prefix,destination,days,from,to,setup,per_minute,first,step,pulse"}},
    {false,
     "station,name,department\n"
     "4201,Ann,Sales/North\n"
     "4201,Bob,Sales\n"
     "0420,Cy,Sales\n"
     "4203,Dee,Sales//North\n"
     "4204,Eve,/Sales\n"
     "4205,\"Fay \",Sales\n"
     "4206,Gus,(none)\n"
     "4207,Hal\n",
     {"3: station 4201 is listed already, on line 2",
      "4: station \"0420\": not a station number (digits, no leading zero)",
      "5: department \"Sales//North\": a department path with an empty part (Sales/North, not "
      "Sales//North or /Sales)",
      "6: department \"/Sales\": a department path with an empty part (Sales/North, not "
      "Sales//North or /Sales)",
      "7: name \"Fay \": a blank at its start or end",
      "8: department \"(none)\": the name of calls in no department", "9: 2 fields, not 3"}},
};

TEST(CdrPrice, EveryProblemOfAFileIsNamedWithItsLine) {
  tmpdir dir;
  std::string path = dir.file("f.csv");
  for (const badfile& b : badfiles) {
    writefile(path, b.text);
    pricing p;
    std::vector<fileproblem> problems;
    bool good = p.load(b.istariff ? &path : nullptr, b.istariff ? nullptr : &path, &problems);
    std::vector<std::string> got;
    bool warnings = true;
    for (const fileproblem& f : problems) {
      got.push_back(problemtext(f).substr(path.size() + 1));
      warnings = warnings && f.warning;
    }
    EXPECT_EQ(got, b.problems) << b.text;
    EXPECT_EQ(good, warnings) << b.text;
  }
  pricing p;
  std::vector<fileproblem> problems;
  std::string missing = dir.file("none.csv");
  EXPECT_FALSE(p.load(&dir.path(), &missing, &problems));
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problemtext(problems[0]), dir.path() + ": not a regular file");
  EXPECT_EQ(problemtext(problems[1]), missing + ": No such file or directory");
}

TEST(CdrPrice, DepartmentsNestAndAreSortedByPath) {
  tmpdir dir;
  std::string path = dir.file("d.csv");
  writefile(path, "name,department,station\nAnn,Sales/North,4201\nBob,Sales North,4202\n"
                  "Cy,,4203\nDee,Accounts,4204\n");
  pricing p;
  std::vector<fileproblem> problems;
  ASSERT_TRUE(p.load(nullptr, &path, &problems));
  const directory& d = p.stations();
  EXPECT_EQ(d.departments(), (std::vector<std::string>{"(none)", "Accounts", "Sales", "Sales/North",
                                                       "Sales North"}));
  uint32_t north = d.departmentof("Sales/North"), sales = d.departmentof("Sales");
  EXPECT_EQ(d.parent(north), sales);
  EXPECT_TRUE(d.within(north, sales));
  EXPECT_FALSE(d.within(d.departmentof("Sales North"), sales));
  EXPECT_EQ(d.find(4203)->department, directory::nodepartment);
  EXPECT_EQ(d.find(4201)->name, "Ann");
  EXPECT_EQ(d.find(4299), nullptr);
}

}  // namespace
