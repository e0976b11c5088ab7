// What is wrong in a file a user wrote (a tariff, a station directory),
// each thing with its line, so that it can be found and mended; warnings
// are things that are allowed but cannot be meant.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct fileproblem {
  std::string file;
  long line = 0;  // 0: the file as a whole
  std::string what;
  bool warning = false;
};

class fileproblems {
 public:
  // Problems of the file go to *to, in the order of their lines once it
  // is read (the destructor sorts them).
  fileproblems(std::vector<fileproblem>* to, std::string file)
      : to_(to), file_(std::move(file)), first_(to->size()) {}
  ~fileproblems();
  fileproblems(const fileproblems&) = delete;
  fileproblems& operator=(const fileproblems&) = delete;
  void error(long line, std::string what) { add(line, std::move(what), false); }
  void warning(long line, std::string what) { add(line, std::move(what), true); }
  bool errors() const { return errors_ > 0; }

 private:
  void add(long line, std::string what, bool warning) {
    to_->push_back({file_, line, std::move(what), warning});
    errors_ += !warning;
  }
  std::vector<fileproblem>* to_;
  std::string file_;
  size_t first_;
  long errors_ = 0;
};

// "FILE:LINE: WHAT", "FILE:LINE: warning: WHAT", "FILE: WHAT" for line 0.
std::string problemtext(const fileproblem& p);

// Writes each on standard error; true when none is an error.
bool showproblems(const std::vector<fileproblem>& problems);

// Why a name in such a file cannot be one: longer than 200 bytes, a
// control character, a blank at its start or end; nullptr when it can.
const char* texttrouble(const std::string& s);

// The contents of the file at `path` (a regular file of a sane size), or
// false with the reason told to `p`.
bool readtablefile(const std::string& path, fileproblems& p, std::string* text);

// Reads CSV text and checks its header row against `columns` (names
// joined by commas, each needed once, in any order). Hands each record
// after the header to `each`, its fields in the order of `columns`; rows
// of another count of fields are told to `p` and left out. False, with the
// reason told to `p`, when the text is not CSV or has no such header.
struct csvrecord;
bool parsetable(std::string_view text, const char* columns, fileproblems& p,
                const std::function<void(csvrecord&)>& each);
