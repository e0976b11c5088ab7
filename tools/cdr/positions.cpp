#include "positions.h"

namespace {

int64_t monthnumber(int64_t hour) { return hour / 10000; }

}  // namespace

int64_t hournumber(const hourkey& k) {
  return ((int64_t{k.year} * 100 + k.month) * 100 + k.day) * 100 + k.hour;
}

const loadedfile* positions::find(const std::string& rel, int64_t hour) {
  int64_t month = monthnumber(hour);
  auto m = months_.find(month);
  if (m == months_.end()) {
    if (months_.size() >= 2) months_.erase(months_.begin());
    m = months_.emplace(month, std::unordered_map<std::string, loadedfile>()).first;
    auto& files = m->second;
    db_.positions(site_, month * 10000, month * 10000 + 9999,
                  [&](const loadedfile& f) { files.emplace(f.file, f); });
  }
  auto f = m->second.find(rel);
  return f == m->second.end() ? nullptr : &f->second;
}

void positions::put(const loadedfile& f) {
  auto m = months_.find(monthnumber(f.hour));
  if (m != months_.end()) m->second[f.file] = f;
}
