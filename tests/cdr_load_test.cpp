// pktav-cdr load and audit --db, run as a user runs them, into SQLite files
// and a PostgreSQL server of the test's own: the rows of query once each,
// whatever is run again; lines that are not calls, torn lines and files
// that change; what is refused; and what the audit of the database finds.
#include "support/cdrload.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/cdrstore.h"
#include "support/tmpdir.h"

namespace {

using CdrLoad = loadtest;

// The columns of calls after line_offset.
const std::string callcolumns =
    "call_end, call_start, duration, duration_mark, station, trunk, other_station, dialled, meter,"
    " charge, flags, trunk_first, class_bits, ambiguous, destination, billed, cost_units, name,"
    " department";

// Puts the tables of an SQLite file back to those of version 3: pktav_calls
// keyed by file_id and line_offset, the view calls over it, with a trigger.
void toversion3(loadtest& t) {
  const std::string& cols = callcolumns;
  t.sql("CREATE TABLE old (file_id INTEGER NOT NULL, line_offset INTEGER NOT NULL, " + cols +
        ", PRIMARY KEY (file_id, line_offset)) WITHOUT ROWID;"
        "INSERT INTO old SELECT file_id, line_offset, " + cols + " FROM pktav_calls;"
        "DROP VIEW calls; DROP TABLE pktav_calls; ALTER TABLE old RENAME TO pktav_calls;"
        "CREATE VIEW calls AS SELECT f.site, f.file, line_offset, " + cols +
        " FROM pktav_calls c JOIN pktav_files f ON f.id = c.file_id;"
        "CREATE TRIGGER pktav_calls_delete INSTEAD OF DELETE ON calls BEGIN"
        " DELETE FROM pktav_calls WHERE file_id = (SELECT id FROM pktav_files"
        " WHERE site = OLD.site AND file = OLD.file) AND line_offset = OLD.line_offset; END;"
        "UPDATE pktav_schema SET version = 3");
}

TEST_P(CdrLoad, HoldsTheRowsOfQueryOnceWhateverIsRunAgain) {
  // Across the end of a month, in one batch.
  sitestore(store, dir.file("stream"), "1500", "2024-01-31T22:00", "7");
  procresult r = load();
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.err, "");
  std::vector<std::string> rows = queryrows(store);
  EXPECT_GT(rows.size(), 1400u);
  EXPECT_EQ(tablerows(), rows);
  r = load();
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(tablerows(), rows);
  r = audit();
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out + r.err, "");
  // More calls of the same hours and of new ones: only they are added.
  sitestore(store, dir.file("stream2"), "300", "2024-02-01T00:30", "8");
  r = load();
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(tablerows(), queryrows(store));
  EXPECT_EQ(sql("SELECT DISTINCT site FROM calls"), "site\n");
}

TEST_P(CdrLoad, NamesALineThatIsNoCallOnceAndWaitsForATornOne) {
  std::string hour = hourfilepath(2024, 3, 4, 9);
  addtostore(store, hour,
             ":4201|12|5551234|040324090736|45|3||02\n"
             "garbage\n"
             ":7|4202||040324093000|999999|||81\n"
             ":4203|13|0049");
  procresult r = load();
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_EQ(occurrences(r.err, ":2: no leading ':': \"garbage\""), 1) << r.err;
  EXPECT_EQ(occurrences(r.err, "torn"), 0) << r.err;
  EXPECT_EQ(sql("SELECT count(*) FROM calls"), "2\n");
  addtostore(store, hour, "301234|040324095959||1|4711|03\n");
  r = load();
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(tablerows(), queryrows(store));
}

// The hour that Berlin's clocks show twice in October: until a call of
// the second pass comes, the first are ambiguous; then they are not, and
// the rows loaded already are put right.
TEST_P(CdrLoad, TheRepeatedHourIsPutRightWhenItsSecondPassComes) {
  std::string hour = hourfilepath(2024, 10, 27, 2);
  addtostore(store, hour,
             ":4201|12|1|271024020500|15|||02\n"
             ":4202|12|2|271024023000|15|||02\n");
  const std::vector<std::string> berlin = {"--tz", "Europe/Berlin"};
  ASSERT_EQ(load(berlin).code, 0);
  EXPECT_EQ(sql("SELECT ambiguous FROM calls ORDER BY line_offset"), pg ? "t\nt\n" : "1\n1\n");
  addtostore(store, hour, ":4203|12|3|271024021000|15|||02\n");
  procresult r = load(berlin);
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(sql("SELECT ambiguous FROM calls ORDER BY line_offset"),
            pg ? "f\nf\nf\n" : "0\n0\n0\n");
  // 02:05 and 02:30 in summer time, 02:10 in winter time.
  EXPECT_EQ(sql(std::string("SELECT ") +
                (pg ? "extract(epoch FROM call_end)::bigint" : "strftime('%s', call_end)") +
                " FROM calls ORDER BY line_offset"),
            "1729987500\n1729989000\n1729991400\n");
  r = audit(berlin);
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out, "");
}

