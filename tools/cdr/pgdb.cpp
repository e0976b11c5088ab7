// The database on a PostgreSQL server, through libpq: one database for the
// calls of many sites. Rows go in by COPY, straight into `calls`, in the
// transaction that then moves their files' positions: should a row be
// there already (a second loader of the same site, or positions changed by
// hand), its primary key refuses it and the whole batch is rolled back.
#include <libpq-fe.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "cdr/database.h"
#include "tools/common/diag.h"

namespace {

const char* const schemasql =
    "CREATE TABLE pktav_schema (version integer NOT NULL);"
    "INSERT INTO pktav_schema (version) VALUES (2);"
    "CREATE TABLE calls ("
    " site text COLLATE \"C\" NOT NULL, file text COLLATE \"C\" NOT NULL,"
    " line_offset bigint NOT NULL,"
    " call_end timestamptz NOT NULL, call_start timestamptz NOT NULL, duration integer,"
    " duration_mark text, station text, trunk text, other_station text, dialled text,"
    " meter integer NOT NULL, charge text, flags char(2) NOT NULL, trunk_first boolean NOT NULL,"
    " class_bits smallint NOT NULL,"
    " ambiguous boolean NOT NULL, destination text, billed integer, cost_units bigint,"
    " name text, department text,"
    " PRIMARY KEY (site, file, line_offset));"
    "CREATE TABLE pktav_positions ("
    " site text COLLATE \"C\" NOT NULL, file text COLLATE \"C\" NOT NULL, hour bigint NOT NULL,"
    " base bigint NOT NULL, bytes bigint NOT NULL, lines bigint NOT NULL, hash bigint NOT NULL,"
    " head bigint NOT NULL, dev bigint NOT NULL, ino bigint NOT NULL, born bigint NOT NULL,"
    " size bigint NOT NULL, mtime bigint NOT NULL, split bigint NOT NULL,"
    " PRIMARY KEY (site, file));"
    "CREATE INDEX pktav_positions_hour ON pktav_positions (site, hour);";

// What turns the tables of version i + 1 into those of version i + 2.
const char* const upgrades[] = {
    // 2: the columns of the tariff and the directory, NULL in the rows
    // loaded before (load --reprice prices them).
    "ALTER TABLE calls ADD COLUMN destination text, ADD COLUMN billed integer,"
    " ADD COLUMN cost_units bigint, ADD COLUMN name text, ADD COLUMN department text;",
};

const char* const copysql =
    "COPY calls (site, file, line_offset, call_end, call_start, duration, duration_mark, station,"
    " trunk, other_station, dialled, meter, charge, flags, trunk_first, class_bits, ambiguous,"
    " destination, billed, cost_units, name, department)"
    " FROM STDIN (FORMAT binary)";
// COPY's binary format: a signature, flags and the length of an extension
// of the header, then per row the number of fields and each field's length
// and bytes (-1: NULL), integers in network order; -1 at the end.
const char copyheader[19] = {'P', 'G', 'C', 'O', 'P', 'Y', '\n', '\377', '\r', '\n', 0};
constexpr int16_t copyfields = 22;
// A timestamptz: microseconds since 2000-01-01 00:00 UTC.
constexpr int64_t pgepoch = 946684800;

struct statement {
  const char* name;
  const char* sql;
};
const statement statements[] = {
    {"pktav_update",
     "UPDATE calls SET call_end = $4, call_start = $5, ambiguous = $6"
     " WHERE site = $1 AND file = $2 AND line_offset = $3"},
    {"pktav_price",
     "UPDATE calls SET destination = $4, billed = $5, cost_units = $6"
     " WHERE site = $1 AND file = $2 AND line_offset = $3"},
    {"pktav_list",
     "UPDATE calls SET name = $4, department = $5"
     " WHERE site = $1 AND file = $2 AND line_offset = $3"},
    {"pktav_rows",
     "SELECT line_offset, extract(epoch FROM call_end)::bigint,"
     " extract(epoch FROM call_start)::bigint, duration, duration_mark, station, trunk,"
     " other_station, dialled, meter, charge, flags, trunk_first, class_bits, ambiguous"
     " FROM calls WHERE site = $1 AND file = $2 ORDER BY line_offset"},
};

// libpq's message on one line.
std::string oneline(const char* msg) {
  std::string s = msg ? msg : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  for (size_t i; (i = s.find("\n")) != s.npos;) {
    size_t j = i + 1;
    while (j < s.size() && (s[j] == '\t' || s[j] == ' ')) ++j;
    s.replace(i, j - i, " ");
  }
  return s;
}

// Failures that may pass: a connection lost, a server shutting down or
// starting, out of room or connections, a lock or serialization conflict.
bool transientstate(const char* state) {
  if (!state) return false;
  std::string s = state;
  return s.starts_with("08") || s.starts_with("53") || s.starts_with("57P") || s == "40001" ||
         s == "40P01" || s == "55P03";
}

std::string number(int64_t v) { return std::to_string(v); }

// Appends integers in network order, and fields of the binary format.
void putint(std::string& out, uint64_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(v >> (8 * i));
}
void putfield(std::string& out, std::string_view s, bool nullable) {
  if (s.empty() && nullable) return putint(out, static_cast<uint32_t>(-1), 4);
  putint(out, s.size(), 4);
  out.append(s);
}
void putfield(std::string& out, int64_t v, int bytes) {
  putint(out, static_cast<uint64_t>(bytes), 4);
  putint(out, static_cast<uint64_t>(v), bytes);
}
// A number that is NULL when negative.
void putcount(std::string& out, int64_t v, int bytes) {
  if (v < 0) return putint(out, static_cast<uint32_t>(-1), 4);
  putfield(out, v, bytes);
}

uint8_t hexbyte(std::string_view s) {
  auto digit = [](char c) { return c >= 'a' ? c - 'a' + 10 : c - '0'; };
  return s.size() == 2 ? static_cast<uint8_t>(digit(s[0]) * 16 + digit(s[1])) : 0;
}

class result {
 public:
  explicit result(PGresult* r) : r_(r) {}
  ~result() { PQclear(r_); }
  result(const result&) = delete;
  result& operator=(const result&) = delete;
  PGresult* get() const { return r_; }
  std::string_view text(int row, int col) const {
    return {PQgetvalue(r_, row, col), static_cast<size_t>(PQgetlength(r_, row, col))};
  }
  int64_t integer(int row, int col) const { return strtoll(PQgetvalue(r_, row, col), nullptr, 10); }
  bool null(int row, int col) const { return PQgetisnull(r_, row, col); }

