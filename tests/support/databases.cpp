#include "support/databases.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <pwd.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/tmpdir.h"

namespace {

std::string program(const std::string& name) { return std::string(PKTAV_PGBIN) + "/" + name; }

// The user the server runs as when the tests run as root.
bool ownerids(uid_t* uid, gid_t* gid) {
  if (geteuid() != 0) return false;
  const passwd* pw = getpwnam("nobody");
  *uid = pw ? pw->pw_uid : 65534;
  *gid = pw ? pw->pw_gid : 65534;
  return true;
}

}  // namespace

bool pgserver::installed() { return access(program("initdb").c_str(), X_OK) == 0; }

procspec pgserver::asowner(const std::string& name, std::vector<std::string> args) const {
  procspec job;
  uid_t uid;
  gid_t gid;
  if (ownerids(&uid, &gid))
    job.argv = {"/usr/bin/setpriv", "--reuid=" + std::to_string(uid),
                "--regid=" + std::to_string(gid), "--clear-groups"};
  job.argv.push_back(program(name));
  job.argv.insert(job.argv.end(), args.begin(), args.end());
  job.unsetenv = {"PGHOST", "PGPORT", "PGDATABASE", "PGUSER", "PGPASSWORD", "PGSERVICE"};
  job.env = {"LC_ALL=C"};
  job.cwd = dir_;
  return job;
}

pgserver::pgserver() {
  std::string tmpl = "/tmp/pktav-pg.XXXXXX";  // short: a socket's path has room for 107 bytes
  if (!mkdtemp(tmpl.data())) {
    ADD_FAILURE() << "cannot make a folder for the server";
    return;
  }
  dir_ = tmpl;
  uid_t uid;
  gid_t gid;
  if (ownerids(&uid, &gid) && chown(dir_.c_str(), uid, gid) != 0) {
    ADD_FAILURE() << "cannot give " << dir_ << " to the server's user";
    return;
  }
  procresult r = runproc(asowner("initdb", {"-D", dir_ + "/data", "-A", "trust", "-U", "postgres",
                                            "--no-sync", "--no-instructions", "--locale=C", "-E",
                                            "UTF8"}),
                         "", 120000);
  if (r.code != 0) {
    ADD_FAILURE() << "initdb failed: " << describe(r);
    return;
  }
  // A role with a password, for the test of a wrong one; all else trusted.
  writefile(dir_ + "/data/pg_hba.conf",
            "local all pwuser scram-sha-256\n"
            "local all all trust\n");
  start();
}

pgserver::~pgserver() {
  if (server_) {
    server_->signal(SIGINT);  // a fast shutdown
    server_->wait(60000);
    server_.reset();
  }
  if (!dir_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
}

void pgserver::start() {
  server_ = std::make_unique<childproc>(asowner(
      "postgres", {"-D", dir_ + "/data", "-k", dir_, "-c", "listen_addresses=", "-c", "fsync=off",
                   "-c", "max_connections=20", "-c", "shared_buffers=16MB"}));
  std::string info = conninfo("postgres");
  for (int i = 0; i < 600; ++i) {
    if (PQping(info.c_str()) == PQPING_OK) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ADD_FAILURE() << "the server did not come up: " << server_->err();
  server_.reset();
}

void pgserver::stop(const std::string& mode) {
  procresult r = runproc(asowner("pg_ctl", {"stop", "-D", dir_ + "/data", "-m", mode, "-w"}));
  EXPECT_EQ(r.code, 0) << describe(r);
  if (server_) server_->wait(60000);
  server_.reset();
}

std::string pgserver::conninfo(const std::string& dbname, const std::string& user) const {
  return "host=" + dir_ + " port=5432 dbname=" + dbname + " user=" + user;
}

std::string pgserver::sql(const std::string& query, const std::string& dbname) {
  PGconn* c = PQconnectdb(conninfo(dbname).c_str());
  std::string out;
  if (PQstatus(c) != CONNECTION_OK) {
    ADD_FAILURE() << PQerrorMessage(c);
  } else {
    PQsetNoticeProcessor(c, [](void*, const char*) {}, nullptr);  // "does not exist, skipping"
    PGresult* r = PQexec(c, query.c_str());
    ExecStatusType st = PQresultStatus(r);
    if (st != PGRES_TUPLES_OK && st != PGRES_COMMAND_OK) ADD_FAILURE() << query << ": " << PQresultErrorMessage(r);
    for (int i = 0; st == PGRES_TUPLES_OK && i < PQntuples(r); ++i) {
      for (int k = 0; k < PQnfields(r); ++k) out += (k ? "|" : "") + std::string(PQgetvalue(r, i, k));
      out += '\n';
    }
    PQclear(r);
  }
  PQfinish(c);
  return out;
}

std::string sqlitequery(const std::string& path, const std::string& query, std::string* error) {
  sqlite3* db = nullptr;
  std::string out;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    ADD_FAILURE() << path << ": " << sqlite3_errmsg(db);
  } else {
    sqlite3_busy_timeout(db, 10000);
    char* err = nullptr;
    auto row = [](void* to, int n, char** values, char**) {
      std::string& s = *static_cast<std::string*>(to);
      for (int k = 0; k < n; ++k) s += (k ? "|" : "") + std::string(values[k] ? values[k] : "");
      s += '\n';
      return 0;
    };
    if (sqlite3_exec(db, query.c_str(), row, &out, &err) == SQLITE_OK) {
      if (error) error->clear();
    } else if (error) {
      *error = err ? err : "failed";
    } else {
      ADD_FAILURE() << query << ": " << (err ? err : "");
    }
    sqlite3_free(err);
  }
  sqlite3_close(db);
  return out;
}