// The file of an hour whose lines the packer writes is cut, made again or
// changed between two loads.
TEST_P(CdrLoad, AFileMadeAgainIsLoadedFromItsStartAndAChangedOneNoMore) {
  std::string again = hourfilepath(2024, 3, 4, 9), edited = hourfilepath(2024, 3, 4, 10),
              cut = hourfilepath(2024, 3, 4, 11), other = hourfilepath(2024, 3, 4, 12),
              torn = hourfilepath(2024, 3, 4, 13);
  addtostore(store, again, ":4201|12|5551234|040324090736|45|3||02\n");
  addtostore(store, edited, ":4202|12|5551234|040324100736|45|3||02\n");
  addtostore(store, cut, ":4203|12|5551234|040324110736|45|3||02\n");
  addtostore(store, other, ":4204|12|5551234|040324120736|45|3||02\n");
  addtostore(store, torn, ":4205|12|5551234|040324130736|45|3||02\n:4206|1");
  ASSERT_EQ(load().code, 0);
  std::vector<std::string> before = tablerows();

  ASSERT_EQ(rename((store + "/" + again).c_str(), dir.file("moved").c_str()), 0);
  addtostore(store, again, ":4211|12|5551234|040324094000|45|3||02\n");
  std::string text = readfile(store + "/" + edited);
  text[2] = '9';  // station 4902
  writefile(store + "/" + edited, text + ":4212|12|5551234|040324104000|45|3||02\n");
  ASSERT_EQ(truncate((store + "/" + cut).c_str(), 10), 0);
  addtostore(store, other, ":4214|12|5551234|040324124000|45|3||02\n");
  // The packer cuts the torn tail off as it opens the file again.
  text = readfile(store + "/" + torn);
  writefile(store + "/" + torn, text.substr(0, text.rfind('\n') + 1) +
                                    ":4215|12|5551234|040324134000|45|3||02\n");
  procresult r = load();
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_EQ(occurrences(r.err, again + " was made again: loading it from its start"), 1) << r.err;
  EXPECT_EQ(occurrences(r.err, edited + ": the part already loaded was changed: nothing more"), 1)
      << r.err;
  EXPECT_EQ(occurrences(r.err, cut + ": it is shorter than the part already loaded"), 1) << r.err;
  // Both calls of the path made again, one each of the changed files, both
  // of the other and of the one whose torn tail was cut.
  EXPECT_EQ(sql("SELECT station FROM calls ORDER BY station"),
            "4201\n4202\n4203\n4204\n4205\n4211\n4214\n4215\n");
  EXPECT_EQ(occurrences(r.err, torn), 0) << r.err;
  r = load();
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_EQ(occurrences(r.err, "nothing more is loaded"), 2) << r.err;
  EXPECT_EQ(occurrences(r.err, "made again"), 0) << r.err;
  // The audit shows the changes, and the earlier file's row as such.
  r = audit();
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_EQ(occurrences(r.out, "\n"), 4) << r.out;
  EXPECT_EQ(occurrences(r.out, "torn " + store + "/" + cut + ":1:"), 1) << r.out;
  EXPECT_EQ(occurrences(r.out, "differs " + store + "/" + edited + ":1:"), 1) << r.out;
  EXPECT_EQ(occurrences(r.out, "unloaded " + store + "/" + edited + ":2:"), 1) << r.out;
  EXPECT_EQ(occurrences(r.out, "extra " + store + "/" + cut + ": a row at offset 0"), 1) << r.out;
  EXPECT_EQ(occurrences(r.err, again + ": 1 rows are those of an earlier file"), 1) << r.err;
}

