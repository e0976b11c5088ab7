#include "pabx/neax.h"

#include <bit>
#include <cassert>
#include <cstring>

#include "packer/bcd.h"
#include "packer/ptime.h"

namespace {

constexpr uint8_t etxbyte = 0x03;
constexpr uint32_t maxduration = 999997;
constexpr int64_t pairslack = 4;  // ticks either way

void bcdfield(uint8_t* dst, const rawrec& rec, int off) { cnvbcd(dst, rec.text(off), 6); }

// The five two-digit numbers of ten digit characters, in the low bytes of
// the 16-bit lanes of *pairs (the first lowest) and the last in *last; false
// when a character is not a digit. Read as one little-endian word: the
// record's times are read twice per record and were most of their cost.
bool fivepairs(const char* text, uint64_t* pairs, unsigned* last) {
  if constexpr (std::endian::native != std::endian::little) return false;
  uint64_t w;
  memcpy(&w, text, 8);
  constexpr uint64_t high = 0xf0f0f0f0f0f0f0f0u, threes = 0x3030303030303030u;
  // Each byte 0x30 to 0x39: its high nibble is 3, and stays 3 when 6 is
  // added to its low one.
  if ((w & high) != threes || ((w + 0x0606060606060606u) & high) != threes) return false;
  unsigned tens = static_cast<unsigned char>(text[8]) - '0';
  unsigned ones = static_cast<unsigned char>(text[9]) - '0';
  if (tens > 9 || ones > 9) return false;
  uint64_t d = w - threes;
  *pairs = (d * 10 + (d >> 8)) & 0x00ff00ff00ff00ffu;
  *last = tens * 10 + ones;
  return true;
}

// The five numbers of a time field: month, date, hour and minute in the
// low bytes of the 16-bit lanes of pairs, the first lowest; the second.
struct timefield {
  uint64_t pairs;
  unsigned second;
};

// fivepairs for fields with other characters than digits, read as rawrec
// reads numbers. Kept out of line and returned by value: inlined, or with
// its results through memory, it cost every call, nearly all of which take
// fivepairs' way.
[[gnu::noinline]] timefield slowpairs(const rawrec& rec, int off) {
  timefield f{0, 0};
  for (int i = 0; i < 4; ++i) f.pairs |= uint64_t{rec.number(off + 2 * i, 2)} << (16 * i);
  f.second = rec.number(off + 8, 2);
  return f;
}

// Builds the time record of the month, date and time at rec[off..off+9] in
// the current year, or last year for a month still to come this year.
// False when month or date is out of range.
bool recordtime(const rawrec& rec, int off, mpct* rt) {
  assert(rec.has(off) && rec.has(off + 9));
  timefield f;
  if (!fivepairs(rec.text(off), &f.pairs, &f.second)) f = slowpairs(rec, off);
  uint64_t pairs = f.pairs;
  unsigned second = f.second;
  unsigned month = pairs & 0xffff, date = (pairs >> 16) & 0xffff;
  if (date < 1 || date > 31 || month < 1 || month > 12) return false;
  *rt = mpct{};
  rt->year = realt->year;
  rt->month = static_cast<uint8_t>(month - 1);
  rt->date = static_cast<uint8_t>(date - 1);
  rt->day = 0;
  rt->hour = static_cast<uint8_t>(pairs >> 32);
  rt->minute = static_cast<uint8_t>(pairs >> 48);
  rt->second = static_cast<uint8_t>(second);
  if (rt->month > realt->month) --rt->year;
  return true;
}

}  // namespace

int scandigits(const rawrec& rec, int first, int len, char* out) {
  assert(rec.has(first + len - 1));
  const char* field = rec.text(first);
  int n = 0;
  for (int i = 0; i < len; ++i)
    if (field[i] >= '0' && field[i] <= '9') out[n++] = field[i];
  return n;
}

