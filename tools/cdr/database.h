// The database the loader writes into and the audit reads: one small
// interface, one unit per kind of database (sqlitedb.cpp, pgdb.cpp). A
// third kind is one more unit and one line in database.cpp.
//
// The tables, made by the loader when they are missing:
//
//   pktav_files      a number for each site and hour file whose rows are
//                    loaded, given as they come (version 3)
//   pktav_calls      one row per call: the number of its file and its
//                    line's offset in it (the primary key: short, and
//                    growing as the store is loaded in time order), the
//                    columns of query (cdrrow.h) and, from version 2, those
//                    of --tariff and --directory: destination, billed,
//                    cost_units (ten-thousandths), name, department. In
//                    SQLite from version 4, the key is one integer, id:
//                    the file's number times 2^32 plus the offset, of
//                    which file_id and line_offset are virtual columns
//                    (offsets below 4 GiB, file numbers below 2^31; a row
//                    beyond is refused)
//   calls            a view of pktav_calls with the file's site and path
//                    in place of its number: the table calls of versions 1
//                    and 2, as users query it; rows put in, changed or
//                    deleted through it go to pktav_calls
//   pktav_positions  per site and hour file, how far it is loaded and
//                    what identifies the part loaded (loadedfile.h)
//   pktav_schema     the version of these tables
//
// A batch of rows and the positions of their files are written in one
// transaction: begin(), add() and update() the rows, claim() each file's
// new position, commit(). A claim holds only if the position in the
// database is still the one the batch was read from: a second loader of the
// same site, or a batch that did commit though its answer was lost, makes
// it fail, and the batch is rolled back and read again. A unit may answer
// the claims at once or, all together, at the commit.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "cdr/cdrrow.h"
#include "cdr/loadedfile.h"

// The version of the tables this program makes and reads, of each kind:
// versions 1 to 3 are those of both; 4, the key of SQLite's pktav_calls,
// concerns SQLite only, and PostgreSQL's tables stay at 3, so that the
// loaders of a head office need no upgrade of the shared tables.
inline constexpr int sqliteschema = 4, postgresschema = 3;

// The columns of pktav_calls after file_id and line_offset.
inline constexpr const char* rowcolumns =
    "call_end, call_start, duration, duration_mark, station, trunk, other_station, dialled, meter,"
    " charge, flags, trunk_first, class_bits, ambiguous, destination, billed, cost_units, name,"
    " department";
// The view calls over pktav_calls c and pktav_files f, joined where
// `join` holds: a file's rows, found as each kind keys them.
std::string callsview(const std::string& join);
// The columns of pktav_calls after file_id, each after `prefix`: "NEW."
// for a trigger's, "c." for a join's.
std::string rowvalues(const std::string& prefix);

// A failure of the database. `transient`: it went away or is not there yet
// (a connection lost or refused, a server starting or stopping, a full
// disk, a lock held too long), and trying again later may succeed.
class dberror : public std::runtime_error {
 public:
  dberror(const std::string& what, bool transient)
      : std::runtime_error(what), transient_(transient) {}
  bool transient() const { return transient_; }

 private:
  bool transient_;
};

// The columns of pktav_positions after site and file, their values and
// the position they make; and "?3, ?4, ..." or "$3, $4, ...": n
// parameters from the first, for the SQL of the units.
inline constexpr const char* positioncolumns =
    "hour, base, bytes, lines, hash, head, dev, ino, born, size, mtime, split";
inline constexpr int positionfields = 12;
std::array<int64_t, positionfields> positionvalues(const loadedfile& f);
loadedfile positionof(std::string_view file, const std::array<int64_t, positionfields>& v);
std::string parameters(char mark, int first, int n);

class database {
 public:
  virtual ~database() = default;

  // What it is, for messages: never a password.
  virtual std::string name() const = 0;

  // Makes the tables when missing (with `create`) and upgrades older ones;
  // refuses tables of a newer version, or a table `calls` it did not make.
  virtual void prepare(bool create) = 0;

  // The positions of the site's files whose hours (YYYYMMDDhh) lie in
  // [lo, hi], in any order.
  virtual void positions(const std::string& site, int64_t lo, int64_t hi,
                         const std::function<void(const loadedfile&)>& each) = 0;

  virtual void begin(const std::string& site) = 0;
  virtual void add(const cdrrow& r) = 0;
  // Puts the times and the ambiguity of a row already there to those of r
  // (the second pass of a repeated hour came to light).
  virtual void update(const cdrrow& r) = 0;
  // Puts the priced columns of a row already there to those of r: those of
  // the tariff (destination, billed, cost_units), of the directory (name,
  // department) or both; false when there is no such row.
  virtual bool reprice(const cdrrow& r, bool tariff, bool directory) = 0;
  // Moves a file's position from `was` (none: the file is new to the
  // database) to `now`; false when the database's is not `was`.
  virtual bool claim(const loadedfile* was, const loadedfile& now) = 0;
  // False when a claim not answered yet does not hold: the transaction is
  // then rolled back.
  virtual bool commit() = 0;
  // Never throws: a connection lost rolls back by itself.
  virtual void rollback() noexcept = 0;

  // The site's rows of a file, by offset.
  virtual void rows(const std::string& site, const std::string& file,
                    const std::function<void(const cdrrow&)>& each) = 0;
};

// Opens DATABASE: a PostgreSQL connection string or URI (postgresql://...,
// postgres://..., or key=value words), else the path of an SQLite file,
// made when missing if `create`.
std::unique_ptr<database> opendatabase(const std::string& target, bool create);

// Whether DATABASE names a PostgreSQL database rather than a file.
bool ispostgres(const std::string& target);

// The units' openers.
std::unique_ptr<database> opensqlite(const std::string& path, bool create);
std::unique_ptr<database> openpostgres(const std::string& conninfo);
