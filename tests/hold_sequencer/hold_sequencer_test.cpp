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

// The settings: a hold until stopped, repeats with a gap, the countdown's
// length, and a stop in each phase, key first.
TEST(Modes, UntilStoppedRepeatsAndCountdownLengthsEndAtAStopKeyFirst) {
  using V = std::vector<KeyEvent>;
  FakeForm form;
  const auto set = [&form](const char* name, const char* text) {
    EXPECT_EQ(form.seq.SetSetting(name, text), "") << name << "=" << text;
  };
  set("key", "a");
  set("hold", "until-stopped");
  set("countdown", "0");
  form.key = 'A';
  // No interval needed, and no countdown: the key goes down with the start.
  std::int64_t t = form.clock.Now();
  EXPECT_EQ(form.seq.Toggle(), "");
  EXPECT_EQ(form.caption, "Starting in 0");
  set("key", "B");  // for the next start; this hold keeps its key
  form.clock.Advance(600000);
  EXPECT_EQ(form.keys, (V{{t, true}}));
  form.seq.Toggle();
  EXPECT_EQ(form.keys, (V{{t, true}, {t + 600000, false}}));
  EXPECT_FALSE(form.seq.Busy());

  // Three holds of two 100 ms intervals, 50 ms apart, after 2 s.
  form.keys.clear();
  form.key = 'B';
  form.Type("100");
  set("hold", "twice");
  set("repeat", "3");
  set("gap", "50");
  set("countdown", "2");
  t = form.clock.Now();
  form.Click();
  form.clock.Advance(1000);
  EXPECT_EQ(form.caption, "Starting in 1");
  form.clock.Advance(10000);
  EXPECT_EQ(form.keys, (V{{t + 2000, true},
                          {t + 2200, false},
                          {t + 2250, true},
                          {t + 2450, false},
                          {t + 2500, true},
                          {t + 2700, false}}));
  EXPECT_EQ(form.caption, "Start");
  EXPECT_EQ(form.timer1.Interval(), 100) << "the gap's length stayed";

  // Forever, one interval apart: a stop in a gap sends nothing, a stop in
  // a hold lets the key up at once.
  set("repeat", "forever");
  set("gap", "interval");
  for (const std::int64_t stop_at : {2550, 2650}) {
    form.keys.clear();
    t = form.clock.Now();
    form.Click();
    form.clock.Advance(stop_at);
    form.seq.Stop();
    form.clock.Advance(10000);
    V expected{{t + 2000, true}, {t + 2200, false}, {t + 2300, true}, {t + 2500, false}};
    if (stop_at == 2650) expected.insert(expected.end(), {{t + 2600, true}, {t + 2650, false}});
    EXPECT_EQ(form.keys, expected) << "stopped at " << stop_at;
    EXPECT_FALSE(form.seq.Busy());
  }

  // No gap: the key-up and the next key-down come together.
  form.keys.clear();
  set("repeat", "2");
  set("gap", "0");
  t = form.clock.Now();
  form.Click();
  form.clock.Advance(10000);
  EXPECT_EQ(form.keys,
            (V{{t + 2000, true}, {t + 2200, false}, {t + 2200, true}, {t + 2400, false}}));

  // A hold until stopped chosen during a gap is the next hold's.
  form.keys.clear();
  set("repeat", "forever");
  set("gap", "50");
  t = form.clock.Now();
  form.Click();
  form.clock.Advance(2220);
  set("hold", "until-stopped");
  form.clock.Advance(60000);
  EXPECT_EQ(form.keys, (V{{t + 2000, true}, {t + 2200, false}, {t + 2250, true}}));
  form.seq.Stop();
  set("hold", "twice");

  // What no setting takes leaves the settings as they were.
  const hold_sequencer::HoldSettings before = form.seq.Settings();
  for (const auto& [name, text] :
       std::vector<std::pair<const char*, const char*>>{{"key", "Hyper"},
                                                        {"key", "CapsLock"},
                                                        {"hold", "thrice"},
                                                        {"repeat", "0"},
                                                        {"repeat", "-1"},
                                                        {"gap", "1e3"},
                                                        {"countdown", "61"},
                                                        {"colour", "red"}}) {
    EXPECT_NE(form.seq.SetSetting(name, text), "") << name << "=" << text;
  }
  EXPECT_EQ(form.seq.Settings(), before);
  EXPECT_TRUE(form.fatal.empty());
}

}  // namespace
}  // namespace tollmere::testing
