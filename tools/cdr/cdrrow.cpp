#include "cdrrow.h"

#include "cdr/outbuf.h"

namespace {

char* quoted(char* p, std::string_view s) {
  *p++ = '"';
  p = puttext(p, s);
  *p++ = '"';
  return p;
}

char* hex2(char* p, uint8_t v) {
  static const char digits[] = "0123456789abcdef";
  *p++ = digits[v >> 4];
  *p++ = digits[v & 15];
  return p;
}

}  // namespace

bool cdrrow::samecall(const cdrrow& o) const {
  return end == o.end && start == o.start && duration == o.duration && mark == o.mark &&
         station == o.station && trunk == o.trunk && otherstation == o.otherstation &&
         dialled == o.dialled && charge == o.charge &&
         meter == o.meter && flags == o.flags && trunkfirst == o.trunkfirst &&
         classbits == o.classbits && ambiguous == o.ambiguous;
}

cdrrow rowof(const readcall& c, tzone& zone, std::string_view file, int64_t offset) {
  const cdrcall& k = c.call;
  cdrrow r;
  r.file = file;
  r.offset = offset;
  r.end = c.end;
  r.endwall = k.end;
  r.endoffset = c.endoffset;
  r.start = c.start();
  r.startoffset = zone.offset(r.start);
  r.startwall = wallof(r.start + r.startoffset);
  r.duration = k.marked() ? -1 : int64_t{k.seconds()};
  r.mark = k.markname();
  r.station = k.station();
  r.trunk = k.trunk();
  r.otherstation = k.otherstation();
  r.dialled = k.dialled;
  r.charge = k.charge;
  r.meter = k.meter;
  r.flags = k.flags;
  r.trunkfirst = k.trunkfirst();
  r.classbits = k.classbits();
  r.ambiguous = c.ambiguous;
  return r;
}

void placetimes(cdrrow* r, tzone& zone) {
  r->endoffset = zone.offset(r->end);
  r->endwall = wallof(r->end + r->endoffset);
  r->startoffset = zone.offset(r->start);
  r->startwall = wallof(r->start + r->startoffset);
}

// Every field is digits, an ISO time or a fixed word, so none needs quotes.
char* putcsv(char* p, const cdrrow& r) {
  p = isotime(p, r.endwall, r.endoffset);
  *p++ = ',';
  p = isotime(p, r.startwall, r.startoffset);
  *p++ = ',';
  if (r.duration >= 0) p = putdecimal(p, static_cast<uint64_t>(r.duration));
  *p++ = ',';
  p = puttext(p, r.mark);
  *p++ = ',';
  p = puttext(p, r.station);
  *p++ = ',';
  p = puttext(p, r.trunk);
  *p++ = ',';
  p = puttext(p, r.otherstation);
  *p++ = ',';
  p = puttext(p, r.dialled);
  *p++ = ',';
  p = putdecimal(p, r.meter);
  *p++ = ',';
  p = puttext(p, r.charge);
  *p++ = ',';
  p = hex2(p, r.flags);
  p = puttext(p, r.trunkfirst ? ",1," : ",0,");
  p = putdecimal(p, static_cast<uint64_t>(r.classbits));
  return puttext(p, r.ambiguous ? ",1" : ",0");
}

char* putjson(char* p, const cdrrow& r) {
  p = puttext(p, "{\"end\":\"");
  p = isotime(p, r.endwall, r.endoffset);
  p = puttext(p, "\",\"start\":\"");
  p = isotime(p, r.startwall, r.startoffset);
  p = puttext(p, "\",\"duration\":");
  p = r.duration < 0 ? puttext(p, "null") : putdecimal(p, static_cast<uint64_t>(r.duration));
  p = puttext(p, ",\"duration_mark\":");
  p = r.mark.empty() ? puttext(p, "null") : quoted(p, r.mark);
  p = puttext(p, ",\"station\":");
  p = quoted(p, r.station);
  p = puttext(p, ",\"trunk\":");
  p = quoted(p, r.trunk);
  p = puttext(p, ",\"other_station\":");
  p = quoted(p, r.otherstation);
  p = puttext(p, ",\"dialled\":");
  p = quoted(p, r.dialled);
  p = puttext(p, ",\"meter\":");
  p = putdecimal(p, r.meter);
  p = puttext(p, ",\"charge\":");
  p = quoted(p, r.charge);
  p = puttext(p, ",\"flags\":\"");
  p = hex2(p, r.flags);
  p = puttext(p, r.trunkfirst ? "\",\"trunk_first\":true" : "\",\"trunk_first\":false");
  p = puttext(p, ",\"class_bits\":");
  p = putdecimal(p, static_cast<uint64_t>(r.classbits));
  return puttext(p, r.ambiguous ? ",\"ambiguous\":true" : ",\"ambiguous\":false");
}
