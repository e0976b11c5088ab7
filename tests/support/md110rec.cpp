#include "support/md110rec.h"

namespace {

struct column {
  size_t off, len;
};

// The columns that carry nothing the decoder uses.
constexpr column unexamined[] = {{16, 1},  {27, 10}, {69, 8},  {90, 3}, {94, 6},
                                 {101, 3}, {105, 2}, {108, 2}, {131, 4}};

void put(std::string& rec, size_t off, size_t len, const std::string& text) {
  std::string cut = text.substr(0, len);
  rec.replace(off, cut.size(), cut);
}

}  // namespace

std::string md110record(const md110fields& f) {
  std::string rec(136, ' ');
  for (const column& c : unexamined) rec.replace(c.off, c.len, c.len, '9');
  put(rec, 3, 8, f.stamp);
  put(rec, 12, 4, f.duration);
  put(rec, 18, 4, f.meter);
  put(rec, 23, 3, f.cond);
  put(rec, 38, 20, f.first);
  put(rec, 59, 10, f.second);
  put(rec, 78, 12, f.charge);
  put(rec, 111, 9, f.trunk1);
  put(rec, 121, 9, f.trunk2);
  rec[135] = '\n';
  return rec;
}

std::string firststation(const std::string& seven) { return std::string(13, ' ') + seven; }
