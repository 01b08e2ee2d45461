#include <gtest/gtest.h>

#include "runtime/checked.h"
#include "runtime/error.h"

namespace tollmere::runtime {
namespace {

TEST(CheckedArithmetic, StepsWithinRange) {
  std::int16_t v = 0;
  CheckedIncrement(v);
  EXPECT_EQ(v, 1);
  CheckedDecrement(v);
  CheckedDecrement(v);
  EXPECT_EQ(v, -1);
}

TEST(CheckedArithmetic, OverflowIsAnErrorAndLeavesTheValue) {
  std::int16_t top = 32767;
  try {
    CheckedIncrement(top);
    FAIL() << "no overflow";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), ErrorNumber::kOverflow);
    EXPECT_EQ(Describe(e), "Error 6: Overflow");
  }
  EXPECT_EQ(top, 32767);

  std::int16_t bottom = -32768;
  EXPECT_THROW(CheckedDecrement(bottom), Error);
  EXPECT_EQ(bottom, -32768);
}

}  // namespace
}  // namespace tollmere::runtime