 private:
  PGresult* r_;
};

class pgdb : public database {
 public:
  explicit pgdb(const std::string& conninfo) {
    char* err = nullptr;
    PQconninfoOption* parsed = PQconninfoParse(conninfo.c_str(), &err);
    if (!parsed) {
      std::string why = err ? oneline(err) : "out of memory";
      PQfreemem(err);
      throw dberror("not a PostgreSQL connection string: " + why, false);
    }
    PQconninfoFree(parsed);
    conn_ = PQconnectdb(conninfo.c_str());
    if (PQstatus(conn_) != CONNECTION_OK) {
      // No destructor runs for an object whose constructor throws.
      dberror e(name() + ": " + oneline(PQerrorMessage(conn_)), true);
      PQfinish(conn_);
      throw e;
    }
    // The server's notices (a shutdown coming) are no failures; a failure
    // that follows says what happened.
    PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
  }
  ~pgdb() override { PQfinish(conn_); }

  std::string name() const override {
    const char* db = PQdb(conn_);
    const char* host = PQhost(conn_);
    std::string s = "PostgreSQL database ";
    s += db && *db ? db : "(default)";
    if (host && *host) s += std::string(" on ") + host;
    return s;
  }

  void prepare(bool create) override {
    result r(exec("SELECT to_regclass('pktav_schema') IS NOT NULL,"
                  " to_regclass('calls') IS NOT NULL",
                  PGRES_TUPLES_OK));
    int version = 0;
    if (r.text(0, 0) == "t") {
      result v(exec("SELECT max(version) FROM pktav_schema", PGRES_TUPLES_OK));
      version = static_cast<int>(v.integer(0, 0));
    }
    if (version == 0) {
      if (!create) throw dberror(name() + ": holds no calls loaded by pktav-cdr", false);
      if (r.text(0, 1) == "t")
        throw dberror(name() + ": holds a table calls that pktav-cdr load did not make", false);
      transaction(schemasql);
      version = schemaversion;
    }
    if (version > schemaversion)
      throw dberror(name() + ": its tables are of version " + std::to_string(version) +
                        ", newer than this pktav-cdr knows (" + std::to_string(schemaversion) +
                        "): use a newer pktav-cdr",
                    false);
    if (version < schemaversion && !create)
      throw dberror(name() + ": its tables are of version " + std::to_string(version) +
                        ": pktav-cdr load upgrades them",
                    false);
    if (version < schemaversion) {
      std::string sql;
      for (int v = version; v < schemaversion; ++v) sql += upgrades[v - 1];
      transaction(sql + "UPDATE pktav_schema SET version = " + std::to_string(schemaversion));
    }
    for (const statement& s : statements) define(s.name, s.sql);
    std::string cols = positioncolumns;
    define("pktav_newpos", "INSERT INTO pktav_positions (site, file, " + cols +
                                ") VALUES ($1, $2, " + parameters('$', 3, positionfields) +
                                ") ON CONFLICT DO NOTHING");
    define("pktav_movepos", "UPDATE pktav_positions SET (" + cols + ") = (" +
                                 parameters('$', 3, positionfields) +
                                 ") WHERE site = $1 AND file = $2 AND (" + cols + ") = (" +
                                 parameters('$', 3 + positionfields, positionfields) + ")");
    define("pktav_positions", "SELECT file, " + cols +
                                   " FROM pktav_positions WHERE site = $1 AND hour BETWEEN $2 AND $3");
  }