// What an operator does to resolve a changed file: its rows and position
// deleted, it is loaded again as it is now.
TEST_P(CdrLoad, AChangedFileIsLoadedAgainOnceItsRowsAndPositionGo) {
  std::string hour = hourfilepath(2024, 3, 4, 9);
  addtostore(store, hour, ":4201|12|5551234|040324090736|45|3||02\n");
  ASSERT_EQ(load().code, 0);
  writefile(store + "/" + hour, ":4209|12|5551234|040324090736|45|3||02\n");
  ASSERT_EQ(load().code, 1);
  sql("DELETE FROM calls WHERE site = 'site' AND file = '" + hour + "'");
  sql("DELETE FROM pktav_positions WHERE site = 'site' AND file = '" + hour + "'");
  procresult r = load();
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(tablerows(), queryrows(store));
  EXPECT_EQ(audit().code, 0);
}

struct auditcase {
  const char* change;
  const char* finding;
};

TEST_P(CdrLoad, TheAuditOfTheDatabaseFindsEachDifference) {
  std::string hour = hourfilepath(2024, 3, 4, 9);
  std::string lines =
      ":4201|12|5551234|040324090736|45|3||02\n"
      ":7|4202||040324093000|999999|||81\n";
  const auditcase cases[] = {
      {"DELETE FROM calls WHERE line_offset = 0", "missing"},
      {"UPDATE calls SET station = '4299' WHERE line_offset = 0", "differs"},
      {"UPDATE calls SET meter = 9 WHERE line_offset = 0", "differs"},
      {"UPDATE calls SET duration = NULL WHERE line_offset = 0", "differs"},
      {"INSERT INTO calls (site, file, line_offset, call_end, call_start, duration,"
       " duration_mark, station, trunk, other_station, dialled, meter, charge, flags,"
       " trunk_first, class_bits, ambiguous) SELECT site, file, 7, call_end, call_start,"
       " duration, duration_mark, station, trunk, other_station, dialled, meter, charge, flags,"
       " trunk_first, class_bits, ambiguous FROM calls WHERE line_offset = 0",
       "extra"},
      {"UPDATE calls SET file = '02_2024/04_03_2024/04_03_2024:09' WHERE line_offset = 0",
       "missing"},
  };
  for (const auditcase& c : cases) {
    SCOPED_TRACE(c.change);
    reset();
    addtostore(store, hour, lines);
    ASSERT_EQ(load().code, 0);
    sql(c.change);
    procresult r = audit();
    EXPECT_EQ(r.code, 1) << describe(r);
    EXPECT_EQ(r.out.substr(0, r.out.find(' ')), c.finding) << r.out;
  }
  // A line the loader has not come to yet, and a file gone from the store.
  reset();
  addtostore(store, hour, lines);
  ASSERT_EQ(load().code, 0);
  std::string later = hourfilepath(2024, 3, 4, 10);
  addtostore(store, later, ":4203|13|0049301234|040324105959||1|4711|03\n");
  ASSERT_EQ(unlink((store + "/" + hour).c_str()), 0);
  procresult r = audit();
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_EQ(r.out, "unloaded " + store + "/" + later +
                       ":1: a call not loaded yet: \":4203|13|0049301234|040324105959||1|4711|03\"\n"
                       "gone " + store + "/" + hour +
                       ": 2 rows of a file the store no longer holds\n");
}

