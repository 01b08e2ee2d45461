#include "runtime/timer.h"

#include <gtest/gtest.h>

#include <vector>

#include "runtime/error.h"
#include "support/fake_clock.h"

namespace tollmere::runtime {
namespace {

using testing::FakeClock;
using testing::FakeTimer;

struct TimerTest : ::testing::Test {
  FakeClock clock;
  std::vector<std::int64_t> ticks;
  void Count(FakeTimer& t) {
    t.SetOnTick([this] { ticks.push_back(clock.Now()); });
  }
};

TEST_F(TimerTest, TicksOncePerIntervalFromTheMomentItIsEnabled) {
  FakeTimer t(clock, 300, false);
  Count(t);
  clock.Advance(1000);
  EXPECT_TRUE(ticks.empty());
  t.SetEnabled(true);
  clock.Advance(1000);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{1300, 1600, 1900}));
  t.SetEnabled(false);
  clock.Advance(1000);
  EXPECT_EQ(ticks.size(), 3u);
}

TEST_F(TimerTest, ZeroIntervalGivesNoTicksUntilOneIsSet) {
  FakeTimer t(clock, 0, true);
  Count(t);
  clock.Advance(5000);
  EXPECT_TRUE(ticks.empty());
  t.SetInterval(100);
  clock.Advance(250);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{5100, 5200}));
}

TEST_F(TimerTest, NegativeIntervalIsRefusedAndTheOldOneStays) {
  FakeTimer t(clock, 100, true);
  Count(t);
  clock.Advance(50);
  try {
    t.SetInterval(-5);
    FAIL() << "accepted a negative interval";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), ErrorNumber::kInvalidPropertyValue);
  }
  EXPECT_EQ(t.Interval(), 100);
  clock.Advance(50);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{100}));  // the period ran on
}

TEST_F(TimerTest, SettingTheSameValueKeepsThePeriodANewIntervalRestartsIt) {
  FakeTimer t(clock, 100, true);
  Count(t);
  clock.Advance(60);
  t.SetEnabled(true);
  t.SetInterval(100);
  clock.Advance(40);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{100}));
  clock.Advance(30);
  t.SetInterval(500);
  clock.Advance(600);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{100, 630}));
}

TEST_F(TimerTest, AHandlerThatStopsItsTimerGetsNoMoreTicks) {
  FakeTimer t(clock, 10, true);
  t.SetOnTick([&] {
    ticks.push_back(clock.Now());
    t.SetEnabled(false);
  });
  clock.Advance(100);
  EXPECT_EQ(ticks, (std::vector<std::int64_t>{10}));
}

}  // namespace
}  // namespace tollmere::runtime