  void positions(const std::string& site, int64_t lo, int64_t hi,
                 const std::function<void(const loadedfile&)>& each) override {
    endcopy();  // a batch that crosses into a month whose positions are not read yet
    result r(run("pktav_positions", {site, number(lo), number(hi)}, PGRES_TUPLES_OK));
    for (int i = 0, n = PQntuples(r.get()); i < n; ++i) {
      std::array<int64_t, positionfields> v;
      for (int k = 0; k < positionfields; ++k) v[k] = r.integer(i, 1 + k);
      each(positionof(r.text(i, 0), v));
    }
  }

  void begin(const std::string& site) override {
    site_ = site;
    result(exec("BEGIN", PGRES_COMMAND_OK));
  }

  void add(const cdrrow& r) override {
    if (!copying_) {
      result(exec(copysql, PGRES_COPY_IN));
      copying_ = true;
      copy_.assign(copyheader, sizeof copyheader);
    }
    putint(copy_, copyfields, 2);
    putfield(copy_, site_, false);
    putfield(copy_, r.file, false);
    putfield(copy_, r.offset, 8);
    putfield(copy_, (r.end - pgepoch) * 1000000, 8);
    putfield(copy_, (r.start - pgepoch) * 1000000, 8);
    putcount(copy_, r.duration, 4);
    for (std::string_view s : {r.mark, r.station, r.trunk, r.otherstation, r.dialled})
      putfield(copy_, s, true);
    putfield(copy_, r.meter, 4);
    putfield(copy_, r.charge, true);
    static const char digits[] = "0123456789abcdef";
    const char flags[] = {digits[r.flags >> 4], digits[r.flags & 15]};
    putfield(copy_, std::string_view(flags, 2), false);
    putfield(copy_, r.trunkfirst, 1);
    putfield(copy_, r.classbits, 2);
    putfield(copy_, r.ambiguous, 1);
    putfield(copy_, r.destination, true);
    putcount(copy_, r.billed, 4);
    putcount(copy_, r.cost, 8);
    putfield(copy_, r.name, true);
    putfield(copy_, r.department, true);
    if (copy_.size() >= (1 << 16)) sendcopy();
  }

