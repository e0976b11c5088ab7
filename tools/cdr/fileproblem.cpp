#include "fileproblem.h"

#include <algorithm>

#include "cdr/csvfile.h"
#include "cdr/diag.h"

namespace {

// The largest tariff or directory read: many times any real one.
constexpr size_t table_limit = 64u << 20;

std::vector<std::string> split(const std::string& s) {
  std::vector<std::string> v;
  for (size_t at = 0;;) {
    size_t comma = s.find(',', at);
    v.push_back(s.substr(at, comma == s.npos ? s.npos : comma - at));
    if (comma == s.npos) return v;
    at = comma + 1;
  }
}

}  // namespace

fileproblems::~fileproblems() {
  std::stable_sort(to_->begin() + static_cast<std::ptrdiff_t>(first_), to_->end(),
                   [](const fileproblem& a, const fileproblem& b) { return a.line < b.line; });
}

const char* texttrouble(const std::string& s) {
  if (s.size() > 200) return "longer than 200 bytes";
  for (char c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return "a control character";
  if (!s.empty() && (s.front() == ' ' || s.back() == ' ')) return "a blank at its start or end";
  return nullptr;
}

std::string problemtext(const fileproblem& p) {
  std::string s = p.file + ":";
  if (p.line) s += std::to_string(p.line) + ":";
  return s + (p.warning ? " warning: " : " ") + p.what;
}

bool showproblems(const std::vector<fileproblem>& problems) {
  bool clean = true;
  for (const fileproblem& p : problems) {
    warnx("%s", problemtext(p).c_str());
    clean = clean && p.warning;
  }
  return clean;
}

bool readtablefile(const std::string& path, fileproblems& p, std::string* text) {
  std::string err;
  if (readsmallfile(path, table_limit, text, &err)) return true;
  p.error(0, err);
  return false;
}

bool parsetable(std::string_view text, const char* columns, fileproblems& p,
                const std::function<void(csvrecord&)>& each) {
  std::vector<std::string> want = split(columns);
  std::string need = std::string("the first row names the columns ") + columns;
  std::vector<size_t> at;  // where each wanted column is in the file; empty before the header
  bool good = true;
  csvrecord ordered;
  auto record = [&](csvrecord& rec) {
    if (!good) return;
    if (at.empty()) {
      at.assign(want.size(), rec.fields.size());
      good = rec.fields.size() == want.size();
      for (size_t i = 0; i < rec.fields.size() && good; ++i) {
        size_t k = 0;
        while (k < want.size() && want[k] != rec.fields[i]) ++k;
        good = k < want.size() && at[k] == rec.fields.size();
        if (good) at[k] = i;
      }
      if (!good) p.error(rec.line, need);
      return;
    }
    if (rec.fields.size() != want.size()) {
      p.error(rec.line, std::to_string(rec.fields.size()) + " fields, not " +
                            std::to_string(want.size()));
      return;
    }
    ordered.line = rec.line;
    ordered.fields.resize(want.size());
    for (size_t k = 0; k < want.size(); ++k) ordered.fields[k] = std::move(rec.fields[at[k]]);
    each(ordered);
  };
  long badline = 0;
  if (const char* why = parsecsv(text, record, &badline)) {
    p.error(badline, why);
    return false;
  }
  if (good && at.empty()) {
    p.error(0, "no header row: " + need);
    return false;
  }
  return good;
}
