#include "export.h"

#include <cstring>

#include "cdr/pricecolumns.h"

namespace {

char* text(char* p, std::string_view s) {
  memcpy(p, s.data(), s.size());
  return p + s.size();
}

char* quoted(char* p, std::string_view s) {
  *p++ = '"';
  p = text(p, s);
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

void exporter::header() {
  if (format_ != exportformat::csv) return;
  out_.put(csvheader);
  if (prices_) out_.put(prices_->csvheader());
  out_.put("\r\n");
}

void exporter::record(const readcall& c) {
  if (format_ == exportformat::csv)
    csv(c);
  else
    json(c);
}

// End and start, comma-separated, each in quotes for JSON.
char* exporter::times(char* p, const readcall& c, bool inquotes) {
  if (inquotes) *p++ = '"';
  p = isotime(p, c.call.end, c.endoffset);
  if (inquotes) *p++ = '"';
  p = text(p, inquotes ? ",\"start\":\"" : ",");
  int64_t start = c.start();
  int off = zone_.offset(start);
  p = isotime(p, wallof(start + off), off);
  if (inquotes) *p++ = '"';
  return p;
}

// Every field is digits, an ISO time or a fixed word, so none needs quotes.
void exporter::csv(const readcall& c) {
  const cdrcall& k = c.call;
  char* p = out_.room(prices_ ? 2560 : 512);
  p = times(p, c, false);
  *p++ = ',';
  if (!k.marked()) p = putdecimal(p, k.seconds());
  *p++ = ',';
  p = text(p, k.markname());
  *p++ = ',';
  p = text(p, k.station());
  *p++ = ',';
  p = text(p, k.trunk());
  *p++ = ',';
  p = text(p, k.otherstation());
  *p++ = ',';
  p = text(p, k.dialled);
  *p++ = ',';
  p = putdecimal(p, k.meter);
  *p++ = ',';
  p = text(p, k.charge);
  *p++ = ',';
  p = hex2(p, k.flags);
  p = text(p, k.trunkfirst() ? ",1," : ",0,");
  p = putdecimal(p, static_cast<uint64_t>(k.classbits()));
  p = text(p, c.ambiguous ? ",1" : ",0");
  if (prices_) p = prices_->put(p, c, zone_);
  p = text(p, "\r\n");
  out_.commit(p);
}

void exporter::json(const readcall& c) {
  const cdrcall& k = c.call;
  char* p = out_.room(prices_ ? 2560 : 512);
  p = text(p, "{\"end\":");
  p = times(p, c, true);
  p = text(p, ",\"duration\":");
  p = k.marked() ? text(p, "null") : putdecimal(p, k.seconds());
  p = text(p, ",\"duration_mark\":");
  p = k.marked() ? quoted(p, k.markname()) : text(p, "null");
  p = text(p, ",\"station\":");
  p = quoted(p, k.station());
  p = text(p, ",\"trunk\":");
  p = quoted(p, k.trunk());
  p = text(p, ",\"other_station\":");
  p = quoted(p, k.otherstation());
  p = text(p, ",\"dialled\":");
  p = quoted(p, k.dialled);
  p = text(p, ",\"meter\":");
  p = putdecimal(p, k.meter);
  p = text(p, ",\"charge\":");
  p = quoted(p, k.charge);
  p = text(p, ",\"flags\":\"");
  p = hex2(p, k.flags);
  p = text(p, k.trunkfirst() ? "\",\"trunk_first\":true" : "\",\"trunk_first\":false");
  p = text(p, ",\"class_bits\":");
  p = putdecimal(p, static_cast<uint64_t>(k.classbits()));
  p = text(p, c.ambiguous ? ",\"ambiguous\":true" : ",\"ambiguous\":false");
  if (prices_) p = prices_->put(p, c, zone_);
  p = text(p, "}\n");
  out_.commit(p);
}
