#include "support/neaxrec.h"

namespace {

// Writes text over the record from off on (a text that runs past the end
// lengthens it). Copied in place: gcc's link-time check takes the move that
// replace() makes within the string for an overflow at -O3.
void put(std::string& rec, size_t off, const std::string& text) {
  if (rec.size() < off + text.size()) rec.resize(off + text.size());
  text.copy(rec.data() + off, text.size());
}

}  // namespace

std::string neaxrecord(const neaxfields& f) {
  std::string rec(132, ' ');
  rec[0] = '\x02';
  rec[3] = f.marker;
  rec[4] = f.kind;
  put(rec, 5, f.trunk);
  rec[11] = f.cls;
  put(rec, 12, "00");
  put(rec, 14, f.station);
  put(rec, 20, f.start);
  put(rec, 30, f.end);
  put(rec, 40, f.charge);
  rec[55] = f.flag55;
  put(rec, 56, f.check1);
  put(rec, 59, f.check2);
  put(rec, 62, f.dialled);
  if (!f.bstation.empty()) put(rec, 64, f.bstation);
  put(rec, 94, f.meter);
  put(rec, 98, f.number98);
  rec[131] = '\x03';
  return rec.substr(0, 132);
}
