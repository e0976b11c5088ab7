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
#include "cdr/sqlitetables.h"
#include "tools/common/diag.h"

namespace {

// The priced columns of a row: ?18 to ?20 those of the tariff, ?21 and ?22
// those of the directory, as in the insert.
const char* const pricesql =
    "UPDATE pktav_calls SET destination = ?18, billed = ?19, cost_units = ?20";
const char* const listsql = "UPDATE pktav_calls SET name = ?21, department = ?22";
const char* const updatesql =
    "UPDATE pktav_calls SET call_end = ?4, call_start = ?5, ambiguous = ?17";
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
        exec(sqlitetables().c_str());
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
    insert_ = statement(sqliteinsert());
    update_ = statement(std::string(updatesql) + sqliterowat());
    price_ = statement(std::string(pricesql) + sqliterowat());
    list_ = statement(std::string(listsql) + sqliterowat());
    fileid_ = statement(fileidsql);
    newfile_ = statement(newfilesql);
    std::string cols = positioncolumns;
    newpos_ = statement("INSERT INTO pktav_positions (site, file, " + cols + ") VALUES (?1, ?2, " +
                        parameters('?', 3, positionfields) + ") ON CONFLICT DO NOTHING");
    movepos_ =
        statement("UPDATE pktav_positions SET (" + cols + ") = (" +
                  parameters('?', 3, positionfields) + ") WHERE site = ?1 AND file = ?2 AND (" +
                  cols + ") = (" + parameters('?', 3 + positionfields, positionfields) + ")");
    positions_ = statement("SELECT file, " + cols +
                           " FROM pktav_positions WHERE site = ?1 AND hour BETWEEN ?2 AND ?3");
    rows_ = statement(sqliterows());
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
      if (version >= 3) exec("DROP VIEW IF EXISTS calls");  // its triggers with it
      for (int v = version; v < sqliteschema; ++v) {
        if (v == 3) refuseunkeyable();
        exec(sqliteupgrade(v - 1).c_str());
      }
      exec(sqliteview().c_str());
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
    sqlite3_stmt* s = statement(sqliteunkeyable());
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
      throw dberror(path_ + ": the row of " + row +
                        " cannot be upgraded: pktav_calls keys files"
                        " numbered 0 to " +
                        std::to_string(mostfile) + " and offsets 0 to " +
                        std::to_string(mostoffset),
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
                        ", but pktav_calls keys files numbered 0 to " + std::to_string(mostfile) +
                        " only",
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
                        std::to_string(r.offset) + " is beyond the last offset pktav_calls keys (" +
                        std::to_string(mostoffset) + ")",
                    false);
    return firstkey_ + r.offset;
  }

  // Binds the row to a statement of sqliteinsert()'s parameters and runs
  // it. The file's number is looked up once for its rows in a batch.
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
  std::string bound_;     // the file of the last row put in
  int64_t firstkey_ = 0;  // its key at offset 0
  sqlite3_stmt *insert_ = nullptr, *update_ = nullptr, *price_ = nullptr, *list_ = nullptr,
               *newpos_ = nullptr, *movepos_ = nullptr, *positions_ = nullptr, *rows_ = nullptr,
               *fileid_ = nullptr, *newfile_ = nullptr;
};

}  // namespace

std::unique_ptr<database> opensqlite(const std::string& path, bool create) {
  return std::make_unique<sqlitedb>(path, create);
}
