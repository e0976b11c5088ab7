// Numbers as the tools read them from their command lines: plain digits
// and nothing else, no blank, sign, base prefix or exponent, so that a
// typing slip is refused rather than read as something else (" 5", "0x10",
// "1e3", "1e-9").
#pragma once

#include <cstdint>
#include <string_view>

// Decimal digits, at most `maxdigits` of them and a value that fits 64 bits.
bool parsecount(std::string_view text, uint64_t* out, size_t maxdigits = 20);

// Digits with a decimal point among or after them: "5", "0.25", ".5", "5.".
bool parsedecimal(std::string_view text, double* out);

// Hexadecimal digits, one to `maxdigits` of them (at most 16).
bool parsehex(std::string_view text, uint64_t* out, size_t maxdigits);
