#include "runtime/convert.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "runtime/error.h"

namespace tollmere::runtime {

std::string StrI2(std::int16_t value) { return std::to_string(value); }

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

int DigitValue(char c, int radix) {
  int d;
  if (c >= '0' && c <= '9') {
    d = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    d = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    d = c - 'A' + 10;
  } else {
    return -1;
  }
  return d < radix ? d : -1;
}

// Walks the text, skipping blanks before every character it looks at.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}

  // The next non-blank character, or '\0' at the end.
  char Peek() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
    return pos_ < text_.size() ? text_[pos_] : '\0';
  }
  void Advance() { ++pos_; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

double ReadRadix(Cursor& in, int radix) {
  constexpr std::uint64_t kMax32 = 0xFFFFFFFFu;
  std::uint64_t acc = 0;
  bool any = false;
  for (int d; (d = DigitValue(in.Peek(), radix)) >= 0; in.Advance()) {
    acc = acc * static_cast<std::uint64_t>(radix) + static_cast<std::uint64_t>(d);
    if (acc > kMax32) RaiseOverflow();
    any = true;
  }
  if (!any) return 0.0;
  if (acc <= 0xFFFFu) return static_cast<std::int16_t>(static_cast<std::uint16_t>(acc));
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(acc));
}

// Decimal order of magnitude of a mantissa written as digits with an optional
// period (no sign, no exponent): "123.4" -> 2, "0.05" -> -2. Only called for
// mantissas that are not zero.
long long MantissaOrder(std::string_view mantissa) {
  const std::size_t point = mantissa.find('.');
  const std::string_view whole = mantissa.substr(0, point);
  const std::size_t first = whole.find_first_not_of('0');
  if (first != std::string_view::npos) return static_cast<long long>(whole.size() - first) - 1;
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view{} : mantissa.substr(point + 1);
  return -static_cast<long long>(fraction.find_first_not_of('0')) - 1;
}

}  // namespace

bool ValHasMinus(std::string_view text) { return Cursor(text).Peek() == '-'; }

double Val(std::string_view text) {
  Cursor in(text);
  if (in.Peek() == '&') {
    in.Advance();
    const char kind = in.Peek();
    if (kind == 'H' || kind == 'h') {
      in.Advance();
      return ReadRadix(in, 16);
    }
    if (kind == 'O' || kind == 'o') {
      in.Advance();
      return ReadRadix(in, 8);
    }
    return 0.0;
  }

  bool negative = false;
  if (in.Peek() == '+' || in.Peek() == '-') {
    negative = in.Peek() == '-';
    in.Advance();
  }

  std::string mantissa;
  bool any_digit = false;
  bool nonzero = false;
  bool seen_point = false;
  for (char c; (c = in.Peek()) != '\0'; in.Advance()) {
    if (c >= '0' && c <= '9') {
      any_digit = true;
      nonzero = nonzero || c != '0';
    } else if (c == '.' && !seen_point) {
      seen_point = true;
    } else {
      break;
    }
    mantissa += c;
  }
  if (!any_digit || !nonzero) return 0.0;

  // The exponent counts only when at least one digit follows its letter.
  std::string exponent;
  const char e = in.Peek();
  if (e == 'E' || e == 'e' || e == 'D' || e == 'd') {
    in.Advance();
    std::string sign;
    if (in.Peek() == '+' || in.Peek() == '-') {
      sign = in.Peek();
      in.Advance();
    }
    std::string digits;
    for (char c; (c = in.Peek()) >= '0' && c <= '9'; in.Advance()) digits += c;
    if (!digits.empty()) exponent = sign + digits;
  }

  // The exponent is read saturating: past its first digits only its sign
  // and size matter.
  long long exp = 0;
  for (char c : exponent) {
    if (c >= '0' && c <= '9') exp = exp > 1'000'000'000LL ? exp : exp * 10 + (c - '0');
  }
  if (!exponent.empty() && exponent[0] == '-') exp = -exp;
  const long long order = MantissaOrder(mantissa);
  // Forty significant digits decide a double; the rest only its order of
  // magnitude, carried by the exponent. Some libraries' conversion takes
  // time in the square of its input's length, and no entry may hold up a
  // key-up for that.
  std::string number = mantissa;
  if (!exponent.empty()) number += "e" + exponent;
  if (number.size() > 64) {
    std::string digits;
    for (char c : mantissa) {
      if (c != '.' && !(digits.empty() && c == '0') && digits.size() < 40) digits += c;
    }
    number = "0." + digits + "e" + std::to_string(order + 1 + exp);
  }
  double value = 0.0;
  const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  (void)end;
  if (ec == std::errc::result_out_of_range) {
    // Overflow or underflow: tell them apart by the order of magnitude.
    if (order + exp > 0) RaiseOverflow();
    return 0.0;
  }
  if (ec != std::errc{}) return 0.0;  // unreachable: the text is well formed
  return negative ? -value : value;
}

std::int32_t FpI4(double value) {
  if (std::isnan(value)) RaiseOverflow();
  const double floor = std::floor(value);
  const double diff = value - floor;
  double rounded = floor;
  if (diff > 0.5 || (diff == 0.5 && std::fmod(floor, 2.0) != 0.0)) rounded = floor + 1.0;
  if (rounded < -2147483648.0 || rounded > 2147483647.0) RaiseOverflow();
  return static_cast<std::int32_t>(rounded);
}

std::uint8_t UI1I4(std::int32_t value) {
  if (value < 0 || value > 255) RaiseOverflow();
  return static_cast<std::uint8_t>(value);
}

}  // namespace tollmere::runtime
