#include "measure.h"

#include <gtest/gtest.h>

namespace tollmere::bench {
namespace {

TEST(Summarize, RanksAreNearestRankAndP99AbsSeesTheWorstSideOfZero) {
  EXPECT_FALSE(Summarize({}));

  // 30 samples: p99 is the largest, as with any count under 100.
  std::vector<double> thirty(30, 0.0);
  thirty[7] = 1;
  const auto s = Summarize(thirty);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->n, 30u);
  EXPECT_EQ(s->p99, 1);
  EXPECT_EQ(s->median, 0);

  // 200 samples 1..200: p99 is the 198th, the median between the middle two.
  std::vector<double> many;
  for (int i = 200; i >= 1; --i) many.push_back(i);
  const auto m = Summarize(many);
  EXPECT_EQ(m->p99, 198);
  EXPECT_EQ(m->median, 100.5);
  EXPECT_EQ(m->min, 1);
  EXPECT_EQ(m->max, 200);

  // An early release counts as much as a late one.
  const auto early = Summarize({0, 1, -3, 0});
  EXPECT_EQ(early->p99, 1);
  EXPECT_EQ(early->p99_abs, 3);
  EXPECT_EQ(early->min, -3);
}

TEST(ReadCycles, SelfRepeatingCyclesGiveHoldsAndTheCountdownsBetweenThem) {
  // The start-up keystroke (before the click at 1000), then three cycles.
  const std::vector<KeyTransition> keys = {
      {true, 500},   {false, 501},   // start-up, ignored
      {true, 5001},  {false, 5042},  // click 1000 -> down 5001
      {true, 9043},  {false, 9083},  // lead-in from the release: 4001
      {true, 13084}, {false, 13125},
  };
  const Cycles c = ReadCycles(keys, 1000);
  EXPECT_EQ(c.holds, (std::vector<std::int64_t>{41, 40, 41}));
  ASSERT_TRUE(c.first_lead_in);
  EXPECT_EQ(*c.first_lead_in, 4001);
  EXPECT_EQ(c.lead_ins, (std::vector<std::int64_t>{4001, 4001}));
  EXPECT_EQ(c.out_of_order, 0u);

  // Only as many cycles as asked for: the run is cut off mid-cycle.
  const Cycles two = ReadCycles(keys, 1000, 2);
  EXPECT_EQ(two.holds.size(), 2u);
  EXPECT_EQ(two.lead_ins.size(), 1u);

  // Without a start, there is no first lead-in (xdotool's holds).
  const Cycles free = ReadCycles({{true, 10}, {false, 50}}, std::nullopt);
  EXPECT_EQ(free.holds, (std::vector<std::int64_t>{40}));
  EXPECT_FALSE(free.first_lead_in);
  EXPECT_TRUE(free.lead_ins.empty());
}

TEST(ReadCycles, BrokenOrderIsCountedAndItsCycleLeftOut) {
  const std::vector<KeyTransition> keys = {
      {true, 100},   {false, 140},  {true, 4141},
      {true, 4150},  {false, 4190},  // a second press: unreadable
      {true, 8191},  {false, 8231},  // no lead-in: the release before is unknown
      {false, 9000},                 // a release with no press
  };
  const Cycles c = ReadCycles(keys, 0);
  EXPECT_EQ(c.holds, (std::vector<std::int64_t>{40, 40}));
  EXPECT_EQ(c.out_of_order, 3u);
  EXPECT_TRUE(c.lead_ins.empty());
}

TEST(ReadCycles, TheServerClockMayWrapDuringARun) {
  const std::uint32_t near_end = 0xFFFFFFFFu - 10;
  const Cycles c = ReadCycles({{true, near_end}, {false, near_end + 40}}, near_end - 4000);
  EXPECT_EQ(c.holds, (std::vector<std::int64_t>{40}));
  EXPECT_EQ(*c.first_lead_in, 4000);
}

TEST(SplitHolds, EachTakenHoldIsPairedWithTheTracedHoldThatStartedNearest) {
  // A trace: the start-up keystroke, then two countdowns and their holds.
  std::vector<e2e::TraceEvent> trace = {
      {100.2, "key-down", "32"},  {100.4, "key-up", "32"},  {1000.0, "click", ""},
      {5000.6, "key-down", "32"}, {5041.1, "key-up", "32"}, {5041.5, "click", ""},
      {9042.0, "key-down", "32"}, {9082.5, "key-up", "32"},
  };
  const auto traced = TracedHolds(trace);
  ASSERT_EQ(traced.size(), 3u);
  const auto countdowns = TracedCountdowns(trace, 4000);
  ASSERT_EQ(countdowns.size(), 2u);
  EXPECT_NEAR(countdowns[0], 0.6, 1e-9);
  EXPECT_NEAR(countdowns[1], 0.5, 1e-9);

  // The server stamps in whole ms; the second hold has no traced match, as
  // when a trace line was lost.
  Cycles cycles;
  cycles.presses = {5000, 7000, 9042};
  cycles.holds = {42, 40, 41};
  const auto taken = ServerHolds(cycles, 9000.0);
  const auto split = SplitHolds(taken, traced, 40);
  ASSERT_EQ(split.size(), 3u);
  EXPECT_DOUBLE_EQ(split[0].end_to_end, 2);
  ASSERT_TRUE(split[0].program);
  EXPECT_NEAR(*split[0].program, 0.5, 1e-9);
  EXPECT_FALSE(split[1].program);
  EXPECT_NEAR(*split[2].program, 0.5, 1e-9);

  // Server times are 32-bit: a press just past the wrap is read next to a
  // monotonic time just before it.
  Cycles wrapped;
  wrapped.presses = {5};
  wrapped.holds = {40};
  const auto late = ServerHolds(wrapped, 4294967290.0);
  EXPECT_DOUBLE_EQ(late[0].down, 4294967301.0);
}

}  // namespace
}  // namespace tollmere::bench
