// The databases of the loader's tests: a PostgreSQL server of the test's
// own, and the rows of an SQLite file or a server's database as text.
#pragma once

#include <memory>
#include <string>

#include "support/proc.h"

// A PostgreSQL server for one test: a cluster made by initdb in a new
// folder under /tmp, listening only on a Unix socket in that folder, with
// its database "postgres" for the test to use. initdb and the server refuse to run as root: as root
// they run as the user nobody, who owns the folder. Removed at the end,
// after a fast shutdown. The programs come from the folder of initdb found
// when the build was configured (PKTAV_PGBIN).
class pgserver {
 public:
  pgserver();  // fails the test when the server cannot be had
  ~pgserver();
  pgserver(const pgserver&) = delete;
  pgserver& operator=(const pgserver&) = delete;

  // Whether initdb was found (the tests of the server are skipped if not).
  static bool installed();
  bool up() const { return server_ != nullptr; }

  // A connection string for libpq and pktav-cdr.
  std::string conninfo(const std::string& dbname = "postgres", const std::string& user = "postgres") const;
  const std::string& dir() const { return dir_; }

  // pg_ctl stop with this mode ("fast", "immediate"); start() again.
  void stop(const std::string& mode);
  void start();

  // Runs SQL as the superuser in `dbname`: the rows of the last statement,
  // fields joined by '|', each row ended by a line feed. A failure fails
  // the test.
  std::string sql(const std::string& query, const std::string& dbname = "postgres");

 private:
  procspec asowner(const std::string& program, std::vector<std::string> args) const;

  std::string dir_;  // the socket; the cluster in dir_/data
  std::unique_ptr<childproc> server_;
};

// The rows of a query of an SQLite file, as pgserver::sql gives them; a
// failure of the query is the test's, or, given `error`, put there.
std::string sqlitequery(const std::string& path, const std::string& query,
                        std::string* error = nullptr);
