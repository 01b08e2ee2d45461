#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tollmere::runtime {

// Decimal text of a 16-bit integer: optional minus sign and digits, no blank,
// no leading zeros.
std::string StrI2(std::int16_t value);

// Reads the number at the start of `text` and ignores the rest:
// - blanks, tabs and line feeds are skipped wherever they stand, also between
//   digits ("1 000" is 1000);
// - a leading sign, digits with at most one period (the only decimal
//   separator: "1,5" is 1), and an exponent introduced by E or D;
// - "&H" (hexadecimal) and "&O" (octal) prefixes; values up to 16 bits are
//   read as a signed 16-bit pattern (&HFFFF is -1), up to 32 bits as a signed
//   32-bit pattern (&HFFFFFFFF is -1), longer ones overflow;
// - text with no number at its start gives 0.
// A number too large for a double (1e400) raises an overflow error; one too
// small for it (1e-400) gives 0.
double Val(std::string_view text);

// Whether the number Val reads in `text` has a minus sign, also where it is
// too large to read.
bool ValHasMinus(std::string_view text);

// Double to 32-bit signed integer: nearest, halves to even (2.5 -> 2,
// 3.5 -> 4, -2.5 -> -2); the range is tested on the rounded value and a
// result outside it raises an overflow error.
std::int32_t FpI4(double value);

// Integer to unsigned byte: 0 to 255 pass, anything else is an overflow error.
std::uint8_t UI1I4(std::int32_t value);

}  // namespace tollmere::runtime