  void update(const cdrrow& r) override {
    endcopy();
    char end[32], start[32];
    result(run("pktav_update",
               {site_, std::string(r.file), number(r.offset),
                std::string(end, isotime(end, r.endwall, r.endoffset)),
                std::string(start, isotime(start, r.startwall, r.startoffset)),
                r.ambiguous ? "t" : "f"},
               PGRES_COMMAND_OK));
  }

  bool reprice(const cdrrow& r, bool tariff, bool directory) override {
    endcopy();
    bool found = true;
    std::string offset = number(r.offset);
    auto set = [&](const char* stmt, std::initializer_list<std::string> fields) {
      std::vector<std::string> p = {site_, std::string(r.file), offset};
      p.insert(p.end(), fields);
      // An empty field is NULL.
      std::vector<const char*> v;
      for (const std::string& s : p) v.push_back(s.empty() ? nullptr : s.c_str());
      result res(check(PQexecPrepared(conn_, stmt, static_cast<int>(v.size()), v.data(), nullptr,
                                      nullptr, 0),
                       PGRES_COMMAND_OK));
      found = strcmp(PQcmdTuples(res.get()), "1") == 0 && found;
    };
    auto count = [](int64_t v) { return v < 0 ? std::string() : number(v); };
    if (tariff)
      set("pktav_price", {std::string(r.destination), count(r.billed), count(r.cost)});
    if (directory) set("pktav_list", {std::string(r.name), std::string(r.department)});
    return found;
  }

  bool claim(const loadedfile* was, const loadedfile& now) override {
    endcopy();
    std::vector<std::string> p = {site_, now.file};
    for (int64_t v : positionvalues(now)) p.push_back(number(v));
    if (was)
      for (int64_t v : positionvalues(*was)) p.push_back(number(v));
    result r(run(was ? "pktav_movepos" : "pktav_newpos", p, PGRES_COMMAND_OK));
    return strcmp(PQcmdTuples(r.get()), "1") == 0;
  }

  void commit() override {
    endcopy();
    result r(exec("COMMIT", PGRES_COMMAND_OK));
    // A transaction that failed unnoticed ends in ROLLBACK, not an error.
    if (strcmp(PQcmdStatus(r.get()), "COMMIT") != 0)
      throw dberror(name() + ": the batch was rolled back", true);
  }

  void rollback() noexcept override {
    if (PQstatus(conn_) != CONNECTION_OK) return;
    if (copying_) {
      copying_ = false;
      copy_.clear();
      if (PQputCopyEnd(conn_, "rolled back") == 1)
        while (PGresult* r = PQgetResult(conn_)) PQclear(r);
    }
    if (PQtransactionStatus(conn_) != PQTRANS_IDLE) PQclear(PQexec(conn_, "ROLLBACK"));
  }

  void rows(const std::string& site, const std::string& file,
            const std::function<void(const cdrrow&)>& each) override {
    endcopy();
    const char* values[] = {site.c_str(), file.c_str()};
    if (!PQsendQueryPrepared(conn_, "pktav_rows", 2, values, nullptr, nullptr, 0) ||
        !PQsetSingleRowMode(conn_))
      throw dberror(name() + ": " + oneline(PQerrorMessage(conn_)), true);
    cdrrow row;
    row.file = file;
    std::string failure;
    bool transient = false;
    while (PGresult* got = PQgetResult(conn_)) {
      result r(got);
      ExecStatusType st = PQresultStatus(got);
      if (st == PGRES_SINGLE_TUPLE) {
        if (failure.empty()) each(rowat(r, &row));
      } else if (st != PGRES_TUPLES_OK && failure.empty()) {
        failure = oneline(PQresultErrorMessage(got));
        const char* state = PQresultErrorField(got, PG_DIAG_SQLSTATE);
        transient = PQstatus(conn_) != CONNECTION_OK || !state || transientstate(state);
      }
    }
    if (!failure.empty()) throw dberror(name() + ": " + failure, transient);
  }

