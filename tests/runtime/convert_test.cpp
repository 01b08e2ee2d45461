#include "runtime/convert.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "runtime/error.h"

namespace tollmere::runtime {
namespace {

bool Overflows(auto&& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.number() == ErrorNumber::kOverflow;
  }
  return false;
}

TEST(Val, ReadsTheNumberAtTheStartAndIgnoresTheRest) {
  EXPECT_EQ(Val(""), 0.0);
  EXPECT_EQ(Val("abc"), 0.0);
  EXPECT_EQ(Val("500"), 500.0);
  EXPECT_EQ(Val("500ms"), 500.0);
  EXPECT_EQ(Val("12abc34"), 12.0);
  EXPECT_EQ(Val("1.5"), 1.5);
  EXPECT_EQ(Val(".5"), 0.5);
  EXPECT_EQ(Val("5."), 5.0);
  EXPECT_EQ(Val("1.2.3"), 1.2);
  EXPECT_EQ(Val("."), 0.0);
  EXPECT_EQ(Val("x500"), 0.0);
}

TEST(Val, SkipsBlanksTabsAndLineFeedsAnywhere) {
  EXPECT_EQ(Val("1 000"), 1000.0);
  EXPECT_EQ(Val("  \t\n 42"), 42.0);
  EXPECT_EQ(Val("4\t2\n0"), 420.0);
  EXPECT_EQ(Val("- 5"), -5.0);
  EXPECT_EQ(Val("1 e 3"), 1000.0);
  // A carriage return is no blank: it ends the number.
  EXPECT_EQ(Val("1\r2"), 1.0);
}

TEST(Val, OnlyThePeriodSeparatesDecimals) {
  EXPECT_EQ(Val("1,5"), 1.0);
  EXPECT_EQ(Val("1,000"), 1.0);
}

TEST(Val, ReadsSignsAndExponents) {
  EXPECT_EQ(Val("-5"), -5.0);
  EXPECT_EQ(Val("+5"), 5.0);
  EXPECT_EQ(Val("--5"), 0.0);
  EXPECT_EQ(Val("-"), 0.0);
  EXPECT_EQ(Val("1e3"), 1000.0);
  EXPECT_EQ(Val("1E3"), 1000.0);
  EXPECT_EQ(Val("1d3"), 1000.0);
  EXPECT_EQ(Val("1e+3"), 1000.0);
  EXPECT_EQ(Val("25e-1"), 2.5);
  EXPECT_EQ(Val("1e"), 1.0);  // no exponent digits: the letter ends it
  EXPECT_EQ(Val("1e-"), 1.0);
  EXPECT_EQ(Val("2e3x"), 2000.0);
}

TEST(Val, HugeNumbersOverflowAndTinyOnesAreZero) {
  EXPECT_TRUE(Overflows([] { Val("1e400"); }));
  EXPECT_TRUE(Overflows([] { Val("-1e400"); }));
  EXPECT_TRUE(Overflows([] { Val("1e99999999999999999999"); }));
  EXPECT_TRUE(Overflows([] { Val(std::string(10000, '9')); }));
  EXPECT_EQ(Val("1e-400"), 0.0);
  EXPECT_EQ(Val("0.0000001e-400"), 0.0);
  EXPECT_EQ(Val("0e99999"), 0.0);
  EXPECT_EQ(Val("1e308"), 1e308);
  EXPECT_EQ(Val(std::string(300, '0') + "7"), 7.0);
}

TEST(Val, ReadsHexadecimalAndOctalWithTheirWidths) {
  EXPECT_EQ(Val("&H3E8"), 1000.0);
  EXPECT_EQ(Val("&h3e8"), 1000.0);
  EXPECT_EQ(Val("&O1750"), 1000.0);
  EXPECT_EQ(Val("&o17"), 15.0);
  EXPECT_EQ(Val("&H 3 E 8"), 1000.0);
  EXPECT_EQ(Val("&H10G"), 16.0);
  EXPECT_EQ(Val("&O19"), 1.0);
  // Up to 16 bits the pattern is a signed 16-bit value, up to 32 bits a
  // signed 32-bit one.
  EXPECT_EQ(Val("&H7FFF"), 32767.0);
  EXPECT_EQ(Val("&H8000"), -32768.0);
  EXPECT_EQ(Val("&HFFFF"), -1.0);
  EXPECT_EQ(Val("&H10000"), 65536.0);
  EXPECT_EQ(Val("&H7FFFFFFF"), 2147483647.0);
  EXPECT_EQ(Val("&HFFFFFFFF"), -1.0);
  EXPECT_EQ(Val("&O177777"), -1.0);
  EXPECT_EQ(Val("&H0000000000FF"), 255.0);  // leading zeros add no width
  EXPECT_TRUE(Overflows([] { Val("&H100000000"); }));
  EXPECT_TRUE(Overflows([] { Val("&O40000000000"); }));
  EXPECT_EQ(Val("&H"), 0.0);
  EXPECT_EQ(Val("&X10"), 0.0);
  EXPECT_EQ(Val("&"), 0.0);
  EXPECT_EQ(Val("-&H10"), 0.0);
}

TEST(Val, NonAsciiTextEndsTheNumber) {
  EXPECT_EQ(Val("12\xEF\xBC\x93"), 12.0);  // a full-width digit three
  EXPECT_EQ(Val("\xD9\xA5"), 0.0);         // an Arabic-Indic five
  EXPECT_EQ(Val("1\xC2\xA0"
                "000"),
            1.0);  // a no-break space is no blank
}

// For plain decimal text Val is the C library's reading of it.
TEST(Val, AgreesWithStrtodOnPlainDecimals) {
  std::mt19937 rng(20261208);
  std::uniform_int_distribution<int> len(1, 12), digit(0, 9), exp(-30, 30);
  for (int i = 0; i < 2000; ++i) {
    std::string text = rng() % 2 ? "-" : "";
    for (int n = len(rng); n > 0; --n) text += static_cast<char>('0' + digit(rng));
    if (rng() % 2) {
      text += '.';
      for (int n = len(rng); n > 0; --n) text += static_cast<char>('0' + digit(rng));
    }
    if (rng() % 3 == 0) {
      // Appended in two steps: g++ 12 at -O3 warns (-Wrestrict) about its own
      // string code for "e" + std::string.
      text += 'e';
      text += std::to_string(exp(rng));
    }
    EXPECT_EQ(Val(text), std::strtod(text.c_str(), nullptr)) << text;
  }
}

TEST(FpI4, RoundsHalvesToEven) {
  EXPECT_EQ(FpI4(1.5), 2);
  EXPECT_EQ(FpI4(2.5), 2);
  EXPECT_EQ(FpI4(3.5), 4);
  EXPECT_EQ(FpI4(-2.5), -2);
  EXPECT_EQ(FpI4(-3.5), -4);
  EXPECT_EQ(FpI4(0.49999999999999994), 0);
  EXPECT_EQ(FpI4(2.5000000001), 3);
  EXPECT_EQ(FpI4(-0.4), 0);
}

TEST(FpI4, TestsTheRangeOnTheRoundedValue) {
  EXPECT_EQ(FpI4(2147483647.0), 2147483647);
  EXPECT_EQ(FpI4(2147483647.4), 2147483647);
  EXPECT_TRUE(Overflows([] { FpI4(2147483647.5); }));
  EXPECT_EQ(FpI4(-2147483648.0), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(FpI4(-2147483648.5), std::numeric_limits<std::int32_t>::min());
  EXPECT_TRUE(Overflows([] { FpI4(-2147483649.0); }));
  EXPECT_TRUE(Overflows([] { FpI4(1e300); }));
  EXPECT_TRUE(Overflows([] { FpI4(std::numeric_limits<double>::quiet_NaN()); }));
  EXPECT_TRUE(Overflows([] { FpI4(std::numeric_limits<double>::infinity()); }));
}

TEST(Narrowing, OnlyZeroTo255FitsAByte) {
  EXPECT_EQ(UI1I4(0), 0);
  EXPECT_EQ(UI1I4(32), 32);
  EXPECT_EQ(UI1I4(255), 255);
  EXPECT_TRUE(Overflows([] { UI1I4(256); }));
  EXPECT_TRUE(Overflows([] { UI1I4(-1); }));
  EXPECT_TRUE(Overflows([] { UI1I4(std::numeric_limits<std::int32_t>::min()); }));
}

TEST(StrI2, WritesDigitsWithAnOptionalMinus) {
  EXPECT_EQ(StrI2(0), "0");
  EXPECT_EQ(StrI2(3), "3");
  EXPECT_EQ(StrI2(-1), "-1");
  EXPECT_EQ(StrI2(32767), "32767");
  EXPECT_EQ(StrI2(-32768), "-32768");
}

}  // namespace
}  // namespace tollmere::runtime
