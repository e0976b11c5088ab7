// The md11bc12 module: MD110 call records in the BC12 layout.
//
// A record is 135 bytes of fixed columns before its line feed. It carries
// the time stamp (month, date, hour, minute) at which the call ended and the
// call's duration; the start is the stamp minus the duration. Which number
// fields give trunk and station depends on which of the two trunk fields
// are filled. Every call is output at once: there is no queue.
#include <cstring>
#include <string_view>

#include "pabx/modules.h"
#include "pabx/rawrec.h"
#include "packer/bcd.h"
#include "packer/ptime.h"

namespace {

constexpr int recordlen = 135;  // bytes before the line feed
constexpr int separators[] = {0,  1,  2,   11,  17,  22,  26,  37, 58,
                              77, 93, 100, 104, 107, 110, 120, 130};
constexpr int trunk1 = 111;             // first trunk field, 9 characters
constexpr int trunk2 = 121;             // second trunk field, 9 characters
constexpr uint32_t maxduration = 8998;  // ticks: 9 hours 59 minutes 52 seconds

enum outcome { decoded, rejected, dropped };

// The condition code: cc1 its last character, cc2 its first when it has
// two or three, cc3 the middle one of three.
struct condcode {
  uint8_t cc1, cc2, cc3;
};

bool oneof(uint8_t c, std::string_view set) { return set.find(static_cast<char>(c)) != set.npos; }

// The six digits at off, or 999999 when the overflow marker at `mark` says
// the number has more digits than that.
void boundednumber(uint8_t* dst, const rawrec& rec, int off, int mark) {
  if (rec.blank(mark))
    cnvbcd(dst, rec.text(off), 6);
  else
    memset(dst, 0x99, 3);
}

// NULs in the trunk columns: a NUL separator reads as a blank, a NUL among
// the first six characters of the first trunk field as the digit '0'.
void repairnuls(const rawrec& rec) {
  if (rec[110] == 0) rec[110] = ' ';
  for (int off = trunk1; off < trunk1 + 6; ++off)
    if (rec[off] == 0) rec[off] = '0';
}

bool separatorsblank(const rawrec& rec) {
  for (int off : separators)
    if (!rec.blank(off)) return false;
  return true;
}

// A filled trunk field is printed as a lead character and three digit pairs
// with one character between them; keep the pairs, blank the rest.
void compact(const rawrec& rec, int field) {
  if (rec.blank(field)) return;
  static constexpr int kept[] = {1, 2, 4, 5, 7, 8};
  for (int i = 0; i < 6; ++i) rec[field + i] = rec[field + kept[i]];
  for (int i = 6; i < 9; ++i) rec[field + i] = ' ';
}

// Flags, trunk and station of the record's kind. False for a record with
// both trunk fields blank when the third kind is not to be decoded.
bool setkind(const rawrec& rec, pkrecord* pk) {
  bool first = !rec.blank(trunk1);
  bool second = !rec.blank(trunk2);
  if (first) {
    pk->pk_flags = second ? 3 : 1;
    cnvbcd(pk->pk_trunk, rec.text(trunk1), 6);
    if (second)
      cnvbcd(pk->pk_station, rec.text(trunk2), 6);
    else
      boundednumber(pk->pk_station, rec, 59, 65);
    return true;
  }
  if (second) {
    pk->pk_flags = 0x81;
    cnvbcd(pk->pk_trunk, rec.text(trunk2), 6);
  } else {
    if (!thirdkind()) return false;
    pk->pk_flags = pkf_third;
    boundednumber(pk->pk_trunk, rec, 59, 65);
  }
  boundednumber(pk->pk_station, rec, 52, 51);
  return true;
}

condcode readcond(const rawrec& rec) {
  uint8_t a = rec[23], b = rec[24], c = rec[25];
  if (b == ' ' && c == ' ') return {a, ' ', ' '};
  if (c == ' ') return {b, a, ' '};
  return {c, a, b};
}

uint8_t condflags(const condcode& cc) {
  uint8_t flags = 0;
  if (oneof(cc.cc1, "AI") && oneof(cc.cc2, "N DV")) flags |= pkf_cond;
  if (oneof(cc.cc1, "DGVX") && cc.cc2 == ' ') flags |= pkf_check;
  return flags;
}

// Records with the first trunk field blank may name another station in
// that field: an overflow marker at 113, the digits at 114-119.
void altstation(const rawrec& rec, pkrecord* pk) {
  if (!rec.blank(113)) {
    memset(pk->pk_station, 0x99, 3);
    return;
  }
  uint8_t tmpbcd[3];
  cnvbcd(tmpbcd, rec.text(114), 6);
  if (tmpbcd[0] | tmpbcd[1] | tmpbcd[2]) memcpy(pk->pk_station, tmpbcd, 3);
}

// The duration in ticks, capped: hours at 12, minutes at 13-14, tenths of
// a minute at 15, taken as a time of day on the first day of the scale.
uint32_t duration(const rawrec& rec) {
  uint32_t secs = 3600u * rec.number(12, 1) + 60u * rec.number(13, 2) + 6u * rec.number(15, 1);
  // A minute field such as "-5" reads as 65531 and fits no time field;
  // anything this long is capped without converting it.
  if (secs / 4 > maxduration) return maxduration;
  mpct rt = trecbase;
  rt.hour = static_cast<uint8_t>(secs / 3600);
  rt.minute = static_cast<uint8_t>(secs / 60 % 60);
  rt.second = static_cast<uint8_t>(secs % 60);
  uint32_t ticks = from_jul(rt);
  return ticks > maxduration ? maxduration : ticks;
}

// The time stamp in the current year. No range test: the time conversion
// normalises odd values and the validation catches what is implausible.
mpct stamp(const rawrec& rec) {
  mpct rt;
  di();
  rt = *realt;
  ei();
  rt.month = static_cast<uint8_t>(rec.number(3, 2) - 1);
  rt.date = static_cast<uint8_t>(rec.number(5, 2) - 1);
  rt.hour = static_cast<uint8_t>(rec.number(7, 2));
  rt.minute = static_cast<uint8_t>(rec.number(9, 2));
  rt.second = 0;
  return rt;
}

// When the trunk is the first party the number dialled stands in the second
// number field, otherwise in the first.
void dialled(const rawrec& rec, pkrecord* pk) {
  if (pk->pk_flags & pkf_trunkfirst)
    ddltor(rec.text(59), 10);
  else
    ddltor(rec.text(38), 20);
  c_dto8(ddigits, pk->pk_dialled);
}

outcome decode(const rawrec& rec, pkrecord* pk) {
  // A line feed at index 134 leaves the record's first byte before the
  // buffer; nothing of such a frame is read.
  if (!rec.has(0) || !rec.has(recordlen)) return rejected;
  repairnuls(rec);
  if (!separatorsblank(rec)) return rejected;
  compact(rec, trunk2);
  compact(rec, trunk1);

  *pk = pkrecord{};
  if (!setkind(rec, pk)) return dropped;
  condcode cc = readcond(rec);
  pk->pk_flags |= condflags(cc);
  if ((pk->pk_flags & pkf_trunkfirst) && cc.cc2 == 'N') altstation(rec, pk);

  uint32_t ticks = duration(rec);
  setduration(pk, ticks);
  settime(pk, from_jul(stamp(rec)) - ticks);
  setmeter(pk, rec.number(18, 4) & 0x1fff);
  dochg(pk, rec.text(78), 12);
  dialled(rec, pk);
  tvalid(pk);
  return decoded;
}

int packrec(pkrecord* pk) {
  outcome result = decode(rawrec(recordlen), pk);
  if (result == rejected) ++pakrop.rejcnt;
  return result == decoded ? 1 : 0;
}

int dequeue(pkrecord*) { return 0; }

}  // namespace

const pabxmodule md11bc12_module = {
    "3.11 VU110RE12  #1 ", {0, 0x0A, 0x86, 0, 0, 0, 0}, false, packrec, dequeue,
};
