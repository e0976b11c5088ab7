// The loader: the store's new lines into the database, exactly once.
//
// A pass walks the hours asked for in time order and, for each hour file,
// compares it with its position (loadedfile.h), reads the whole lines
// after it, and adds their rows to the batch in flight. A batch ends after
// `batchrows` rows, or `batchfiles` files whose positions moved (so that
// what it keeps of its files stays small, however small they are), and at
// the end of the pass: its rows and the new positions of its files are
// committed in one transaction, so that whatever ends the run, the
// database holds either both or neither. A line without its line feed is
// not loaded (it waits for the rest); one that is not a CDR line is named
// on standard error and passed over, and its file's position moves past
// it, so that it is named once.
//
// With a tariff or a directory (`prices`), each row gets its priced
// columns as it is added; reprice() puts those of the rows already loaded
// to what the files say now.
#pragma once

#include <csignal>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cdr/database.h"
#include "cdr/positions.h"
#include "cdr/pricing.h"
#include "cdr/reader.h"
#include "cdr/storewalk.h"
#include "cdr/zone.h"

class loader {
 public:
  loader(database& db, const std::string& root, const std::string& site, tzone& zone,
         bool strictdst);

  // Loads what is new in the hour files of [lo, hi]; throws dberror, with
  // the batch in flight rolled back. With `stop` set (by a signal), it
  // ends after the file it is reading, committing what it read.
  void pass(const hourkey& lo, const hourkey& hi, const volatile sig_atomic_t* stop = nullptr);

  // Prices the loaded rows of the hour files of [lo, hi] again, in one
  // transaction: the tariff's columns, the directory's, as `prices` has
  // them. A file changed since it was loaded is named and left as it is.
  void reprice(const hourkey& lo, const hourkey& hi);

  // Forgets the positions read: after a failure of the database, which
  // may or may not have committed the last batch.
  void forget();

  long problems = 0;  // lines that are not calls, files that cannot be read
  long findings = 0;  // files whose loaded part changed
  long rows = 0;      // rows committed (priced again, by reprice)
  long missing = 0;   // rows reprice did not find
  bool stamped = false;   // messages with the time, for a log
  long batchrows = 50000;  // rows a transaction
  static constexpr size_t batchfiles = 1000;
  const pricing* prices = nullptr;

 private:
  class sink;
  class repricer;
  struct claim {
    std::optional<loadedfile> was;
    loadedfile now;
  };

  void visit(const hourfile& f);
  void readnew(const hourfile& f, const std::string& rel, const std::optional<loadedfile>& was,
               loadedfile next);
  void revisit(const hourfile& f);  // reprice's visit
  void flush();  // commits the batch in flight
  void finding(const std::string& path, const char* what);
  void stray(const std::string& path, const char* what);  // named once
  void leftasis(const std::string& path, const char* what);  // reprice's finding
  [[gnu::format(printf, 2, 3)]] void event(const char* fmt, ...);

  database& db_;
  std::string root_, site_;
  tzone& zone_;
  callreader reader_;
  bool open_ = false;  // a transaction is in flight
  long batch_ = 0;     // rows in it
  std::vector<claim> claims_;
  positions known_;
  std::set<std::string> named_;  // changed files and strays named
};