neaxdecoder::outcome neaxdecoder::decode(const rawrec& rec, pkrecord* pk) {
  uint8_t kind = rec[4];
  uint8_t cls = rec[11];
  if (rec[131] != etxbyte || rec[3] != 'K' || (kind != 'A' && kind != 'E' && kind != 'B') ||
      cls < '0' || cls > '2')
    return rejected;

  *pk = pkrecord{};
  if (kind == 'B') {
    if (!thirdkind()) return dropped;
    pk->pk_flags = pkf_third;
    bcdfield(pk->pk_station, rec, 64);
    bcdfield(pk->pk_trunk, rec, 14);
  } else {
    bcdfield(pk->pk_station, rec, 14);
    bcdfield(pk->pk_trunk, rec, 5);
  }
  if (kind == 'E') pk->pk_flags |= pkf_trunkfirst;
  if (rec[55] & 1) pk->pk_flags |= pkf_cond;
  if (kind == 'A' && rec[55] != 0x00 && rec[55] != 0x01 && !rec.blank(59) && !rec.blank(60) &&
      !rec.blank(61) && rec.number(56, 3) != rec.number(59, 3))
    pk->pk_flags |= pkf_check;
  pk->pk_flags |= static_cast<uint8_t>(cls - '0' + 1);

  mpct rt;
  if (!recordtime(rec, 20, &rt)) return rejected;
  uint32_t stime = from_jul(rt);
  settime(pk, stime);
  if (recordtime(rec, 30, &rt)) {
    uint32_t etime = from_jul(rt);
    if (etime < stime)
      setduration(pk, endbeforestart);
    else
      setduration(pk, etime - stime <= maxduration ? etime - stime : toolong);
  } else {
    // No end time: the call is kept and carries a charge code of nines.
    setduration(pk, 0);
    memset(&rec[40], '9', 10);
  }
  setmeter(pk, rec.number(94, 4) & 0x1fff);
  dochg(pk, rec.text(40), 10);

  if (kind == 'E') {
    char digits[24];
    ddltor(digits, rules_.edigits(rec, digits));
  } else {
    // The digits of the field, flush right: ddltor keeps only digits and the
    // field is 24 characters, so it reads the record in place. None for 'B'.
    assert(rec.has(62 + 23));
    ddltor(rec.text(62), kind == 'B' ? 0 : 24);
  }
  c_dto8(ddigits, pk->pk_dialled);
  tvalid(pk);
  return decoded;
}

int neaxdecoder::packrec(pkrecord* pk) {
  outcome result = decode(rawrec(recordlen), pk);
  if (result == rejected) ++pakrop.rejcnt;
  if (result != decoded) return 0;

  queue_[head_] = *pk;
  head_ = next(head_);
  ++que_;
  if (seekspartner(*pk)) quescan(1);
  if (que_ < queuelen) return 0;
  return dequeue(pk);
}

int neaxdecoder::dequeue(pkrecord* pk) {
  if (que_ == 0) return 0;
  if (seekspartner(queue_[tail_])) quescan(0);
  *pk = queue_[tail_];
  tail_ = next(tail_);
  --que_;
  return 1;
}

// Pairs the newest entry (direction 1) or the oldest (direction 0), when
// it is an 'E' or 'B' record with both class bits, with the first entry
// towards the other end whose trunk is its station and whose duration lies
// within four ticks of its own.
void neaxdecoder::quescan(int direction) {
  uint8_t e = direction ? prev(head_) : tail_;
  pkrecord& examined = queue_[e];
  if (!seekspartner(examined)) return;
  int64_t d = getduration(&examined);
  uint8_t i = e;
  for (int visited = 1; visited < que_; ++visited) {
    i = direction ? prev(i) : next(i);
    pkrecord& partner = queue_[i];
    if (partner.pk_flags & pkf_trunkfirst || memcmp(partner.pk_trunk, examined.pk_station, 3) != 0)
      continue;
    int64_t pd = getduration(&partner);
    if (pd >= d - pairslack && pd <= d + pairslack) {
      rules_.pair(&examined, &partner);
      return;
    }
  }
}
