#include "tools/pabxsim/callslist.h"

size_t callslist::add(uint64_t seq, const char* status, char kind, bool awaitsline) {
  rows_.push_back({seq, status, kind, !awaitsline, "-"});
  size_t number = first_ + rows_.size() - 1;
  writeready();
  return number;
}

void callslist::settle(size_t number, const std::string& line) {
  row& r = rows_[number - first_];
  r.line = line.substr(0, line.find('\n'));
  r.final = true;
  writeready();
}

void callslist::writeready() {
  while (!rows_.empty() && rows_.front().final) {
    const row& r = rows_.front();
    if (out_)
      fprintf(out_, "%llu\t%s\t%c\t%s\n", static_cast<unsigned long long>(r.seq), r.status, r.kind,
              r.line.c_str());
    rows_.pop_front();
    ++first_;
  }
}

bool callslist::finish() {
  for (row& r : rows_) r.final = true;
  writeready();
  return !out_ || fflush(out_) == 0;
}
