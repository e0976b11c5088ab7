#include "cdrline.h"

#include <cstdio>
#include <cstring>

#include "bcd.h"
#include "diag.h"
#include "settings.h"

mpct gmpct = {};
int isfuj9600l = 0;

namespace {

char iostr[8];  // a lead position, six number characters, NUL
char tbuff[16];
char chg[13];

// The two nibble characters of each byte, as bcd2a shows them.
struct nibblepairs {
  char pair[256][2];
  constexpr nibblepairs() : pair() {
    const char nibbles[] = "0123456789ABCDEF";
    for (int b = 0; b < 256; ++b) {
      pair[b][0] = nibbles[b >> 4];
      pair[b][1] = nibbles[b & 0x0f];
    }
  }
};
constexpr nibblepairs nibblesof;

// iostr = blank + the six nibble characters of bcd, as bcd2a shows them.
void setiostr(const uint8_t* bcd) {
  iostr[0] = ' ';
  for (int i = 0; i < 3; ++i) memcpy(iostr + 1 + 2 * i, nibblesof.pair[bcd[i]], 2);
  iostr[7] = '\0';
}

}  // namespace

int twodigityear(uint8_t year) { return year > 15 ? year - 16 : year + 84; }

const char* lj(const char* text) {
  while (*text == ' ') ++text;
  return text;
}

const char* ljs(const char* text) {
  text = lj(text);
  while (*text == '0') ++text;
  return text;
}

const char* izero(int32_t n) {
  if (n == 0) return "";
  snprintf(tbuff, sizeof tbuff, "%ld", static_cast<long>(n));
  return tbuff;
}

// Remaps a six-digit party number d1 d2 .. d6 for a ZOR9600Ez8 exchange:
// d1, then 8 times d2 as two digits when d2 is 0 to 3, then d3 .. d6.
void dofuj96lt8() {
  if (!isfuj9600l) {
    // The first letter alone settles it for every other exchange, cheaply.
    if (pabx.pakver[5] != 'Z' || strncmp(pabx.pakver + 5, "ZOR9600Ez8", 10) != 0 ||
        strlen(iostr + 1) != 6)
      return;
    isfuj9600l = 1;
  }
  if (dodebug)
    errf("isfuj9600l=%d Before [%s] len(iostr+1)=%d ", isfuj9600l, iostr,
         static_cast<int>(strlen(iostr + 1)));
  iostr[0] = iostr[1];
  static const char* const times8[4] = {"00", "08", "16", "24"};
  if (iostr[2] >= '0' && iostr[2] <= '3') memcpy(iostr + 1, times8[iostr[2] - '0'], 2);
  if (dodebug) errf(" After [%s]\n", iostr);
}

const char* ctrk(const pkrecord* pk) {
  setiostr(pk->pk_trunk);
  dofuj96lt8();
  return iostr;
}

const char* cstat(const pkrecord* pk) {
  setiostr(pk->pk_station);
  if ((pk->pk_flags & pkf_class) != pkf_class) return iostr + 1;
  dofuj96lt8();
  return iostr;
}

// bcd2asc's text, put together in iostr itself.
const char* cchg(const pkrecord* pk) {
  setiostr(pk->pk_chglo);
  int skipped = 0;
  while (skipped < 5 && iostr[1 + skipped] == '0') ++skipped;
  memmove(iostr, iostr + 1 + skipped, 7 - skipped);  // with the NUL
  return iostr;
}

const char* cdial(const pkrecord* pk) { return pk->pk_dialled; }

const char* mkchg(const pkrecord* pk) {
  memcpy(chg, bcd2a(pk->pk_chghi), 6);
  memcpy(chg + 6, bcd2a(pk->pk_chglo), 6);
  chg[12] = '\0';
  const char* p = chg;
  while (*p == '0') ++p;
  return p;
}

