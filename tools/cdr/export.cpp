#include "export.h"

#include <cstring>

#include "cdr/cdrrow.h"

void exporter::header() {
  if (format_ != exportformat::csv) return;
  out_.put(csvheader);
  if (prices_) out_.put(prices_->csvheader());
  out_.put("\r\n");
}

void exporter::record(const readcall& c) {
  cdrrow r = rowof(c, zone_, {}, 0);
  bool csv = format_ == exportformat::csv;
  char* p = out_.room(prices_ ? 2560 : 512);
  p = csv ? putcsv(p, r) : putjson(p, r);
  if (prices_) p = prices_->put(p, c, zone_);
  memcpy(p, csv ? "\r\n" : "}\n", 2);
  out_.commit(p + 2);
}