 private:
  static const cdrrow& rowat(const result& r, cdrrow* row) {
    row->offset = r.integer(0, 0);
    row->end = r.integer(0, 1);
    row->start = r.integer(0, 2);
    row->duration = r.null(0, 3) ? -1 : r.integer(0, 3);
    row->mark = r.text(0, 4);
    row->station = r.text(0, 5);
    row->trunk = r.text(0, 6);
    row->otherstation = r.text(0, 7);
    row->dialled = r.text(0, 8);
    row->meter = static_cast<uint32_t>(r.integer(0, 9));
    row->charge = r.text(0, 10);
    row->flags = hexbyte(r.text(0, 11));
    row->trunkfirst = r.text(0, 12) == "t";
    row->classbits = static_cast<int>(r.integer(0, 13));
    row->ambiguous = r.text(0, 14) == "t";
    return *row;
  }

  // The result if it has the status wanted; else the failure, thrown.
  PGresult* check(PGresult* r, ExecStatusType want) {
    if (r && PQresultStatus(r) == want) return r;
    std::string why = oneline(r ? PQresultErrorMessage(r) : PQerrorMessage(conn_));
    const char* detail = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_DETAIL) : nullptr;
    if (detail) why += std::string(" (") + detail + ")";
    // No SQLSTATE: libpq's own failure, of the connection.
    const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    bool transient = PQstatus(conn_) != CONNECTION_OK || !state || transientstate(state);
    PQclear(r);
    throw dberror(name() + ": " + why, transient);
  }

  PGresult* exec(const char* sql, ExecStatusType want) { return check(PQexec(conn_, sql), want); }

  PGresult* run(const char* stmt, const std::vector<std::string>& params, ExecStatusType want) {
    std::vector<const char*> values;
    for (const std::string& p : params) values.push_back(p.c_str());
    return check(PQexecPrepared(conn_, stmt, static_cast<int>(values.size()), values.data(),
                                nullptr, nullptr, 0),
                 want);
  }

  void define(const char* name, const std::string& sql) {
    result(check(PQprepare(conn_, name, sql.c_str(), 0, nullptr), PGRES_COMMAND_OK));
  }

  // The statements in one transaction.
  void transaction(const std::string& sql) {
    result(exec("BEGIN", PGRES_COMMAND_OK));
    try {
      result(exec(sql.c_str(), PGRES_COMMAND_OK));
      result(exec("COMMIT", PGRES_COMMAND_OK));
    } catch (...) {
      rollback();
      throw;
    }
  }

  void sendcopy() {
    if (copy_.empty()) return;
    if (PQputCopyData(conn_, copy_.data(), static_cast<int>(copy_.size())) != 1)
      throw dberror(name() + ": " + oneline(PQerrorMessage(conn_)), true);
    copy_.clear();
  }

  void endcopy() {
    if (!copying_) return;
    putint(copy_, static_cast<uint16_t>(-1), 2);
    sendcopy();
    copying_ = false;
    if (PQputCopyEnd(conn_, nullptr) != 1)
      throw dberror(name() + ": " + oneline(PQerrorMessage(conn_)), true);
    result r(check(PQgetResult(conn_), PGRES_COMMAND_OK));
    while (PGresult* more = PQgetResult(conn_)) PQclear(more);
  }

  PGconn* conn_ = nullptr;
  std::string site_;
  bool copying_ = false;
  std::string copy_;  // rows not yet sent
};

}  // namespace

std::unique_ptr<database> openpostgres(const std::string& conninfo) {
  return std::make_unique<pgdb>(conninfo);
}
