// The database in an SQLite file: the default for one site, no server
// needed. Written in write-ahead-log mode, which lets readers query while
// the loader follows the store; synchronous=NORMAL, whose commit survives
// the program's death and, where the machine loses power, may roll back
// the last batches whole, positions with their rows.
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cdr/database.h"
#include "tools/common/diag.h"

namespace {

// Each row of pktav_calls is keyed by one integer, its file's number in
// the high 31 bits and its line's offset in the low 32 (hour files of up to
// 4 GiB, 2^31 files): the rows of a store loaded in time order go in at the
// right edge of one B-tree, found by an integer compare at each level.
// file_id and line_offset are read out of it. A row that does not fit is
// refused, never keyed in another's place.
constexpr int offsetbits = 32;
constexpr int64_t mostoffset = (int64_t{1} << offsetbits) - 1;
constexpr int64_t mostfile = (int64_t{1} << (63 - offsetbits)) - 1;
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
         " file_id INTEGER GENERATED ALWAYS AS (id >> " + std::to_string(offsetbits) + ") VIRTUAL," +
         " line_offset INTEGER GENERATED ALWAYS AS (id & " + offsetmost + ") VIRTUAL," +
         rowcolumnsql + ");";
}
// Version 3's, which the upgrade from versions 1 and 2 goes through.
std::string rowstable3() {
  return std::string("CREATE TABLE pktav_calls (file_id INTEGER NOT NULL,"
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
// offsets; file_id besides, so that a number of pktav_files beyond those
// of the keys is never taken for another.
std::string filerows() {
  return "c.id BETWEEN f.id" + shift + " AND (f.id" + shift + ") + " + offsetmost +
         " AND c.file_id = f.id";
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

// The view calls, and what puts rows in, changes and deletes them through
// it: a change as the old row deleted and the new one put in.
std::string callsviewsql() {
  const std::string file = "site = NEW.site AND file = NEW.file";
  const std::string remove = "DELETE FROM pktav_calls WHERE id = " +
                             keyof("OLD.line_offset", "site = OLD.site AND file = OLD.file") + ";";
  const std::string add =
      "SELECT RAISE(ABORT, 'calls: line_offset must be a whole number from 0 to " + offsetmost +
      "') WHERE typeof(NEW.line_offset) <> 'integer' OR NEW.line_offset NOT BETWEEN 0 AND " +
      offsetmost + ";"
      "INSERT INTO pktav_files (site, file) SELECT NEW.site, NEW.file WHERE NOT EXISTS"
      " (SELECT 1 FROM pktav_files WHERE " + file + ");"
      "SELECT RAISE(ABORT, 'calls: more files than pktav_calls can number (" + filemost +
      ")') FROM pktav_files WHERE " + file + " AND id NOT BETWEEN 0 AND " + filemost + ";"
      "INSERT INTO pktav_calls (id, " + afteroffset("") + ") SELECT (id" + shift +
      ") + NEW.line_offset, " + afteroffset("NEW.") + " FROM pktav_files WHERE " + file + ";";
  return callsview(filerows()) +
         "CREATE TRIGGER pktav_calls_insert INSTEAD OF INSERT ON calls BEGIN " + add +
         " END;CREATE TRIGGER pktav_calls_delete INSTEAD OF DELETE ON calls BEGIN " + remove +
         " END;CREATE TRIGGER pktav_calls_update INSTEAD OF UPDATE ON calls BEGIN " + remove +
         add + " END;";
}

std::string schemasql() {
  return "CREATE TABLE pktav_schema (version INTEGER NOT NULL);"
         "INSERT INTO pktav_schema (version) VALUES (" + std::to_string(sqliteschema) + ");" +
         filestable + rowstable("pktav_calls") + callsviewsql() + positionstable;
}

// What turns the tables of version i + 1 into those of version i + 2, but
// for the view calls of versions 3 and later, which the upgrade makes anew
// at the end.
std::string upgradesql(int i) {
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

// The insert binds the row's key as ?1.
const std::string insertsql = "INSERT INTO pktav_calls (id, " + afteroffset("") +
                              ") VALUES (?1, " + parameters('?', 4, 19) + ")";
// The row of site ?1, file ?2 at offset ?3, after the changes below.
const std::string rowat = " WHERE id = " + keyof("?3", "site = ?1 AND file = ?2");
// The priced columns of a row: ?18 to ?20 those of the tariff, ?21 and ?22
// those of the directory, as in the insert.
const char* const pricesql =
    "UPDATE pktav_calls SET destination = ?18, billed = ?19, cost_units = ?20";
const char* const listsql = "UPDATE pktav_calls SET name = ?21, department = ?22";
const char* const updatesql =
    "UPDATE pktav_calls SET call_end = ?4, call_start = ?5, ambiguous = ?17";
const std::string rowssql =
    "SELECT c.line_offset, CAST(strftime('%s', c.call_end) AS INTEGER),"
    " CAST(strftime('%s', c.call_start) AS INTEGER), c.duration, c.duration_mark, c.station,"
    " c.trunk, c.other_station, c.dialled, c.meter, c.charge, c.flags, c.trunk_first,"
    " c.class_bits, c.ambiguous FROM pktav_files f JOIN pktav_calls c ON " + filerows() +
    " WHERE f.site = ?1 AND f.file = ?2 ORDER BY c.id";
// A row that version 4 cannot key.
const std::string unkeyablesql = "SELECT file_id, line_offset FROM pktav_calls WHERE file_id NOT"
                                 " BETWEEN 0 AND " + filemost + " OR line_offset NOT BETWEEN 0 AND " +
                                 offsetmost + " LIMIT 1";
const char* const fileidsql = "SELECT id FROM pktav_files WHERE site = ?1 AND file = ?2";
const char* const newfilesql = "INSERT INTO pktav_files (site, file) VALUES (?1, ?2)";

// Errors that may pass: the file locked by another for too long, the disk
// full, the file system failing for a while.
bool transient(int rc) {
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_PROTOCOL: return true;
    default: return false;
  }
}

std::string_view columntext(sqlite3_stmt* s, int i) {
  const unsigned char* p = sqlite3_column_text(s, i);
  return p ? std::string_view(reinterpret_cast<const char*>(p),
                              static_cast<size_t>(sqlite3_column_bytes(s, i)))
           : std::string_view();
}

// Two hexadecimal digits, as the flags are written; 0 for anything else.
uint8_t hexbyte(std::string_view s) {
  auto digit = [](char c) { return c >= 'a' ? c - 'a' + 10 : c - '0'; };
  return s.size() == 2 ? static_cast<uint8_t>(digit(s[0]) * 16 + digit(s[1])) : 0;
}

// Whether a file can be made at the path: its folder is there and may be
// written; errno set when not.
bool folderwritable(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string folder = slash == path.npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  return access(folder.c_str(), W_OK | X_OK) == 0;
}

class sqlitedb : public database {
 public:
  sqlitedb(const std::string& path, bool create) : path_(path) {
    // One thread uses the connection: no locks around each call.
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
      int err = db_ ? sqlite3_system_errno(db_) : 0;
      // SQLite's last attempt may be a read of the file it could not make.
      if (err == ENOENT && create) err = folderwritable(path) ? ENOENT : errno;
      std::string why = err ? strerror(err) : db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
      sqlite3_close(db_);
      db_ = nullptr;
      throw dberror(path + ": cannot open the database: " + why, false);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, 10000);
    if (sqlite3_db_readonly(db_, "main") == 1) {
      sqlite3_close(db_);
      throw dberror(path + ": the database cannot be written to", false);
    }
  }
  ~sqlitedb() override {
    for (sqlite3_stmt* s :
         {insert_, update_, price_, list_, newpos_, movepos_, positions_, rows_, fileid_, newfile_})
      sqlite3_finalize(s);
    sqlite3_close(db_);
  }

  std::string name() const override { return path_; }

  void prepare(bool create) override {
    exec("PRAGMA synchronous = NORMAL");
    int version = schema();
    if (version == 0) {
      if (!create) throw dberror(path_ + ": holds no calls loaded by pktav-cdr", false);
      if (hastable("calls"))
        throw dberror(path_ + ": holds a table calls that pktav-cdr load did not make", false);
      // Larger pages for a new file: fewer pages to write and to step
      // through for each row, and fewer levels above the rows.
      exec("PRAGMA page_size = 16384");
      exec("PRAGMA journal_mode = WAL");
      exec("BEGIN IMMEDIATE");
      try {
        exec(schemasql().c_str());
        exec("COMMIT");
      } catch (...) {
        rollback();
        throw;
      }
      // The page cache's size again (SQLite's 2 MiB), which the change of
      // the page size left reckoned in pages of the old size: four times
      // the memory.
      exec("PRAGMA cache_size = -2000");
      version = sqliteschema;
    }
    if (version > sqliteschema)
      throw dberror(path_ + ": its tables are of version " + std::to_string(version) +
                        ", newer than this pktav-cdr knows (" + std::to_string(sqliteschema) +
                        "): use a newer pktav-cdr",
                    false);
    if (version < sqliteschema && !create)
      throw dberror(path_ + ": its tables are of version " + std::to_string(version) +
                        ": pktav-cdr load upgrades them",
                    false);
    if (version < sqliteschema) upgrade(version);
    insert_ = statement(insertsql);
    update_ = statement(std::string(updatesql) + rowat);
    price_ = statement(std::string(pricesql) + rowat);
    list_ = statement(std::string(listsql) + rowat);
    fileid_ = statement(fileidsql);
    newfile_ = statement(newfilesql);
    std::string cols = positioncolumns;
    newpos_ = statement("INSERT INTO pktav_positions (site, file, " + cols + ") VALUES (?1, ?2, " +
                        parameters('?', 3, positionfields) + ") ON CONFLICT DO NOTHING");
    movepos_ = statement("UPDATE pktav_positions SET (" + cols + ") = (" +
                         parameters('?', 3, positionfields) +
                         ") WHERE site = ?1 AND file = ?2 AND (" + cols + ") = (" +
                         parameters('?', 3 + positionfields, positionfields) + ")");
    positions_ = statement("SELECT file, " + cols +
                           " FROM pktav_positions WHERE site = ?1 AND hour BETWEEN ?2 AND ?3");
    rows_ = statement(rowssql);
  }

  void positions(const std::string& site, int64_t lo, int64_t hi,
                 const std::function<void(const loadedfile&)>& each) override {
    sqlite3_stmt* s = positions_;
    sqlite3_bind_text(s, 1, site.data(), static_cast<int>(site.size()), SQLITE_STATIC);
    sqlite3_bind_int64(s, 2, lo);
    sqlite3_bind_int64(s, 3, hi);
    while (step(s)) {
      std::array<int64_t, positionfields> v;
      for (int i = 0; i < positionfields; ++i) v[i] = sqlite3_column_int64(s, 1 + i);
      each(positionof(columntext(s, 0), v));
    }
  }

  void begin(const std::string& site) override {
    site_ = site;
    bound_.clear();
    exec("BEGIN IMMEDIATE");
  }

  void add(const cdrrow& r) override { putrow(insert_, r, true); }
  void update(const cdrrow& r) override { putrow(update_, r, false); }

  bool reprice(const cdrrow& r, bool tariff, bool directory) override {
    bool found = true;
    for (sqlite3_stmt* s : {tariff ? price_ : nullptr, directory ? list_ : nullptr}) {
      if (!s) continue;
      bindtext(s, 1, site_);
      bindtext(s, 2, r.file);
      sqlite3_bind_int64(s, 3, r.offset);
      bindprices(s, r);
      step(s);
      found = sqlite3_changes(db_) == 1 && found;
    }
    return found;
  }

  bool claim(const loadedfile* was, const loadedfile& now) override {
    sqlite3_stmt* s = was ? movepos_ : newpos_;
    bindtext(s, 1, site_);
    bindtext(s, 2, now.file);
    std::array<int64_t, positionfields> values = positionvalues(now);
    for (int i = 0; i < positionfields; ++i) sqlite3_bind_int64(s, 3 + i, values[i]);
    if (was) {
      values = positionvalues(*was);
      for (int i = 0; i < positionfields; ++i)
        sqlite3_bind_int64(s, 3 + positionfields + i, values[i]);
    }
    step(s);
    return sqlite3_changes(db_) == 1;
  }

  bool commit() override {
    exec("COMMIT");
    return true;  // the claims are answered as they are made
  }

  void rollback() noexcept override {
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }

  void rows(const std::string& site, const std::string& file,
            const std::function<void(const cdrrow&)>& each) override {
    sqlite3_stmt* s = rows_;
    bindtext(s, 1, site);
    bindtext(s, 2, file);
    cdrrow r;
    r.file = file;
    while (step(s)) {
      r.offset = sqlite3_column_int64(s, 0);
      r.end = sqlite3_column_int64(s, 1);
      r.start = sqlite3_column_int64(s, 2);
      r.duration = sqlite3_column_type(s, 3) == SQLITE_NULL ? -1 : sqlite3_column_int64(s, 3);
      r.mark = columntext(s, 4);
      r.station = columntext(s, 5);
      r.trunk = columntext(s, 6);
      r.otherstation = columntext(s, 7);
      r.dialled = columntext(s, 8);
      r.meter = static_cast<uint32_t>(sqlite3_column_int64(s, 9));
      r.charge = columntext(s, 10);
      r.flags = hexbyte(columntext(s, 11));
      r.trunkfirst = sqlite3_column_int64(s, 12) != 0;
      r.classbits = static_cast<int>(sqlite3_column_int64(s, 13));
      r.ambiguous = sqlite3_column_int64(s, 14) != 0;
      each(r);
    }
  }

 private:
  [[noreturn]] void fail(int rc) {
    throw dberror(path_ + ": " + sqlite3_errmsg(db_), transient(rc));
  }

  void exec(const char* sql) {
    char* msg = nullptr;
    int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &msg);
    if (rc == SQLITE_OK) return;
    std::string why = msg ? msg : sqlite3_errstr(rc);
    sqlite3_free(msg);
    throw dberror(path_ + ": " + why, transient(rc));
  }

  sqlite3_stmt* statement(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
    if (rc != SQLITE_OK) fail(rc);
    return s;
  }

  // A row of the statement: true; false when it is done (and reset).
  bool step(sqlite3_stmt* s) {
    int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) return true;
    sqlite3_reset(s);
    if (rc != SQLITE_DONE) fail(rc);
    return false;
  }

  void bindtext(sqlite3_stmt* s, int i, std::string_view v) {
    if (v.empty())
      sqlite3_bind_null(s, i);
    else
      sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
  }
  void bindnumber(sqlite3_stmt* s, int i, int64_t v) {
    if (v < 0)
      sqlite3_bind_null(s, i);
    else
      sqlite3_bind_int64(s, i, v);
  }
  // ?18 to ?22, those a statement has.
  void bindprices(sqlite3_stmt* s, const cdrrow& r) {
    bindtext(s, 18, r.destination);
    bindnumber(s, 19, r.billed);
    bindnumber(s, 20, r.cost);
    bindtext(s, 21, r.name);
    bindtext(s, 22, r.department);
  }

  // The version of the tables; 0 when there are none.
  int schema() {
    if (!hastable("pktav_schema")) return 0;
    sqlite3_stmt* s = statement("SELECT max(version) FROM pktav_schema");
    int version = 0;
    try {
      if (step(s)) version = sqlite3_column_int(s, 0);
      while (step(s)) {
      }
    } catch (...) {
      sqlite3_finalize(s);
      throw;
    }
    sqlite3_finalize(s);
    return version;
  }

  bool hastable(const char* table) {
    sqlite3_stmt* s = statement("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1");
    sqlite3_bind_text(s, 1, table, -1, SQLITE_STATIC);
    bool found = false;
    try {
      found = step(s);
      while (found && step(s)) {
      }
    } catch (...) {
      sqlite3_finalize(s);
      throw;
    }
    sqlite3_finalize(s);
    return found;
  }

  void upgrade(int version) {
    exec("BEGIN IMMEDIATE");
    try {
      if (version >= 3) exec("DROP VIEW calls");  // its triggers with it
      for (int v = version; v < sqliteschema; ++v) {
        if (v == 3) refuseunkeyable();
        exec(upgradesql(v - 1).c_str());
      }
      exec(callsviewsql().c_str());
      exec(("UPDATE pktav_schema SET version = " + std::to_string(sqliteschema)).c_str());
      exec("COMMIT");
    } catch (...) {
      rollback();
      throw;
    }
  }

  // Refuses the tables of version 3 should a row's file number or offset
  // not fit in the key of version 4.
  void refuseunkeyable() {
    sqlite3_stmt* s = statement(unkeyablesql);
    std::string row;
    try {
      if (step(s))
        row = "file number " + std::to_string(sqlite3_column_int64(s, 0)) + " at offset " +
              std::to_string(sqlite3_column_int64(s, 1));
      while (step(s)) {
      }
    } catch (...) {
      sqlite3_finalize(s);
      throw;
    }
    sqlite3_finalize(s);
    if (!row.empty())
      throw dberror(path_ + ": the row of " + row + " cannot be upgraded: pktav_calls keys files"
                        " numbered 0 to " + filemost + " and offsets 0 to " + offsetmost,
                    false);
  }

  // The number of the site's file, given it when it has none.
  int64_t fileid(std::string_view file) {
    bindtext(fileid_, 1, site_);
    bindtext(fileid_, 2, file);
    int64_t id;
    if (step(fileid_)) {
      id = sqlite3_column_int64(fileid_, 0);
      sqlite3_reset(fileid_);
    } else {
      bindtext(newfile_, 1, site_);
      bindtext(newfile_, 2, file);
      step(newfile_);
      id = sqlite3_last_insert_rowid(db_);
    }
    if (id < 0 || id > mostfile)
      throw dberror(path_ + ": " + std::string(file) + " is file number " + std::to_string(id) +
                        ", but pktav_calls keys files numbered 0 to " + filemost + " only",
                    false);
    return id;
  }

  // The key of a row that goes in.
  int64_t rowkey(const cdrrow& r) {
    if (bound_ != r.file) {
      firstkey_ = fileid(r.file) << offsetbits;
      bound_ = r.file;
    }
    if (r.offset < 0 || r.offset > mostoffset)
      throw dberror(path_ + ": the line of " + std::string(r.file) + " at offset " +
                        std::to_string(r.offset) + " lies beyond the " + offsetmost +
                        " bytes of a file that pktav_calls keys",
                    false);
    return firstkey_ + r.offset;
  }

  // Binds the row to a statement of insertsql's parameters and runs it.
  // The insert's file stays bound from one row to the next.
  void putrow(sqlite3_stmt* s, const cdrrow& r, bool all) {
    char end[32], start[32];
    if (all) {
      sqlite3_bind_int64(s, 1, rowkey(r));
    } else {
      bindtext(s, 1, site_);
      bindtext(s, 2, r.file);
      sqlite3_bind_int64(s, 3, r.offset);
    }
    bindtext(s, 4, std::string_view(end, isotime(end, r.endwall, r.endoffset) - end));
    bindtext(s, 5, std::string_view(start, isotime(start, r.startwall, r.startoffset) - start));
    sqlite3_bind_int(s, 17, r.ambiguous);
    if (all) {
      bindnumber(s, 6, r.duration);
      bindtext(s, 7, r.mark);
      bindtext(s, 8, r.station);
      bindtext(s, 9, r.trunk);
      bindtext(s, 10, r.otherstation);
      bindtext(s, 11, r.dialled);
      sqlite3_bind_int64(s, 12, r.meter);
      bindtext(s, 13, r.charge);
      static const char digits[] = "0123456789abcdef";
      char flags[2] = {digits[r.flags >> 4], digits[r.flags & 15]};
      sqlite3_bind_text(s, 14, flags, 2, SQLITE_TRANSIENT);
      sqlite3_bind_int(s, 15, r.trunkfirst);
      sqlite3_bind_int(s, 16, r.classbits);
      bindprices(s, r);
    }
    int rc = sqlite3_step(s);
    sqlite3_reset(s);
    if (rc == SQLITE_CONSTRAINT_PRIMARYKEY)
      throw dberror(path_ + ": the row of " + std::string(r.file) + " at offset " +
                        std::to_string(r.offset) +
                        " is there already, though the file's position says it was not loaded",
                    false);
    if (rc != SQLITE_DONE) fail(rc);
  }

  std::string path_;
  sqlite3* db_ = nullptr;
  std::string site_;
  std::string bound_;    // the file of the last row put in
  int64_t firstkey_ = 0;  // its key at offset 0
  sqlite3_stmt *insert_ = nullptr, *update_ = nullptr, *price_ = nullptr, *list_ = nullptr,
               *newpos_ = nullptr, *movepos_ = nullptr, *positions_ = nullptr, *rows_ = nullptr,
               *fileid_ = nullptr, *newfile_ = nullptr;
};

}  // namespace

std::unique_ptr<database> opensqlite(const std::string& path, bool create) {
  return std::make_unique<sqlitedb>(path, create);
}
