#include "storecompare.h"

#include <algorithm>
#include <climits>
#include <map>
#include <utility>
#include <vector>

#include "cdr/callline.h"
#include "cdr/linereader.h"

namespace {

// The well-formed lines of a file, with their wall time; others are the
// audit's business, not the comparison's.
template <typename F>
void eachline(const hourfile& f, F fn) {
  linereader in;
  linereader::line l;
  cdrcall c;
  if (!in.open(f.path)) return;
  while (in.next(&l))
    if (!l.torn && !l.toolong && !parsecall(l.text, f.key.year, &c)) fn(l, wallsecs(c.end));
}

hourkey keyofwall(int64_t w) {
  wall x = wallof(w);
  return {x.year, x.month, x.day, x.hour};
}

std::vector<hourfile> filesof(const std::string& root, const hourkey& lo, const hourkey& hi) {
  std::vector<hourfile> v;
  walkstore(
      root, lo, hi, [&](const hourfile& f) { v.push_back(f); }, [](const std::string&, int) {});
  return v;
}

// One store's files, taken an hour at a time.
struct hours {
  std::vector<hourfile> files;
  size_t next = 0;
  bool done() const { return next == files.size(); }
  const hourkey& key() const { return files[next].key; }
};

// Where a line of ours stands: file, line number.
using place = std::pair<std::string, long>;

// Compares one hour: the lines of ours, matched off by theirs.
void comparehour(const std::string& root, const hourkey& key, hours& ours, hours& theirs,
                 int64_t lo, int64_t hi, findings& found) {
  std::multimap<std::string, place> lines;
  for (; !ours.done() && ours.key() == key; ++ours.next) {
    const hourfile& f = ours.files[ours.next];
    eachline(f, [&](const linereader::line& l, int64_t w) {
      if (w >= lo && w <= hi) lines.emplace(std::string(l.text), place(f.path, l.number));
    });
  }
  for (; !theirs.done() && theirs.key() == key; ++theirs.next)
    eachline(theirs.files[theirs.next], [&](const linereader::line& l, int64_t w) {
      if (w < lo || w > hi) return;
      auto it = lines.find(std::string(l.text));
      if (it != lines.end())
        lines.erase(it);
      else
        found.add("missing", root + "/" + hourpath(key), 0,
                  "a call of the raw log that the store lacks", l.text);
    });
  std::vector<std::pair<place, std::string>> extra;
  for (const auto& [text, where] : lines) extra.push_back({where, text});
  std::sort(extra.begin(), extra.end());
  for (const auto& [where, text] : extra)
    found.add("unlogged", where.first, where.second, "a call the raw log does not hold", text);
}

}  // namespace

bool storespan(const std::string& root, const hourkey& lo, const hourkey& hi, int64_t* first,
               int64_t* last) {
  std::vector<hourfile> head, tail;
  walkstore(
      root, lo, hi,
      [&](const hourfile& f) {
        if (head.empty() || head.front().key == f.key) head.push_back(f);
        if (!tail.empty() && tail.front().key != f.key) tail.clear();
        tail.push_back(f);
      },
      [](const std::string&, int) {});
  if (head.empty()) return false;
  *first = INT64_MAX;
  *last = INT64_MIN;
  for (const hourfile& f : head)
    eachline(f, [&](const linereader::line&, int64_t w) { *first = std::min(*first, w); });
  for (const hourfile& f : tail)
    eachline(f, [&](const linereader::line&, int64_t w) { *last = std::max(*last, w); });
  return *first <= *last;
}

void comparestores(const std::string& ours, const std::string& theirs, int64_t lo, int64_t hi,
                   findings& found) {
  hourkey klo = keyofwall(lo), khi = keyofwall(hi);
  hours a{filesof(ours, klo, khi)}, b{filesof(theirs, klo, khi)};
  while (!a.done() || !b.done()) {
    const hourkey key = b.done() || (!a.done() && a.key() < b.key()) ? a.key() : b.key();
    comparehour(ours, key, a, b, lo, hi, found);
  }
}
