#include <gtest/gtest.h>

#include "fake_form.h"

namespace tollmere::testing {
namespace {

TEST(IntervalEntry, EveryChangeSetsTheHoldTimersInterval) {
  FakeForm form;
  const std::pair<const char*, std::int32_t> cases[] = {
      {"500", 500},
      {"", 0},
      {"abc", 0},
      {"250ms", 250},
      {"1.5", 2},
      {"2.5", 2},
      {"3.5", 4},
      {"1e3", 1000},
      {"1 000", 1000},
      {"&H3E8", 1000},
      {"1,5", 1},
      {"&O12", 10},
      {"2147483647", 2147483647},
  };
  for (const auto& [text, expected] : cases) {
    form.Type("7");  // a known value to change from
    form.Type(text);
    EXPECT_EQ(form.timer1.Interval(), expected) << text;
    EXPECT_EQ(form.problem, "") << text;
  }
}

TEST(IntervalEntry, TypingOneCharacterAtATimeSetsEachPrefix) {
  FakeForm form;
  std::vector<std::int32_t> seen;
  for (char c : std::string("500")) {
    form.Type(form.text + c);
    seen.push_back(form.timer1.Interval());
  }
  EXPECT_EQ(seen, (std::vector<std::int32_t>{5, 50, 500}));
}

TEST(IntervalEntry, ChangesNothingButTheInterval) {
  FakeForm form;
  form.Type("100");
  form.Click();
  form.clock.Advance(1000);
  form.Type("300");
  EXPECT_EQ(form.caption, "Starting in 3");
  EXPECT_EQ(form.seq.Count(), 3);
  EXPECT_FALSE(form.timer1.Enabled());
  EXPECT_TRUE(form.timer2.Enabled());
}

// An entry the interval cannot take is refused beside the box; the program,
// the interval in force and any hold under way go on.
TEST(IntervalEntry, ABadEntryIsExplainedAndTheIntervalStays) {
  FakeForm form;
  form.Type("400");
  const char* too_large[] = {"99999999999", "1e400", "&H100000000", "2147483647.5"};
  for (const char* text : too_large) {
    form.Type(text);
    EXPECT_EQ(form.timer1.Interval(), 400) << text;
    EXPECT_EQ(form.problem, "Too large: use 0 to 2147483647 ms. Keeping 400 ms.") << text;
  }
  // Refused by the timer, or past the range on the negative side.
  for (const char* text :
       {"-5", "&HFFFF" /* the 16-bit pattern of -1 */, "-2147483649", " -1e400"}) {
    form.Type(text);
    EXPECT_EQ(form.timer1.Interval(), 400) << text;
    EXPECT_EQ(form.problem, "Can't be negative: use 0 to 2147483647 ms. Keeping 400 ms.") << text;
  }

  form.Type("40");  // valid again: the message goes
  EXPECT_EQ(form.problem, "");
  EXPECT_EQ(form.timer1.Interval(), 40);
  EXPECT_TRUE(form.fatal.empty());
}

TEST(IntervalEntry, ABadEntryDuringAHoldLetsTheHoldFinish) {
  FakeForm form;
  form.Type("500");
  form.Click();
  form.clock.Advance(4200);  // holding
  form.Type("1e400");
  form.Type("-1");
  form.clock.Advance(800);
  EXPECT_EQ(form.keys, (std::vector<KeyEvent>{{4000, true}, {5000, false}}));
  EXPECT_TRUE(form.fatal.empty());
}

}  // namespace
}  // namespace tollmere::testing
