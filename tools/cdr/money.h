// Money as an exact count of ten-thousandths of the currency unit, never
// a floating-point number: prices are read from decimals of at most four
// places, costs are sums of such counts, and a text rounds half up only
// where it shows fewer places.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

using money = int64_t;  // ten-thousandths

inline constexpr money money_unit = 10000;
// The largest price a tariff takes, so that no cost of a call overflows.
inline constexpr money money_maxprice = 999999 * money_unit + 9999;

// Reads "12", "0.25", "1.2345" into *out. Returns nullptr, or why it is not
// a price ("negative", more than four places, over the largest price).
const char* parsemoney(std::string_view text, money* out);

// n / d rounded half up, for n >= 0 and d > 0.
inline int64_t divroundhalfup(int64_t n, int64_t d) { return (n + d / 2) / d; }

// "1234.5678" (places 4) or "1234.57" (places 2, rounded half up); a
// negative amount gets a minus sign.
std::string moneytext(money m, int places);
// The same written at p; returns the end (28 bytes are enough).
char* putmoney(char* p, money m, int places);