// Rows put in, changed and deleted through the view: each keeps to its
// file and offset, up to the last offset and file number that the key of
// SQLite's pktav_calls holds; a row beyond is refused there, never keyed
// in another's place.
TEST_P(CdrLoad, RowsWrittenThroughTheViewKeepToTheirFileAndOffset) {
  std::string hour = hourfilepath(2024, 3, 4, 9);
  addtostore(store, hour, ":4201|12|5551234|040324090736|45|3||02\n");
  ASSERT_EQ(load().code, 0);
  auto copy = [&](const std::string& file, const std::string& offset) {
    return "INSERT INTO calls (site, file, line_offset, " + callcolumns + ") SELECT site, '" +
           file + "', " + offset + ", " + callcolumns + " FROM calls WHERE file = '" + hour +
           "' AND line_offset = 0";
  };
  const std::string listing = "SELECT file, line_offset FROM calls ORDER BY file, line_offset";
  sql(copy(hour, "4294967295"));
  sql(copy("other", "0"));
  sql(copy("other", "1"));
  EXPECT_EQ(sql(listing), hour + "|0\n" + hour + "|4294967295\nother|0\nother|1\n");
  // The audit reads the file's rows by offset: the last one of the key too.
  procresult r = audit();
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_EQ(occurrences(r.out, "\n"), 1) << r.out;
  EXPECT_EQ(occurrences(r.out, "extra " + store + "/" + hour + ": a row at offset 4294967295 "), 1)
      << r.out;
  sql("UPDATE calls SET file = 'other', line_offset = 2 WHERE line_offset = 4294967295");
  sql("DELETE FROM calls WHERE file = 'other' AND line_offset = 0");
  const std::string rows = hour + "|0\nother|1\nother|2\n";
  EXPECT_EQ(sql(listing), rows);
  if (pg) return;

  sql("INSERT INTO pktav_files (id, site, file) VALUES (2147483647, 'site', 'zlast')");
  sql(copy("zlast", "4294967295"));
  EXPECT_EQ(sql(listing), rows + "zlast|4294967295\n");
  struct beyond {
    const char* file;
    const char* offset;
    const char* message;
  };
  const char* const offsets = "calls: line_offset must be a whole number from 0 to 4294967295";
  const beyond cases[] = {
      {"other", "4294967296", offsets},
      {"other", "-1", offsets},
      {"other", "NULL", offsets},
      {"other", "1.5", offsets},
      {"other", "'7'", offsets},
      {"next", "0", "calls: more files than pktav_calls can number (2147483647)"},
  };
  for (const beyond& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.offset);
    std::string error;
    sqlitequery(db(), copy(c.file, c.offset), &error);
    EXPECT_EQ(error, c.message);
    EXPECT_EQ(sql(listing), rows + "zlast|4294967295\n");
  }
}

// Rows priced as query prices the calls: a database of the tables before
// prices (version 1) is upgraded in place, its rows without prices until
// --reprice prices them; a changed tariff priced again over one month
// only, the other keeping its prices; calls loaded later priced as they
// come.
TEST_P(CdrLoad, PricesEachCallAsQueryDoesAndAgainWhenTheTariffChanges) {
  sitestore(store, dir.file("stream"), "1500", "2024-01-31T22:00", "7");
  const std::string rates = dir.file("tariff.csv"), people = dir.file("stations.csv");
  auto tariff = [&](const char* local) {
    writefile(rates, std::string("prefix,destination,days,from,to,setup,per_minute,first,step,pulse\n"
                                 ",Local,*,00:00,24:00,0.05,") +
                         local + ",60,60,0.01\n09,Mobile,Mon-Fri,08:00,18:00,0.10,0.24,30,6,0\n");
  };
  tariff("0.06");
  std::string list = "station,name,department\n";
  for (int n = 4200; n < 4300; n += 2) list += std::to_string(n) + ",P" + std::to_string(n) + ",Sales/North\n";
  writefile(people, list);
  const std::vector<std::string> priced = {"--tariff", rates, "--directory", people};
  auto asloaded = [&](const std::vector<std::string>& more) {
    std::vector<std::string> o = priced;
    o.insert(o.end(), more.begin(), more.end());
    return queryrows(store, o);
  };

  // Tables of version 3 in SQLite, pktav_calls keyed by file and offset; of
  // version 2, calls a table keyed by site, file and offset, and of version
  // 1, the same without the columns of prices: upgraded in one go, the rows
  // as they were. PostgreSQL's are those of version 3 still.
  procresult r;
  for (int version : {3, 2, 1}) {
    SCOPED_TRACE(version);
    if (version == 3 && pg) continue;
    if (version == 1) {
      reset();
      sitestore(store, dir.file("stream"), "1500", "2024-01-31T22:00", "7");
    }
    ASSERT_EQ(load().code, 0);
    if (version == 3)
      toversion3(*this);
    else
      sql(std::string("CREATE TABLE old AS SELECT site, file, line_offset, call_end, call_start,"
                      " duration, duration_mark, station, trunk, other_station, dialled, meter,"
                      " charge, flags, trunk_first, class_bits, ambiguous") +
          (version == 2 ? ", destination, billed, cost_units, name, department" : "") +
          " FROM calls;" + (pg ? "DROP VIEW calls CASCADE; DROP FUNCTION pktav_calls_write();"
                               : "DROP VIEW calls;") +
          "DROP TABLE pktav_calls; DROP TABLE pktav_files; ALTER TABLE old RENAME TO calls;"
          "UPDATE pktav_schema SET version = " + std::to_string(version));
    std::vector<std::string> unpriced = tablerows();
    r = load(priced);
    EXPECT_EQ(r.code, 0) << describe(r);
    EXPECT_EQ(sql("SELECT max(version) FROM pktav_schema"), pg ? "3\n" : "4\n");
    if (!pg) {
      // One integer key, the view's three triggers made again.
      EXPECT_EQ(sql("SELECT sql LIKE '%(id INTEGER PRIMARY KEY,%' FROM sqlite_master"
                    " WHERE name = 'pktav_calls'"),
                "1\n");
      EXPECT_EQ(sql("SELECT count(*) FROM sqlite_master WHERE type = 'trigger'"), "3\n");
    }
    EXPECT_EQ(tablerows(), unpriced);
    EXPECT_EQ(sql("SELECT count(*) FROM calls WHERE destination IS NOT NULL OR name IS NOT NULL"),
              "0\n");
    r = audit();
    EXPECT_EQ(r.code, 0) << describe(r);
  }

  // The records carry no year: the packer gives them this one.
  std::vector<std::string> all = asloaded({});
  ASSERT_FALSE(all.empty());
  const std::string year = all[0].substr(0, 4);
  r = load({"--reprice", "--from", year + "-01-01", "--to", year + "-02-28", "--tariff", rates,
            "--directory", people});
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(tablerows(true) == all);
  EXPECT_NE(sql("SELECT count(DISTINCT destination) FROM calls"), "1\n");
  EXPECT_NE(sql("SELECT count(DISTINCT department) FROM calls"), "0\n");

  // February's calls at the new rate; January's keep the old one.
  const std::vector<std::string> january = asloaded({"--to", year + "-01-31"});
  tariff("0.09");
  r = load({"--reprice", "--from", year + "-02-01", "--to", year + "-02-28", "--tariff", rates});
  EXPECT_EQ(r.code, 0) << describe(r);
  auto withjanuary = [&](std::vector<std::string> rows) {
    rows.insert(rows.end(), january.begin(), january.end());
    std::sort(rows.begin(), rows.end());
    return rows;
  };
  std::vector<std::string> want = withjanuary(asloaded({"--from", year + "-02-01"}));
  EXPECT_TRUE(tablerows(true) == want);
  EXPECT_NE(want, all);

  // New calls are priced as they are loaded.
  sitestore(store, dir.file("stream2"), "300", "2024-02-01T00:30", "8");
  ASSERT_EQ(load(priced).code, 0);
  EXPECT_TRUE(tablerows(true) == withjanuary(asloaded({"--from", year + "-02-01"})));
}

