// One connection to a PostgreSQL server, through libpq, with the COPY of
// rows into pktav_calls that it may have in flight. pgdb.cpp holds one or
// two of them. Every failure is thrown as a dberror, transient when the
// connection went or the server says it may pass.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cdr/cdrrow.h"
#include "cdr/database.h"

// A result, cleared at the end of its scope.
class pgresult {
 public:
  explicit pgresult(PGresult* r) : r_(r) {}
  ~pgresult() { PQclear(r_); }
  pgresult(const pgresult&) = delete;
  pgresult& operator=(const pgresult&) = delete;
  PGresult* get() const { return r_; }
  int rows() const { return PQntuples(r_); }
  std::string_view text(int row, int col) const {
    return {PQgetvalue(r_, row, col), static_cast<size_t>(PQgetlength(r_, row, col))};
  }
  int64_t integer(int row, int col) const;
  bool null(int row, int col) const { return PQgetisnull(r_, row, col); }
  // The rows a command changed: 1 for a claim that held.
  bool one() const;

 private:
  PGresult* r_;
};

class pglink {
 public:
  explicit pglink(const std::string& conninfo);
  ~pglink() { PQfinish(conn_); }
  pglink(const pglink&) = delete;
  pglink& operator=(const pglink&) = delete;

  // What it is, for messages: never a password.
  std::string name() const;
  PGconn* conn() const { return conn_; }

  // The result if it has the status wanted; else the failure, thrown.
  PGresult* check(PGresult* r, ExecStatusType want);
  PGresult* exec(const char* sql, ExecStatusType want) { return check(PQexec(conn_, sql), want); }
  PGresult* run(const char* stmt, const std::vector<std::string>& params, ExecStatusType want);
  void define(const char* name, const std::string& sql);
  std::string literal(std::string_view s);
  [[noreturn]] void fail();  // libpq's own failure, of the connection

  // The transaction: begun as its first row or statement comes.
  void begin();
  bool open() const { return open_; }

  // Puts a row into the COPY, begun as needed; true when rows wait to be
  // handed on (flow()). The rows go to the server without waiting on it,
  // so that one link's server works while the loader fills the other's.
  bool copy(const cdrrow& r, int64_t fileid);
  bool copying() const { return copying_; }
  // Ends the COPY in two steps, so that two links' servers finish theirs
  // at the same time: the end sent, then its answer awaited.
  void endcopy();
  void copyended();

  // Sends commands for their answers later: `sql` may hold several.
  void send(const std::string& sql);
  // Whether each command sent changed one row; throws the first failure.
  bool eachone();
  // The answer to the COMMIT sent: the transaction is over either way.
  void committed();

  // Never throws: a connection lost rolls back by itself.
  void rollback() noexcept;

  long rows = 0;  // rows in the transaction

 private:
  friend void flow(const std::vector<std::unique_ptr<pglink>>& links, const pglink& mine);
  // Hands the rows queued to libpq once it has sent what it had; never
  // waits.
  void pump();
  // Whether libpq holds data its socket did not take yet.
  bool sending_ = false;

  PGconn* conn_ = nullptr;
  bool open_ = false;
  bool copying_ = false;
  bool ending_ = false;  // the COPY's end sent, its answer not read
  std::string copy_;  // rows not yet handed to libpq
  size_t due_ = 0;    // its size at which they are handed on next
};

// Hands each link's rows on as far as its socket takes them; while
// `mine` holds as many as a link may queue, waits for a socket to take
// more.
void flow(const std::vector<std::unique_ptr<pglink>>& links, const pglink& mine);

// libpq's message on one line.
std::string oneline(const char* msg);
