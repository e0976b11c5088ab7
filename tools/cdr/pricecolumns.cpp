#include "pricecolumns.h"

#include "cdr/outbuf.h"

namespace {

// A CSV field, in quotes when it holds a comma, a quote or a line end.
std::string csvtext(std::string_view s) {
  if (s.find_first_of(",\"\r\n") == s.npos) return std::string(s);
  std::string q = "\"";
  for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

// A JSON string; the files hold no control characters.
std::string jsontext(std::string_view s) {
  std::string q = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') q += '\\';
    q += c;
  }
  return q + "\"";
}

}  // namespace

pricecolumns::pricecolumns(const pricing& p, bool json) : prices_(p), json_(json) {
  auto quote = json ? jsontext : csvtext;
  if (p.priced())
    for (const std::string& d : p.rates().destinations()) destinations_.push_back(quote(d));
  if (p.listed()) {
    for (const std::string& d : p.stations().departments()) departments_.push_back(quote(d));
    departments_[directory::nodepartment] = json ? "null" : "";
    for (const directory::entry& e : p.stations().entries()) names_.push_back(quote(e.name));
  }
}

std::string pricecolumns::csvheader() const {
  std::string s;
  if (prices_.priced()) s += ",destination,billed,cost";
  if (prices_.listed()) s += ",name,department";
  return s;
}

char* pricecolumns::put(char* p, const readcall& c, tzone& zone) const {
  return json_ ? json(p, c, zone) : csv(p, c, zone);
}

char* pricecolumns::csv(char* p, const readcall& c, tzone& zone) const {
  if (prices_.priced()) {
    pricedcall pc = prices_.price(c, zone);
    *p++ = ',';
    p = puttext(p, destinations_[pc.destination]);
    *p++ = ',';
    if (pc.rated()) p = putdecimal(p, pc.billed);
    *p++ = ',';
    if (pc.costed()) p = putmoney(p, pc.cost, 4);
  }
  if (prices_.listed()) {
    const directory::entry* e = prices_.who(c.call);
    *p++ = ',';
    if (e) p = puttext(p, names_[static_cast<size_t>(e - prices_.stations().entries().data())]);
    *p++ = ',';
    p = puttext(p, departments_[e ? e->department : directory::nodepartment]);
  }
  return p;
}

char* pricecolumns::json(char* p, const readcall& c, tzone& zone) const {
  if (prices_.priced()) {
    pricedcall pc = prices_.price(c, zone);
    p = puttext(p, ",\"destination\":");
    p = puttext(p, destinations_[pc.destination]);
    p = puttext(p, ",\"billed\":");
    p = pc.rated() ? putdecimal(p, pc.billed) : puttext(p, "null");
    p = puttext(p, ",\"cost\":");
    if (pc.costed()) {
      // A string, as JSON numbers are often read as floating point.
      *p++ = '"';
      p = putmoney(p, pc.cost, 4);
      *p++ = '"';
    } else {
      p = puttext(p, "null");
    }
  }
  if (prices_.listed()) {
    const directory::entry* e = prices_.who(c.call);
    p = puttext(p, ",\"name\":");
    p = e ? puttext(p, names_[static_cast<size_t>(e - prices_.stations().entries().data())])
          : puttext(p, "null");
    p = puttext(p, ",\"department\":");
    p = puttext(p, departments_[e ? e->department : directory::nodepartment]);
  }
  return p;
}