namespace {

// The line is put together by hand: formatting it with printf was the
// largest single cost of a record. Each helper appends at `at` and returns
// the new end, writing what the printf conversion or field function named
// in its comment would write.

// "00" to "99".
struct twodigits {
  char pair[100][2];
  constexpr twodigits() : pair() {
    for (int n = 0; n < 100; ++n) {
      pair[n][0] = static_cast<char>('0' + n / 10);
      pair[n][1] = static_cast<char>('0' + n % 10);
    }
  }
};
constexpr twodigits decimalpairs;

// %s
char* puttext(char* at, const char* text) {
  while (*text) *at++ = *text++;
  return at;
}

// %0*lu: the decimal digits of n, zeros in front up to `width`. Written in
// place from the end: a copy through a scratch buffer of what was just
// stored there stalls the processor longer than all the arithmetic.
char* putdecimal(char* at, unsigned long n, int width) {
  int len = 1;
  for (unsigned long rest = n; rest >= 10; rest /= 10) ++len;
  char* end = at + (len > width ? len : width);
  char* p = end;
  for (; n >= 100; n /= 100) memcpy(p -= 2, decimalpairs.pair[n % 100], 2);
  if (n >= 10)
    memcpy(p -= 2, decimalpairs.pair[n], 2);
  else
    *--p = static_cast<char>('0' + n);
  while (p > at) *--p = '0';
  return end;
}

// %02u, for the six fields of date and time, which are below 100 but for a
// year far out of range.
inline char* put2(char* at, unsigned n) {
  if (n >= 100) return putdecimal(at, n, 2);
  memcpy(at, decimalpairs.pair[n], 2);
  return at + 2;
}

// izero(n): nothing for 0, else %ld.
char* putnonzero(char* at, int32_t n) {
  if (n == 0) return at;
  if (n < 0) *at++ = '-';
  return putdecimal(at, n < 0 ? 0ul - static_cast<unsigned long>(n) : static_cast<unsigned long>(n),
                    1);
}

// %02x
char* puthex2(char* at, uint8_t byte) {
  static const char hex[] = "0123456789abcdef";
  *at++ = hex[byte >> 4];
  *at++ = hex[byte & 0x0f];
  return at;
}

// ljs(ctrk(pk)), ljs(cstat(pk)) and ljs(cchg(pk)) where no digit remapping
// applies: the nibble characters of the number without its leading zeros,
// none at all for zero.
char* putnumber(char* at, const uint8_t* bcd) {
  setiostr(bcd);
  return puttext(at, ljs(iostr + 1));
}

// As putnumber, through the field functions, which remap the digits for
// the one exchange that needs it.
char* putparty(char* at, const char* field) { return puttext(at, ljs(field)); }

// lj(cdial(pk)): the dialled characters from the first that is not a blank,
// up to the NUL; at most 24.
char* putdialled(char* at, const char* dialled) {
  int from = 0;
  while (from < 24 && dialled[from] == ' ') ++from;
  int to = from;
  while (to < 24 && dialled[to] != '\0') ++to;
  memcpy(at, dialled + from, static_cast<size_t>(to - from));
  return at + (to - from);
}

// True when a party number may be remapped (dofuj96lt8), which the quick
// path leaves out: the remapping exchange's name begins with 'Z'.
bool mayremap() { return isfuj9600l || pabx.pakver[5] == 'Z'; }

}  // namespace

// At most 7 + 7 + 24 characters of parties and digits, six time fields of
// at most three digits, 11 of duration, 4 of meter, 6 of charge code, 2 of
// flags, nine separators, the newline and the NUL: 90, within cdrlinemax.
void formcall(char* line, const pkrecord* pk) {
  to_jul(maketime(pk) + getduration(pk), &gmpct);
  bool trunkfirst = pk->pk_flags & pkf_trunkfirst;

  char* at = line;
  *at++ = ':';
  if (mayremap()) {
    at = putparty(at, trunkfirst ? ctrk(pk) : cstat(pk));
    *at++ = '|';
    at = putparty(at, trunkfirst ? cstat(pk) : ctrk(pk));
  } else {
    at = putnumber(at, trunkfirst ? pk->pk_trunk : pk->pk_station);
    *at++ = '|';
    at = putnumber(at, trunkfirst ? pk->pk_station : pk->pk_trunk);
  }
  *at++ = '|';
  at = putdialled(at, cdial(pk));
  *at++ = '|';

  at = put2(at, gmpct.date + 1u);
  at = put2(at, gmpct.month + 1u);
  at = put2(at, static_cast<unsigned>(twodigityear(gmpct.year)));
  at = put2(at, gmpct.hour);
  at = put2(at, gmpct.minute);
  at = put2(at, gmpct.second);
  *at++ = '|';
  at = putnonzero(at, static_cast<int32_t>(getduration(pk)));
  *at++ = '|';
  at = putnonzero(at, getmeter(pk) & 0x1fff);
  *at++ = '|';
  at = putnumber(at, pk->pk_chglo);
  *at++ = '|';
  at = puthex2(at, pk->pk_flags);
  *at++ = '\n';
  *at = '\0';
  if (dodebug) errf("formcall(): [%s", line);
}
