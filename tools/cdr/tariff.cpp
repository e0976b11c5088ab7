#include "tariff.h"

#include <algorithm>
#include <numeric>

#include "cdr/csvfile.h"
#include "cdr/diag.h"
#include "tools/common/numbers.h"

namespace {

constexpr const char* columns = "prefix,destination,days,from,to,setup,per_minute,first,step,pulse";
enum { c_prefix, c_destination, c_days, c_from, c_to, c_setup, c_perminute, c_first, c_step, c_pulse };
const char* const names[] = {"prefix", "destination", "days", "from", "to",
                             "setup",  "per_minute",  "first", "step", "pulse"};
constexpr size_t maxprefix = 24;   // as many digits as a call can have dialled
constexpr uint64_t maxincrement = 86400;

// `column "value": why`.
std::string bad(int column, const std::string& value, const char* why) {
  return std::string(names[column]) + " \"" + printable(value) + "\": " + why;
}

const char* nametrouble(const std::string& s) { return s.empty() ? "no name" : texttrouble(s); }

}  // namespace

bool tariff::readrate(const std::vector<std::string>& f, long line, fileproblems& p) {
  tariffrow row;
  rate& r = row.r;
  row.line = line;
  bool good = true;
  auto fail = [&](int column, const char* why) {
    p.error(line, bad(column, f[static_cast<size_t>(column)], why));
    good = false;
  };
  const std::string& prefix = f[c_prefix];
  if (prefix.find_first_not_of("0123456789") != prefix.npos)
    fail(c_prefix, "not dialled digits");
  else if (prefix.size() > maxprefix)
    fail(c_prefix, "longer than 24 digits");
  row.prefix = prefix;

  const std::string& dest = f[c_destination];
  if (const char* why = nametrouble(dest)) fail(c_destination, why);
  else if (std::find(names_.begin(), names_.begin() + firstnamed, dest) != names_.begin() + firstnamed)
    fail(c_destination, "a name pktav-cdr gives calls it does not price by a rate");

  if (const char* why = parsedays(f[c_days], &r.when)) fail(c_days, why);
  const char* badfrom = parsefrom(f[c_from], &r.when);
  const char* badto = parseto(f[c_to], &r.when);
  if (badfrom) fail(c_from, badfrom);
  if (badto) fail(c_to, badto);
  if (!badfrom && !badto)
    if (const char* why = checkspan(r.when)) p.error(line, why), good = false;

  const int prices[] = {c_setup, c_perminute, c_pulse};
  money* to[] = {&r.setup, &r.perminute, &r.pulse};
  for (int i = 0; i < 3; ++i)
    if (const char* why = parsemoney(f[static_cast<size_t>(prices[i])], to[i])) fail(prices[i], why);

  uint64_t first = 0, step = 0;
  if (!parsecount(f[c_first], &first, 6)) fail(c_first, "not a number of seconds");
  else if (first > maxincrement) fail(c_first, "more than a day (86400 seconds)");
  if (!parsecount(f[c_step], &step, 6)) fail(c_step, "not a number of seconds");
  else if (step == 0) fail(c_step, "a step of 0 seconds: at least 1");
  else if (step > maxincrement) fail(c_step, "more than a day (86400 seconds)");
  r.first = static_cast<uint32_t>(first);
  r.step = static_cast<uint32_t>(step);
  if (!good) return false;

  auto [known, fresh] = named_.try_emplace(dest, static_cast<uint32_t>(names_.size()));
  r.destination = known->second;
  if (fresh) names_.push_back(dest);
  rows_.push_back(std::move(row));
  return true;
}

// A rate is never chosen when earlier rates of its prefix hold at every
// minute it holds: they come first.
void tariff::warnunreachable(fileproblems& p) const {
  std::vector<size_t> order(rows_.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return rows_[a].prefix < rows_[b].prefix; });
  std::vector<weekminutes> group;  // the minutes of the rates of one prefix, in file order
  weekminutes covered;
  for (size_t i = 0, first = 0; i < order.size(); ++i) {
    const tariffrow& r = rows_[order[i]];
    if (i == 0 || rows_[order[i - 1]].prefix != r.prefix) {
      first = i;
      group.clear();
      covered.reset();
      if (i + 1 == order.size() || rows_[order[i + 1]].prefix != r.prefix) continue;  // alone
    }
    group.push_back(r.r.when.minutes());
    const weekminutes& mine = group.back();
    if (i > first && (mine & ~covered).none()) {
      std::string on;
      size_t count = 0;
      for (size_t k = 0; k + 1 < group.size(); ++k)
        if ((group[k] & mine).any())
          on += (count++ ? ", " : "") + std::to_string(rows_[order[first + k]].line);
      p.warning(r.line, "never chosen: the rates of its prefix (\"" + r.prefix + "\") on " +
                            (count == 1 ? "line " : "lines ") + on +
                            " hold whenever it does, and come first");
    }
    covered |= mine;
  }
}

bool tariff::load(const std::string& path, std::vector<fileproblem>* problems) {
  std::string text;
  {
    fileproblems p(problems, path);
    if (!readtablefile(path, p, &text)) return false;
  }
  return parse(text, path, problems);
}

bool tariff::parse(std::string_view text, const std::string& path,
                   std::vector<fileproblem>* problems) {
  path_ = path;
  fileproblems p(problems, path);
  if (!parsetable(text, columns, p, [&](csvrecord& row) { readrate(row.fields, row.line, p); }))
    return false;
  if (p.errors()) return false;
  if (rows_.empty()) {
    p.error(0, "no rates");
    return false;
  }
  for (uint32_t i = 0; i < rows_.size(); ++i) trie_.add(rows_[i].prefix, i);
  trie_.seal();
  for (uint32_t i : trie_.order()) byprefix_.push_back(rows_[i].r);
  named_.clear();
  warnunreachable(p);
  return true;
}
