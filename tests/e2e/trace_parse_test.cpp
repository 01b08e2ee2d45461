// The tests read the program's behaviour from its trace lines; a parser
// that misreads them would make every other case meaningless.
#include <gtest/gtest.h>

#include "harness/app_process.h"

namespace tollmere::e2e {
namespace {

TEST(TraceLine, ReadsTimeEventAndArgument) {
  const auto caption = ParseTraceLine(R"(trace 3903913.267 caption "Starting in 3")");
  ASSERT_TRUE(caption);
  EXPECT_DOUBLE_EQ(caption->ms, 3903913.267);
  EXPECT_EQ(caption->event, "caption");
  EXPECT_EQ(caption->arg, "Starting in 3");

  const auto key = ParseTraceLine("trace 12.500 key-down 32");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->event, "key-down");
  EXPECT_EQ(key->arg, "32");

  const auto ok = ParseTraceLine("trace 1.000 interval-ok");
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->event, "interval-ok");
  EXPECT_EQ(ok->arg, "");
}

TEST(TraceLine, UnquotesEscapes) {
  const auto problem = ParseTraceLine(R"(trace 1.000 interval-problem "say \"no\"\nC:\\ here")");
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->arg, "say \"no\"\nC:\\ here");
}

TEST(TraceLine, IgnoresOtherStderrLines) {
  EXPECT_FALSE(ParseTraceLine("QStandardPaths: XDG_RUNTIME_DIR not set"));
  EXPECT_FALSE(ParseTraceLine("tollmere: no display to open the window on"));
  EXPECT_FALSE(ParseTraceLine("trace soon key-down 32"));
  EXPECT_FALSE(ParseTraceLine("trace 12.5"));
}

}  // namespace
}  // namespace tollmere::e2e
