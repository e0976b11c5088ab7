#include "cdr/sqlitetables.h"

#include "cdr/database.h"

namespace {

const std::string offsetmost = std::to_string(mostoffset), filemost = std::to_string(mostfile);
const std::string shift = " << " + std::to_string(offsetbits);

const char* const filestable =
    "CREATE TABLE pktav_files ("
    " id INTEGER PRIMARY KEY, site TEXT NOT NULL, file TEXT NOT NULL, UNIQUE (site, file));";
// The columns after the key, the same in version 3.
const char* const rowcolumnsql =
    " call_end TEXT NOT NULL, call_start TEXT NOT NULL, duration INTEGER, duration_mark TEXT,"
    " station TEXT, trunk TEXT, other_station TEXT, dialled TEXT, meter INTEGER NOT NULL,"
    " charge TEXT, flags TEXT NOT NULL, trunk_first INTEGER NOT NULL, class_bits INTEGER NOT NULL,"
    " ambiguous INTEGER NOT NULL, destination TEXT, billed INTEGER, cost_units INTEGER,"
    " name TEXT, department TEXT";
std::string rowstable(const char* name) {
  return std::string("CREATE TABLE ") + name + " (id INTEGER PRIMARY KEY," +
         " file_id INTEGER GENERATED ALWAYS AS (id >> " + std::to_string(offsetbits) +
         ") VIRTUAL," + " line_offset INTEGER GENERATED ALWAYS AS (id & " + offsetmost +
         ") VIRTUAL," + rowcolumnsql + ");";
}
// Version 3's, which the upgrade from versions 1 and 2 goes through.
std::string rowstable3() {
  return std::string(
             "CREATE TABLE pktav_calls (file_id INTEGER NOT NULL,"
             " line_offset INTEGER NOT NULL,") +
         rowcolumnsql + ", PRIMARY KEY (file_id, line_offset)) WITHOUT ROWID;";
}
const char* const positionstable =
    "CREATE TABLE pktav_positions ("
    " site TEXT NOT NULL, file TEXT NOT NULL, hour INTEGER NOT NULL,"
    " base INTEGER NOT NULL, bytes INTEGER NOT NULL, lines INTEGER NOT NULL,"
    " hash INTEGER NOT NULL, head INTEGER NOT NULL, dev INTEGER NOT NULL, ino INTEGER NOT NULL,"
    " born INTEGER NOT NULL, size INTEGER NOT NULL, mtime INTEGER NOT NULL,"
    " split INTEGER NOT NULL,"
    " PRIMARY KEY (site, file)) WITHOUT ROWID;"
    "CREATE INDEX pktav_positions_hour ON pktav_positions (site, hour);";

// The rows c of the file f: a range of keys, walked in the order of their
// offsets (a full scan too, file by file); none for a number of
// pktav_files beyond those of the keys, never another's.
std::string filerows() {
  return "f.id BETWEEN 0 AND " + filemost + " AND c.id BETWEEN f.id" + shift + " AND (f.id" +
         shift + ") + " + offsetmost;
}

// The key of the row at offset `offset` of the file in pktav_files that
// `where` picks; NULL when either does not fit.
std::string keyof(const std::string& offset, const std::string& where) {
  return "(SELECT CASE WHEN id BETWEEN 0 AND " + filemost + " AND " + offset + " BETWEEN 0 AND " +
         offsetmost + " THEN (id" + shift + ") + " + offset + " END FROM pktav_files WHERE " +
         where + ")";
}

// The columns of pktav_calls after line_offset, each after `prefix`.
std::string afteroffset(const std::string& prefix) {
  std::string all = rowvalues(prefix);
  return all.substr(all.find(", ") + 2);
}

}  // namespace

