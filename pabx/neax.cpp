#include "pabx/neax.h"

#include <cassert>
#include <cstring>

#include "packer/bcd.h"
#include "packer/ptime.h"

namespace {

constexpr uint8_t etxbyte = 0x03;
constexpr uint32_t maxduration = 999997;
constexpr int64_t pairslack = 4;  // ticks either way

void bcdfield(uint8_t* dst, const rawrec& rec, int off) { cnvbcd(dst, rec.text(off), 6); }

// Builds the time record of the month, date and time at rec[off..off+9] in
// the current year, or last year for a month still to come this year.
// False when month or date is out of range.
bool recordtime(const rawrec& rec, int off, mpct* rt) {
  assert(rec.has(off) && rec.has(off + 9));
  unsigned month = rec.number(off, 2), date = rec.number(off + 2, 2);
  if (date < 1 || date > 31 || month < 1 || month > 12) return false;
  *rt = mpct{};
  rt->year = realt->year;
  rt->month = static_cast<uint8_t>(month - 1);
  rt->date = static_cast<uint8_t>(date - 1);
  rt->day = 0;
  rt->hour = static_cast<uint8_t>(rec.number(off + 4, 2));
  rt->minute = static_cast<uint8_t>(rec.number(off + 6, 2));
  rt->second = static_cast<uint8_t>(rec.number(off + 8, 2));
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