// DATABASE that cannot be loaded into: a clear message, exit 2, nothing
// written.
struct refusal {
  const char* what;
  std::function<std::string(loadtest& t)> database;  // sets it up, returns DATABASE
  const char* message;
};

TEST_P(CdrLoad, RefusesWhatCannotBeLoadedIntoAndWritesNothing) {
  std::string hour = hourfilepath(2024, 3, 4, 9);
  addtostore(store, hour, ":4201|12|5551234|040324090736|45|3||02\n");
  std::vector<refusal> cases = {
      {"newer tables",
       [](loadtest& t) {
         EXPECT_EQ(t.load().code, 0);
         t.sql("UPDATE pktav_schema SET version = 99");
         addtostore(t.store, hourfilepath(2024, 3, 4, 10), ":4201|12||040324100736|45|3||02\n");
         return t.db();
       },
       GetParam() == dbkind::sqlite
           ? "its tables are of version 99, newer than this pktav-cdr knows (4): use a newer "
             "pktav-cdr"
           : "its tables are of version 99, newer than this pktav-cdr knows (3): use a newer "
             "pktav-cdr"},
      {"a table calls of its own",
       [](loadtest& t) {
         t.sql("CREATE TABLE calls (call_end text, station text)");
         return t.db();
       },
       "holds a table calls that pktav-cdr load did not make"},
  };
  if (GetParam() == dbkind::sqlite) {
    cases.push_back({"a folder that is not there",
                     [](loadtest& t) { return t.dir.file("nothere/cdr.sqlite"); },
                     "nothere/cdr.sqlite: cannot open the database: No such file or directory"});
    cases.push_back({"a folder", [](loadtest& t) { return t.store; }, "cannot open the database"});
    cases.push_back({"a path under a file",
                     [](loadtest& t) {
                       writefile(t.dir.file("plain"), "");
                       return t.dir.file("plain/cdr.sqlite");
                     },
                     "plain/cdr.sqlite: cannot open the database: Not a directory"});
    if (geteuid() != 0) {  // root may write anything
      cases.push_back({"a folder that may not be written",
                       [](loadtest& t) {
                         mkdir(t.dir.file("locked").c_str(), 0555);
                         return t.dir.file("locked/cdr.sqlite");
                       },
                       "locked/cdr.sqlite: cannot open the database: Permission denied"});
      cases.push_back({"a file that may not be written",
                       [](loadtest& t) {
                         EXPECT_EQ(t.load().code, 0);
                         chmod(t.db().c_str(), 0444);
                         return t.db();
                       },
                       "cdr.sqlite: the database cannot be written to"});
    }
    cases.push_back({"a file numbered beyond the key",
                     [](loadtest& t) {
                       EXPECT_EQ(t.load().code, 0);
                       t.sql("INSERT INTO pktav_files (id, site, file) VALUES (2147483647, 'b', 'x')");
                       addtostore(t.store, hourfilepath(2024, 3, 4, 10),
                                  ":4201|12||040324100736|45|3||02\n");
                       return t.db();
                     },
                     " is file number 2147483648, but pktav_calls keys files numbered 0 to "
                     "2147483647 only"});
    cases.push_back({"tables of version 3 with a row beyond the key",
                     [](loadtest& t) {
                       EXPECT_EQ(t.load().code, 0);
                       toversion3(t);
                       t.sql("UPDATE pktav_calls SET line_offset = 4294967296");
                       return t.db();
                     },
                     "the row of file number 1 at offset 4294967296 cannot be upgraded: "
                     "pktav_calls keys files numbered 0 to 2147483647 and offsets 0 to "
                     "4294967295"});
    cases.push_back({"a file of text",
                     [](loadtest& t) {
                       writefile(t.dir.file("notes"), "not a database, but long enough to be read\n");
                       return t.dir.file("notes");
                     },
                     "notes: file is not a database"});
  } else {
    cases.push_back({"no server there",
                     [](loadtest& t) { return "host=" + t.dir.path() + " dbname=postgres"; },
                     "/.s.PGSQL.5432\" failed: No such file or directory"});
    cases.push_back({"not a connection string",
                     [](loadtest&) { return std::string("host=x dbname='postgres"); },
                     "not a PostgreSQL connection string: unterminated quoted string"});
    cases.push_back({"a role that may not make tables",
                     [](loadtest& t) {
                       t.sql("CREATE ROLE clerk LOGIN");
                       return t.pg->conninfo("postgres", "clerk");
                     },
                     "permission denied for schema public"});
    cases.push_back({"a wrong password",
                     [](loadtest& t) {
                       t.sql("CREATE ROLE pwuser LOGIN PASSWORD 'right-one'");
                       return "postgresql://pwuser:wrong-one@/postgres?host=" + t.pg->dir();
                     },
                     "password authentication failed for user \"pwuser\""});
  }
  // Each table of the database with its number of rows.
  const std::string tablesandrows =
      "SELECT tablename, query_to_xml('SELECT count(*) FROM ' || quote_ident(tablename),"
      " false, false, '') FROM pg_tables WHERE schemaname = 'public' ORDER BY 1";
  for (const refusal& c : cases) {
    SCOPED_TRACE(c.what);
    reset();
    addtostore(store, hour, ":4201|12|5551234|040324090736|45|3||02\n");
    std::string database = c.database(*this);
    std::string before = pg ? sql(tablesandrows) : readfile(database);
    procresult r = runcdr({"load", database, store, "--tz", "UTC"});
    EXPECT_EQ(r.code, 2) << describe(r);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(occurrences(r.err, c.message), 1) << r.err;
    EXPECT_EQ(occurrences(r.err, "\n"), 1) << r.err;
    EXPECT_EQ(occurrences(r.err, "wrong-one"), 0) << r.err;
    std::string after = pg ? sql(tablesandrows) : readfile(database);
    EXPECT_TRUE(after == before) << "the database changed";
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("nothere")));
}

INSTANTIATE_TEST_SUITE_P(Databases, CdrLoad, ::testing::Values(dbkind::sqlite, dbkind::postgres),
                         dbname);

}  // namespace
