#include "pricecolumns.h"

#include <cstring>

#include "cdr/outbuf.h"

namespace {

char* text(char* p, std::string_view s) {
  memcpy(p, s.data(), s.size());
  return p + s.size();
}

// A CSV field, in quotes when it holds a comma, a quote or a line end.
char* csvfield(char* p, std::string_view s) {
  *p++ = ',';
  if (s.find_first_of(",\"\r\n") == s.npos) return text(p, s);
  *p++ = '"';
  for (char c : s) {
    if (c == '"') *p++ = '"';
    *p++ = c;
  }
  *p++ = '"';
  return p;
}

char* jsonstring(char* p, std::string_view s) {
  static const char hex[] = "0123456789abcdef";
  *p++ = '"';
  for (char c : s) {
    auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      *p++ = '\\';
      *p++ = c;
    } else if (u < 0x20) {
      p = text(p, "\\u00");
      *p++ = hex[u >> 4];
      *p++ = hex[u & 15];
    } else {
      *p++ = c;
    }
  }
  *p++ = '"';
  return p;
}

}  // namespace

std::string pricecsvheader(const pricing& p) {
  std::string s;
  if (p.priced()) s += ",destination,billed,cost";
  if (p.listed()) s += ",name,department";
  return s;
}

char* putpricecsv(char* p, const pricing& pr, const readcall& c, tzone& zone) {
  if (pr.priced()) {
    pricedcall pc = pr.price(c, zone);
    p = csvfield(p, pr.rates().destinations()[pc.destination]);
    *p++ = ',';
    if (pc.rated()) p = putdecimal(p, pc.billed);
    *p++ = ',';
    if (pc.costed()) p = putmoney(p, pc.cost, 4);
  }
  if (pr.listed()) {
    const directory::entry* e = pr.who(c.call);
    p = csvfield(p, e ? std::string_view(e->name) : std::string_view());
    uint32_t d = e ? e->department : directory::nodepartment;
    p = csvfield(p, d ? std::string_view(pr.stations().departments()[d]) : std::string_view());
  }
  return p;
}

char* putpricejson(char* p, const pricing& pr, const readcall& c, tzone& zone) {
  if (pr.priced()) {
    pricedcall pc = pr.price(c, zone);
    p = text(p, ",\"destination\":");
    p = jsonstring(p, pr.rates().destinations()[pc.destination]);
    p = text(p, ",\"billed\":");
    p = pc.rated() ? putdecimal(p, pc.billed) : text(p, "null");
    p = text(p, ",\"cost\":");
    if (pc.costed()) {
      // A string, as JSON numbers are often read as floating point.
      *p++ = '"';
      p = putmoney(p, pc.cost, 4);
      *p++ = '"';
    } else {
      p = text(p, "null");
    }
  }
  if (pr.listed()) {
    const directory::entry* e = pr.who(c.call);
    p = text(p, ",\"name\":");
    p = e ? jsonstring(p, e->name) : text(p, "null");
    uint32_t d = e ? e->department : directory::nodepartment;
    p = text(p, ",\"department\":");
    p = d ? jsonstring(p, pr.stations().departments()[d]) : text(p, "null");
  }
  return p;
}
