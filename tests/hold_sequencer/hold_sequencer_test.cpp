#include <gtest/gtest.h>

#include "fake_form.h"

namespace tollmere::testing {
namespace {

struct Step {
  std::int64_t at;  // ms after the click
  std::int16_t count;
  const char* caption;
  bool timer1;
  bool timer2;
  std::size_t keys;  // key events so far
};

class Timeline : public ::testing::TestWithParam<std::int32_t> {};

// A click, the four countdown ticks, the key-down, two hold ticks and the
// key-up, checked at each step for several hold intervals.
TEST_P(Timeline, ClickCountsDownHoldsForTwoIntervalsAndReleases) {
  const std::int32_t i = GetParam();
  FakeForm form;
  form.Type(std::to_string(i));
  form.clock.Advance(12345);  // the click may come at any time
  const std::int64_t t0 = form.clock.Now();
  form.Click();
  const Step steps[] = {
      {0, 4, "Start", false, true, 0},
      {1000, 3, "Starting in 3", false, true, 0},
      {2000, 2, "Starting in 2", false, true, 0},
      {3000, 1, "Starting in 1", false, true, 0},
      {4000, 0, "Starting in 0", true, false, 1},
      {4000 + i, 1, "Starting in 0", true, false, 1},
      {4000 + 2 * i, 2, "Start", false, false, 2},
  };
  for (const Step& s : steps) {
    form.clock.Advance(t0 + s.at - form.clock.Now());
    SCOPED_TRACE("at " + std::to_string(s.at) + " ms");
    EXPECT_EQ(form.seq.Count(), s.count);
    EXPECT_EQ(form.caption, s.caption);
    EXPECT_EQ(form.timer1.Enabled(), s.timer1);
    EXPECT_EQ(form.timer2.Enabled(), s.timer2);
    EXPECT_EQ(form.keys.size(), s.keys);
  }
  EXPECT_EQ(form.keys, (std::vector<KeyEvent>{{t0 + 4000, true}, {t0 + 4000 + 2 * i, false}}));
  EXPECT_EQ(form.prepared, std::vector<std::int64_t>{t0}) << "told at the click, not at the key";
  form.clock.Advance(60000);  // and nothing more happens
  EXPECT_EQ(form.keys.size(), 2u);
  EXPECT_EQ(form.caption, "Start");
  EXPECT_TRUE(form.fatal.empty());
}

INSTANTIATE_TEST_SUITE_P(Intervals, Timeline, ::testing::Values(1, 20, 500, 999, 1000, 3000));

TEST(Countdown, AClickDuringTheCountdownStartsItOverAtTheNextTick) {
  FakeForm form;
  form.Type("500");
  form.Click();
  form.clock.Advance(2500);
  EXPECT_EQ(form.caption, "Starting in 2");
  form.Click();
  EXPECT_EQ(form.seq.Count(), 4);
  EXPECT_EQ(form.caption, "Starting in 2");  // untouched until the next tick
  form.clock.Advance(500);                   // the running period is kept
  EXPECT_EQ(form.caption, "Starting in 3");
  form.clock.Advance(3000);
  EXPECT_EQ(form.keys, (std::vector<KeyEvent>{{6000, true}}));
  form.clock.Advance(1000);
  EXPECT_EQ(form.keys.back(), (KeyEvent{7000, false}));
}

TEST(Countdown, AClickAfterACompletedHoldGoesFromTwoStraightToFour) {
  FakeForm form;
  form.Type("100");
  form.Click();
  form.clock.Advance(5000);
  EXPECT_EQ(form.seq.Count(), 2);
  form.Click();
  EXPECT_EQ(form.seq.Count(), 4);
  form.clock.Advance(1000);
  EXPECT_EQ(form.caption, "Starting in 3");
  form.clock.Advance(3200);
  EXPECT_EQ(form.keys.size(), 4u);
}

TEST(Hold, WithNoIntervalTheKeyStaysDownUntilOneIsTyped) {
  FakeForm form;  // nothing typed: Timer1's interval is 0
  form.Click();
  form.clock.Advance(4000);
  EXPECT_EQ(form.keys, (std::vector<KeyEvent>{{4000, true}}));
  form.clock.Advance(60000);
  EXPECT_EQ(form.keys.size(), 1u);
  EXPECT_EQ(form.caption, "Starting in 0");
  EXPECT_TRUE(form.timer1.Enabled());
  form.TypeEach("50");  // 5, then 50: each restarts the period
  form.clock.Advance(100);
  EXPECT_EQ(form.keys.back(), (KeyEvent{64100, false}));
  EXPECT_EQ(form.caption, "Start");
}

// A second click would otherwise let both timers step the counter, and with
// equal intervals their steps cancel: the key would stay down for good.
TEST(Hold, AClickDuringTheHoldLetsTheKeyUpFirstThenCountsDownAgain) {
  for (const std::int32_t interval : {1, 1000, 3000}) {
    SCOPED_TRACE(interval);
    FakeForm form;
    form.Type(std::to_string(interval));
    form.Click();
    form.clock.Advance(4000);  // down at 4000
    form.Click();
    EXPECT_EQ(form.keys, (std::vector<KeyEvent>{{4000, true}, {4000, false}}));
    EXPECT_EQ(form.caption, "Start");
    EXPECT_FALSE(form.timer1.Enabled());
    form.clock.Advance(4000 + 2 * interval + 60000);
    EXPECT_EQ(form.keys,
              (std::vector<KeyEvent>{
                  {4000, true}, {4000, false}, {8000, true}, {8000 + 2 * interval, false}}));
    EXPECT_EQ(form.caption, "Start");
    EXPECT_TRUE(form.fatal.empty());
  }
}

// Stop undoes whatever is under way, key first; a toggle starts when idle.
TEST(StopAndToggle, EndTheCountdownOrTheHoldAtOnceAndDoNothingWhenIdle) {
  FakeForm form;
  form.Type("500");
  form.seq.Stop();  // idle: nothing at all
  EXPECT_EQ(form.caption, "Start");
  EXPECT_FALSE(form.seq.Busy());

  form.Click();
  form.clock.Advance(2500);  // "Starting in 2"
  form.seq.Stop();
  EXPECT_EQ(form.caption, "Start");
  EXPECT_FALSE(form.timer2.Enabled());
  EXPECT_EQ(form.seq.Count(), 0);
  form.clock.Advance(10000);
  EXPECT_TRUE(form.keys.empty());

  form.seq.Toggle();         // idle: a click
  form.clock.Advance(4300);  // holding since 4000
  form.seq.Start();          // busy: unlike a click, no second countdown
  EXPECT_FALSE(form.timer2.Enabled());
  const std::int64_t down = form.clock.Now() - 300;
  form.seq.Toggle();  // busy: a stop
  EXPECT_EQ(form.keys, (std::vector<KeyEvent>{{down, true}, {down + 300, false}}));
  EXPECT_EQ(form.caption, "Start");
  EXPECT_FALSE(form.timer1.Enabled());
  form.clock.Advance(10000);
  EXPECT_EQ(form.keys.size(), 2u);

  // A hold with interval 0 never ends by itself: a request from outside
  // the window refuses it, with the reason beside the box; a click takes it,
  // and a stop ends it.
  form.Type("");
  EXPECT_EQ(form.seq.Toggle(), hold_sequencer::kNoIntervalMessage);
  EXPECT_EQ(form.problem, hold_sequencer::kNoIntervalMessage);
  EXPECT_FALSE(form.seq.Busy());
  form.Click();
  form.clock.Advance(5000);
  EXPECT_TRUE(form.seq.Busy());
  form.seq.Stop();
  EXPECT_EQ(form.keys.size(), 4u);
  EXPECT_FALSE(form.keys.back().down);
  EXPECT_FALSE(form.seq.Busy());
  EXPECT_TRUE(form.fatal.empty());
}

}  // namespace
}  // namespace tollmere::testing
