#include "rules.h"

#include <algorithm>

#include "cdr/diag.h"
#include "cdr/pricing.h"
#include "tools/common/numbers.h"

namespace {

enum setting : unsigned {
  s_prefix,
  s_outside,
  s_within,
  s_over,
  s_by,
  s_calls,
  s_minutes,
  s_cost,
  s_window,
  s_for,
  s_stations,
  s_trunks,
  s_department,
  s_count
};
const char* const settingnames[s_count] = {"prefix",   "outside", "within",    "over",   "by",
                                           "calls",    "minutes", "cost",      "window", "for",
                                           "stations", "trunks",  "department"};
constexpr unsigned bit(setting s) { return 1u << s; }
constexpr unsigned limits = bit(s_stations) | bit(s_trunks) | bit(s_department);

struct kindrow {
  const char* name;
  rulekind kind;
  unsigned takes;  // besides the limits every rule takes
  unsigned needs;
};
const kindrow kinds[] = {
    {"destination", rulekind::destination, bit(s_prefix) | bit(s_outside) | bit(s_within),
     bit(s_prefix)},
    {"long", rulekind::longcall, bit(s_over), bit(s_over)},
    {"burst", rulekind::burst,
     bit(s_by) | bit(s_calls) | bit(s_minutes) | bit(s_cost) | bit(s_window) | bit(s_prefix),
     bit(s_by) | bit(s_window)},
    {"cost", rulekind::cost, bit(s_over), bit(s_over)},
    {"silence", rulekind::silence, bit(s_for) | bit(s_within), bit(s_for)},
};

constexpr size_t maxprefix = 24;  // as the tariff's
constexpr int64_t maxduration = 31 * 86400;
constexpr uint64_t maxcalls = 1000000, maxminutes = 1000000;

// The words of a line, a quoted part of a word without its quotes; false
// when a quote does not close.
bool splitwords(std::string_view line, std::vector<std::string>* words) {
  words->clear();
  size_t i = 0;
  for (;;) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    if (i == line.size() || line[i] == '#') return true;
    std::string w;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
      if (line[i] != '"') {
        w += line[i++];
        continue;
      }
      size_t close = line.find('"', i + 1);
      if (close == line.npos) return false;
      w.append(line.substr(i + 1, close - i - 1));
      i = close + 1;
    }
    words->push_back(std::move(w));
  }
}

const char* nametrouble(const std::string& s) {
  if (s.size() > 64) return "longer than 64 bytes";
  if (s.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_.-") !=
      s.npos)
    return "letters, digits, '_', '-' and '.' only";
  return nullptr;
}

const char* readprefixes(std::string_view s, std::vector<std::string>* out) {
  for (size_t at = 0;;) {
    size_t comma = s.find(',', at);
    std::string_view p = s.substr(at, comma == s.npos ? s.npos : comma - at);
    if (p.empty()) return "an empty prefix (digits joined by commas: 19,0900)";
    if (p.find_first_not_of("0123456789") != p.npos) return "not dialled digits joined by commas";
    if (p.size() > maxprefix) return "a prefix longer than 24 digits";
    out->emplace_back(p);
    if (comma == s.npos) return nullptr;
    at = comma + 1;
  }
}

const char* readrange(std::string_view s, std::optional<numrange>* out) {
  numrange r;
  if (!parserange(std::string(s), &r)) return "not a number or range A-B";
  if (r.lo > r.hi) return "a range from high to low: give the lower number first";
  *out = r;
  return nullptr;
}

const char* readcount(std::string_view s, uint64_t most, int64_t* out) {
  uint64_t n;
  if (!parsecount(s, &n, 8) || n > most) return "not a whole number";
  *out = static_cast<int64_t>(n);
  return nullptr;
}

// Reads one setting's value into *r; nullptr, or why it cannot be one.
const char* readsetting(setting s, std::string_view v, watchrule* r) {
  switch (s) {
    case s_prefix: return readprefixes(v, &r->prefixes);
    case s_outside:
    case s_within: {
      window w;
      if (const char* why = parsewindow(v, &w)) return why;
      r->when = w;
      r->outside = s == s_outside;
      r->whentext = v;
      return nullptr;
    }
    case s_over:
      if (r->kind == rulekind::cost) return parsemoney(v, &r->limit);
      [[fallthrough]];
    case s_window:
    case s_for: r->secondstext = v; return parseduration(v, &r->seconds);
    case s_by:
      if (v != "station" && v != "trunk") return "not station or trunk";
      r->bytrunk = v == "trunk";
      return nullptr;
    case s_calls: r->measure = burstmeasure::calls; return readcount(v, maxcalls, &r->limit);
    case s_minutes: {
      r->measure = burstmeasure::seconds;
      const char* why = readcount(v, maxminutes, &r->limit);
      r->limit *= 60;
      return why;
    }
    case s_cost: r->measure = burstmeasure::cost; return parsemoney(v, &r->limit);
    case s_stations: return readrange(v, &r->stations);
    case s_trunks: return readrange(v, &r->trunks);
    case s_department:
      r->department = v;
      return v.empty() ? "no department named" : texttrouble(r->department);
    case s_count: break;
  }
  return "no such setting";
}

// "a, b or c" of the settings in `set`.
std::string settinglist(unsigned set) {
  std::string s;
  for (unsigned i = 0, left = static_cast<unsigned>(__builtin_popcount(set)); i < s_count; ++i) {
    if (!(set >> i & 1)) continue;
    s += std::string(settingnames[i]) + "=";
    --left;
    s += left > 1 ? ", " : left == 1 ? " or " : "";
  }
  return s;
}

}  // namespace

