#include "cdr/pglink.h"

#include <poll.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Failures that may pass: a connection lost, a server shutting down or
// starting, out of room or connections, a lock or serialization conflict.
bool transientstate(const char* state) {
  if (!state) return false;
  std::string s = state;
  return s.starts_with("08") || s.starts_with("53") || s.starts_with("57P") || s == "40001" ||
         s == "40P01" || s == "55P03";
}

const char* const copysql =
    "COPY pktav_calls (file_id, line_offset, call_end, call_start, duration, duration_mark,"
    " station, trunk, other_station, dialled, meter, charge, flags, trunk_first, class_bits,"
    " ambiguous, destination, billed, cost_units, name, department)"
    " FROM STDIN (FORMAT binary)";
// COPY's binary format: a signature, flags and the length of an extension
// of the header, then per row the number of fields and each field's length
// and bytes (-1: NULL), integers in network order; -1 at the end.
const char copyheader[19] = {'P', 'G', 'C', 'O', 'P', 'Y', '\n', '\377', '\r', '\n', 0};
constexpr int16_t copyfields = 21;
// A timestamptz: microseconds since 2000-01-01 00:00 UTC.
constexpr int64_t pgepoch = 946684800;
// Rows are handed to libpq in pieces of about this size, and a link
// queues at most this many bytes of them beside what libpq holds.
constexpr size_t copypiece = 1 << 16, mostqueued = 1 << 18;

// Waits until one of the sockets may take more, or a second has passed.
void waitforroom(std::vector<pollfd>& fds) {
  if (!fds.empty() && poll(fds.data(), fds.size(), 1000) < 0 && errno != EINTR)
    throw dberror(std::string("poll: ") + strerror(errno), true);
}

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

}  // namespace

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

int64_t pgresult::integer(int row, int col) const {
  return strtoll(PQgetvalue(r_, row, col), nullptr, 10);
}

bool pgresult::one() const { return strcmp(PQcmdTuples(r_), "1") == 0; }

pglink::pglink(const std::string& conninfo) {
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

std::string pglink::name() const {
  const char* db = PQdb(conn_);
  const char* host = PQhost(conn_);
  std::string s = "PostgreSQL database ";
  s += db && *db ? db : "(default)";
  if (host && *host) s += std::string(" on ") + host;
  return s;
}

PGresult* pglink::check(PGresult* r, ExecStatusType want) {
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

PGresult* pglink::run(const char* stmt, const std::vector<std::string>& params,
                      ExecStatusType want) {
  std::vector<const char*> values;
  for (const std::string& p : params) values.push_back(p.c_str());
  return check(PQexecPrepared(conn_, stmt, static_cast<int>(values.size()), values.data(), nullptr,
                              nullptr, 0),
               want);
}

void pglink::define(const char* name, const std::string& sql) {
  pgresult(check(PQprepare(conn_, name, sql.c_str(), 0, nullptr), PGRES_COMMAND_OK));
}

std::string pglink::literal(std::string_view s) {
  char* q = PQescapeLiteral(conn_, s.data(), s.size());
  if (!q) fail();
  std::string out = q;
  PQfreemem(q);
  return out;
}

void pglink::fail() { throw dberror(name() + ": " + oneline(PQerrorMessage(conn_)), true); }

void pglink::begin() {
  if (open_) return;
  pgresult(exec("BEGIN", PGRES_COMMAND_OK));
  open_ = true;
  rows = 0;
}

bool pglink::copy(const cdrrow& r, int64_t fileid) {
  if (!copying_) {
    begin();
    pgresult(exec(copysql, PGRES_COPY_IN));
    if (PQsetnonblocking(conn_, 1) != 0) fail();
    copying_ = true;
    copy_.assign(copyheader, sizeof copyheader);
    due_ = copypiece;
  }
  putint(copy_, copyfields, 2);
  putfield(copy_, fileid, 4);
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
  ++rows;
  return copy_.size() >= due_;
}

void pglink::pump() {
  int left = PQflush(conn_);
  if (left == 0 && !copy_.empty()) {
    if (PQputCopyData(conn_, copy_.data(), static_cast<int>(copy_.size())) != 1) fail();
    copy_.clear();
    left = PQflush(conn_);
  }
  if (left < 0) fail();
  sending_ = left == 1;
  due_ = copy_.size() + copypiece;
}

void flow(const std::vector<std::unique_ptr<pglink>>& links, const pglink& mine) {
  for (;;) {
    for (const auto& l : links)
      if (l->copying_) l->pump();
    if (mine.copy_.size() < mostqueued) return;
    std::vector<pollfd> fds;
    for (const auto& l : links)
      if (l->sending_) fds.push_back({PQsocket(l->conn_), POLLOUT, 0});
    waitforroom(fds);
  }
}

void pglink::endcopy() {
  if (!copying_) return;
  putint(copy_, static_cast<uint16_t>(-1), 2);
  for (pump(); !copy_.empty() || sending_; pump()) {
    std::vector<pollfd> fds = {{PQsocket(conn_), POLLOUT, 0}};
    waitforroom(fds);
  }
  copying_ = false;
  if (PQsetnonblocking(conn_, 0) != 0) fail();
  if (PQputCopyEnd(conn_, nullptr) != 1) fail();
  ending_ = true;
}

void pglink::copyended() {
  endcopy();
  if (!ending_) return;
  ending_ = false;
  pgresult r(check(PQgetResult(conn_), PGRES_COMMAND_OK));
  while (PGresult* more = PQgetResult(conn_)) PQclear(more);
}

void pglink::send(const std::string& sql) {
  if (!PQsendQuery(conn_, sql.c_str())) fail();
}

bool pglink::eachone() {
  bool all = true;
  PGresult* bad = nullptr;
  while (PGresult* got = PQgetResult(conn_)) {
    if (PQresultStatus(got) == PGRES_COMMAND_OK) {
      pgresult r(got);
      all = r.one() && all;
    } else if (!bad)
      bad = got;
    else
      PQclear(got);
  }
  if (bad) check(bad, PGRES_COMMAND_OK);
  return all;
}

void pglink::committed() {
  open_ = false;
  rows = 0;
  pgresult r(check(PQgetResult(conn_), PGRES_COMMAND_OK));
  while (PGresult* more = PQgetResult(conn_)) PQclear(more);
  // A transaction that failed unnoticed ends in ROLLBACK, not an error.
  if (strcmp(PQcmdStatus(r.get()), "COMMIT") != 0)
    throw dberror(name() + ": the batch was rolled back", true);
}

void pglink::rollback() noexcept {
  open_ = false;
  rows = 0;
  copy_.clear();
  if (PQstatus(conn_) != CONNECTION_OK) {
    copying_ = ending_ = false;
    return;
  }
  if (copying_) {
    PQsetnonblocking(conn_, 0);
    if (PQputCopyEnd(conn_, "rolled back") == 1) ending_ = true;
  }
  copying_ = false;
  sending_ = false;
  if (ending_)
    while (PGresult* r = PQgetResult(conn_)) PQclear(r);
  ending_ = false;
  if (PQtransactionStatus(conn_) != PQTRANS_IDLE) PQclear(PQexec(conn_, "ROLLBACK"));
}