// A change through the view is the old row deleted and the new one put in.
std::string sqliteview() {
  const std::string file = "site = NEW.site AND file = NEW.file";
  const std::string remove = "DELETE FROM pktav_calls WHERE id = " +
                             keyof("OLD.line_offset", "site = OLD.site AND file = OLD.file") + ";";
  const std::string add =
      "SELECT RAISE(ABORT, 'calls: line_offset must be a whole number from 0 to " + offsetmost +
      "') WHERE typeof(NEW.line_offset) <> 'integer' OR NEW.line_offset NOT BETWEEN 0 AND " +
      offsetmost +
      ";"
      "INSERT INTO pktav_files (site, file) SELECT NEW.site, NEW.file WHERE NOT EXISTS"
      " (SELECT 1 FROM pktav_files WHERE " +
      file +
      ");"
      "SELECT RAISE(ABORT, 'calls: more files than pktav_calls can number (" +
      filemost + ")') FROM pktav_files WHERE " + file + " AND id NOT BETWEEN 0 AND " + filemost +
      ";"
      "INSERT INTO pktav_calls (id, " +
      afteroffset("") + ") SELECT (id" + shift + ") + NEW.line_offset, " + afteroffset("NEW.") +
      " FROM pktav_files WHERE " + file + ";";
  return callsview(filerows()) +
         "CREATE TRIGGER pktav_calls_insert INSTEAD OF INSERT ON calls BEGIN " + add +
         " END;CREATE TRIGGER pktav_calls_delete INSTEAD OF DELETE ON calls BEGIN " + remove +
         " END;CREATE TRIGGER pktav_calls_update INSTEAD OF UPDATE ON calls BEGIN " + remove + add +
         " END;";
}

std::string sqlitetables() {
  return "CREATE TABLE pktav_schema (version INTEGER NOT NULL);"
         "INSERT INTO pktav_schema (version) VALUES (" +
         std::to_string(sqliteschema) + ");" + filestable + rowstable("pktav_calls") +
         sqliteview() + positionstable;
}

std::string sqliteupgrade(int i) {
  switch (i) {
    case 0:
      // 2: the columns of the tariff and the directory, NULL in the rows
      // loaded before (load --reprice prices them).
      return "ALTER TABLE calls ADD COLUMN destination TEXT;"
             "ALTER TABLE calls ADD COLUMN billed INTEGER;"
             "ALTER TABLE calls ADD COLUMN cost_units INTEGER;"
             "ALTER TABLE calls ADD COLUMN name TEXT;"
             "ALTER TABLE calls ADD COLUMN department TEXT;";
    case 1:
      // 3: the rows keyed by the number of their file, the table calls
      // become a view.
      return std::string(filestable) +
             "INSERT INTO pktav_files (site, file) SELECT DISTINCT site, file FROM calls"
             " ORDER BY site, file;" +
             rowstable3() + "INSERT INTO pktav_calls (file_id, " + rowvalues("") +
             ") SELECT f.id, " + rowvalues("c.") +
             " FROM calls c JOIN pktav_files f ON f.site = c.site AND f.file = c.file"
             " ORDER BY f.id, c.line_offset;"
             "DROP TABLE calls;";
    default:
      // 4: the rows keyed by one integer (the rows that do not fit are
      // refused before).
      return rowstable("pktav_calls_4") + "INSERT INTO pktav_calls_4 (id, " + afteroffset("") +
             ") SELECT (file_id" + shift + ") + line_offset, " + afteroffset("") +
             " FROM pktav_calls ORDER BY file_id, line_offset;"
             "DROP TABLE pktav_calls;"
             "ALTER TABLE pktav_calls_4 RENAME TO pktav_calls;";
  }
}

std::string sqliteinsert() {
  return "INSERT INTO pktav_calls (id, " + afteroffset("") + ") VALUES (?1, " +
         parameters('?', 4, 19) + ")";
}

std::string sqliterowat() { return " WHERE id = " + keyof("?3", "site = ?1 AND file = ?2"); }

std::string sqliterows() {
  return "SELECT c.line_offset, CAST(strftime('%s', c.call_end) AS INTEGER),"
         " CAST(strftime('%s', c.call_start) AS INTEGER), c.duration, c.duration_mark, c.station,"
         " c.trunk, c.other_station, c.dialled, c.meter, c.charge, c.flags, c.trunk_first,"
         " c.class_bits, c.ambiguous FROM pktav_files f JOIN pktav_calls c ON " +
         filerows() + " WHERE f.site = ?1 AND f.file = ?2 ORDER BY c.id";
}

std::string sqliteunkeyable() {
  return "SELECT file_id, line_offset FROM pktav_calls WHERE file_id NOT BETWEEN 0 AND " +
         filemost + " OR line_offset NOT BETWEEN 0 AND " + offsetmost + " LIMIT 1";
}
