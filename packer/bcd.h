// Conversions between the exchange's digit text and the packed forms of a
// call: three-byte packed BCD numbers (six digits, two per byte, most
// significant first) and right-justified dialled-digit strings.
//
// Results that are text live in static buffers owned by each function and
// are overwritten by its next call; copy a result that must outlive it.
#pragma once

#include <cstdint>

// The six nibble characters of a BCD number, most significant first; nibbles
// 10 to 15 show as the capital letters A to F.
const char* bcd2a(const uint8_t* bcd);

// As bcd2a, without up to five leading '0' characters (so zero reads "0").
const char* bcd2asc(const uint8_t* bcd);

// The decimal digits among the first min(len, 6) characters of text,
// right-aligned into dst; other characters are skipped. len <= 0 gives zero.
void cnvbcd(uint8_t* dst, const char* text, int len);

// Exactly len bytes of text from off (NULs included), NUL-terminated, in a
// 256-byte buffer; len is cut to 255.
char* substr(const char* text, uint16_t off, uint16_t len);

// The decimal value of the first len characters of text, read as the C
// library's atoi reads a number (leading blanks, optional sign, digits up to
// the first non-digit, none gives 0), cut to 16 bits. Never overflows.
uint16_t cnvbin(const char* text, uint16_t len);

// Parses a decimal number the way atoi does, without its undefined
// behaviour: the result is the true value taken modulo 2^32. `nonzero`
// (if given) tells whether the number read differs from zero.
uint32_t atoimod(const char* text, bool* nonzero = nullptr);

// Dialled digits of the packed call: 24 characters and a NUL.
extern char ddigits[25];

// The digit characters among the last min(len, 24) characters of field, in
// their order, flush right in ddigits, blanks on the left.
void ddltor(const char* field, int len);

// Copy the 25 bytes of a dialled-digit string: c_dto8 from its first
// argument to its second, c_8tod from its second to its first.
void c_dto8(const char* src, char* dst);
void c_8tod(char* dst, const char* src);