const char* kindname(rulekind k) {
  for (const kindrow& r : kinds)
    if (r.kind == k) return r.name;
  return "?";
}

const char* parseduration(std::string_view s, int64_t* seconds) {
  const char* form = "not a duration (a number and s, m or h: 90s, 10m, 2h)";
  if (s.size() < 2) return form;
  int64_t unit = s.back() == 's' ? 1 : s.back() == 'm' ? 60 : s.back() == 'h' ? 3600 : 0;
  uint64_t n;
  if (!unit || !parsecount(s.substr(0, s.size() - 1), &n, 8)) return form;
  if (n == 0) return "no time at all";
  if (static_cast<int64_t>(n) > maxduration / unit) return "more than 31 days";
  *seconds = static_cast<int64_t>(n) * unit;
  return nullptr;
}

bool watchrules::readrule(const std::vector<std::string>& words, long line, fileproblems& p) {
  watchrule r;
  r.line = line;
  r.name = words[0];
  bool good = true;
  auto fail = [&](std::string why) {
    p.error(line, std::move(why));
    good = false;
  };
  if (const char* why = nametrouble(r.name))
    fail("rule name \"" + printable(r.name) + "\": " + why);
  for (const watchrule& o : rules_)
    if (o.name == r.name)
      fail("rule name \"" + r.name + "\": the name of the rule on line " + std::to_string(o.line) +
           " too");
  if (words.size() < 2) {
    p.error(line, "a rule is a name, a kind and its settings: no kind");
    return false;
  }
  const kindrow* k = nullptr;
  for (const kindrow& row : kinds)
    if (words[1] == row.name) k = &row;
  if (!k) {
    p.error(line,
            "kind \"" + printable(words[1]) + "\": not destination, long, burst, cost or silence");
    return false;
  }
  r.kind = k->kind;
  unsigned given = 0;
  for (size_t i = 2; i < words.size(); ++i) {
    const std::string& w = words[i];
    size_t eq = w.find('=');
    std::string_view key = std::string_view(w).substr(0, eq);
    unsigned s = 0;
    while (s < s_count && key != settingnames[s]) ++s;
    if (eq == w.npos) {
      fail("\"" + printable(w) + "\": not a setting NAME=VALUE");
    } else if (s == s_count || !((k->takes | limits) & bit(setting(s)))) {
      fail("\"" + printable(key) + "=\": not a setting of a " + k->name + " rule (" +
           settinglist(k->takes | limits) + ")");
    } else if (given & bit(setting(s))) {
      fail(std::string(settingnames[s]) + "= given twice");
    } else {
      given |= bit(setting(s));
      std::string_view value = std::string_view(w).substr(eq + 1);
      if (const char* why = readsetting(setting(s), value, &r))
        fail(std::string(settingnames[s]) + " \"" + printable(value) + "\": " + why);
    }
  }
  if (unsigned missing = k->needs & ~given)
    fail(std::string("a ") + k->name + " rule needs " + settinglist(missing));
  if ((given & bit(s_outside)) && (given & bit(s_within)))
    fail("outside= and within= together: one or the other");
  const unsigned measures = bit(s_calls) | bit(s_minutes) | bit(s_cost);
  if (k->kind == rulekind::burst && __builtin_popcount(given & measures) != 1)
    fail("a burst rule counts one of calls=, minutes= or cost=");
  if (good) rules_.push_back(std::move(r));
  return good;
}

bool watchrules::load(const std::string& path, std::vector<fileproblem>* problems) {
  std::string text;
  {
    fileproblems p(problems, path);
    if (!readtablefile(path, p, &text)) return false;
  }
  return parse(text, path, problems);
}

bool watchrules::parse(std::string_view text, const std::string& path,
                       std::vector<fileproblem>* problems) {
  path_ = path;
  fileproblems p(problems, path);
  std::vector<std::string> words;
  long line = 0;
  for (size_t at = 0; at < text.size();) {
    size_t nl = text.find('\n', at);
    std::string_view l = text.substr(at, nl == text.npos ? text.npos : nl - at);
    at = nl == text.npos ? text.size() : nl + 1;
    ++line;
    if (line == 1 && l.substr(0, 3) == "\xef\xbb\xbf") l.remove_prefix(3);
    if (!splitwords(l, &words)) {
      p.error(line, "a quote that does not close");
      continue;
    }
    auto bad = std::find_if(words.begin(), words.end(),
                            [](const std::string& w) { return texttrouble(w) != nullptr; });
    if (bad != words.end())
      p.error(line, "\"" + printable(*bad) + "\": " + texttrouble(*bad));
    else if (!words.empty())
      readrule(words, line, p);
  }
  if (p.errors()) return false;
  if (rules_.empty()) {
    p.error(0, "no rules");
    return false;
  }
  return true;
}

bool watchrules::fits(const pricing& prices, std::vector<fileproblem>* problems) {
  fileproblems p(problems, path_);
  for (watchrule& r : rules_) {
    bool costs =
        r.kind == rulekind::cost || (r.kind == rulekind::burst && r.measure == burstmeasure::cost);
    if (costs && !prices.priced()) p.error(r.line, "rule " + r.name + ": a cost needs --tariff");
    if (r.department.empty()) continue;
    if (!prices.listed()) {
      p.error(r.line, "rule " + r.name + ": department= needs --directory");
      continue;
    }
    r.departmentnumber = prices.stations().departmentof(r.department);
    if (r.departmentnumber == directory::nodepartment)
      p.error(r.line, "rule " + r.name + ": no department \"" + printable(r.department) + "\" in " +
                          prices.stations().path());
  }
  return !p.errors();
}
