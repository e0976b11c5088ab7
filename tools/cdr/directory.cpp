#include "directory.h"

#include <algorithm>
#include <map>

#include "cdr/csvfile.h"
#include "cdr/diag.h"
#include "tools/common/numbers.h"

namespace {

const char* pathtrouble(const std::string& s) {
  if (const char* why = texttrouble(s)) return why;
  if (s.front() == '/' || s.back() == '/' || s.find("//") != s.npos)
    return "a department path with an empty part (Sales/North, not Sales//North or /Sales)";
  if (s.find(" /") != s.npos || s.find("/ ") != s.npos) return "a blank beside a '/'";
  if (s == "(none)") return "the name of calls in no department";
  return nullptr;
}

// A station as the store writes one: digits, no leading zero.
bool stationnumber(const std::string& s, uint32_t* n) {
  uint64_t v;
  if (s.size() > 7 || s[0] == '0' || !parsecount(s, &v)) return false;
  *n = static_cast<uint32_t>(v);
  return true;
}

// Paths in the order that puts a department's sub-departments right after
// it: '/' before any other byte.
struct pathorder {
  bool operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      auto key = [](char c) { return c == '/' ? 1 : static_cast<unsigned char>(c) + 1; };
      return key(x) < key(y);
    });
  }
};

}  // namespace

bool directory::load(const std::string& path, std::vector<fileproblem>* problems) {
  std::string text;
  {
    fileproblems p(problems, path);
    if (!readtablefile(path, p, &text)) return false;
  }
  return parse(text, path, problems);
}

bool directory::parse(std::string_view text, const std::string& path,
                      std::vector<fileproblem>* problems) {
  path_ = path;
  fileproblems p(problems, path);
  std::map<uint32_t, std::pair<entry, std::string>> read;
  auto each = [&](csvrecord& row) {
    const std::string& station = row.fields[0];
    std::string& name = row.fields[1];
    std::string& dept = row.fields[2];
    uint32_t n = 0;
    if (station.empty() || !stationnumber(station, &n)) {
      p.error(row.line, "station \"" + printable(station) + "\": not a station number (digits, no leading zero)");
      return;
    }
    if (const char* why = texttrouble(name)) p.error(row.line, "name \"" + printable(name) + "\": " + why);
    if (!dept.empty())
      if (const char* why = pathtrouble(dept)) p.error(row.line, "department \"" + printable(dept) + "\": " + why);
    auto [it, fresh] = read.try_emplace(n, entry{std::move(name), nodepartment, row.line}, dept);
    if (!fresh)
      p.error(row.line, "station " + station + " is listed already, on line " +
                            std::to_string(it->second.first.line));
  };
  if (!parsetable(text, "station,name,department", p, each)) return false;
  if (p.errors()) return false;

  // Every department and each one above it, sorted by path.
  std::map<std::string, uint32_t, pathorder> paths;
  for (const auto& [n, e] : read)
    for (size_t at = 0; !e.second.empty() && at != std::string::npos;) {
      at = e.second.find('/', at + 1);
      paths.emplace(e.second.substr(0, at), 0);
    }
  for (auto& [name, id] : paths) {
    id = static_cast<uint32_t>(departments_.size());
    departments_.push_back(name);
    size_t slash = name.rfind('/');
    parents_.push_back(slash == name.npos ? nodepartment : paths.at(name.substr(0, slash)));
  }
  for (auto& [n, e] : read) {
    e.first.department = e.second.empty() ? nodepartment : paths.at(e.second);
    numbers_.push_back(n);
    entries_.push_back(std::move(e.first));
  }
  // A table by number when it takes no more than four numbers a station.
  if (!numbers_.empty() && numbers_.back() - numbers_.front() < 4 * numbers_.size() + 1024) {
    lowest_ = numbers_.front();
    dense_.assign(numbers_.back() - lowest_ + 1, 0);
    for (size_t i = 0; i < numbers_.size(); ++i) dense_[numbers_[i] - lowest_] = static_cast<uint32_t>(i + 1);
  }
  return true;
}

uint32_t directory::departmentof(const std::string& path) const {
  auto it = std::lower_bound(departments_.begin() + 1, departments_.end(), path, pathorder());
  return it != departments_.end() && *it == path ? static_cast<uint32_t>(it - departments_.begin())
                                                 : nodepartment;
}

bool directory::within(uint32_t department, uint32_t above) const {
  for (uint32_t d = department; d != nodepartment; d = parents_[d])
    if (d == above) return true;
  return false;
}
