// A click on "Start": the countdown on the button, then the space bar held
// for two intervals, timed against the X server's clock.
#include <algorithm>
#include <cstdio>
#include <iterator>

#include "e2e_fixture.h"

namespace tollmere::e2e {
namespace {

class HoldCycle : public TollmereOnXvfb {
 protected:
  // Runs one cycle with the probe focused and checks its timing and what
  // the button showed.
  void ExpectTimedHold(const std::string& typed, int interval_ms) {
    std::size_t mark = 0;
    const std::uint32_t click = StartCycle(typed, interval_ms, mark);
    ASSERT_FALSE(HasFatalFailure());

    const auto hold = std::chrono::milliseconds(2 * interval_ms);
    ASSERT_TRUE(probe_->WaitForKeys(2, 4s + hold + 3s, kSpaceKeysym, mark))
        << "no full keystroke at the probe; stderr:\n"
        << app_->Stderr();
    const auto keys = probe_->Transitions(kSpaceKeysym, mark);
    ASSERT_TRUE(keys[0].press && !keys[1].press);
    const double countdown = ServerSpan(click, keys[0].server_ms);
    const double held = ServerSpan(keys[0].server_ms, keys[1].server_ms);
    // Shown with ctest -V: how close the runs come, not just pass or fail.
    std::printf("[ timing   ] countdown %.0f ms (4000), hold %.0f ms (%d)\n", countdown, held,
                2 * interval_ms);
    EXPECT_NEAR(countdown, 4000, kToleranceMs) << "countdown length";
    EXPECT_NEAR(held, 2.0 * interval_ms, kToleranceMs) << "hold length";

    ASSERT_TRUE(app_->WaitForTrace("caption", "Start", 2s));
    const std::vector<std::string> expected = {"key-down 32",           "key-up 32",  // at start-up
                                               "caption Starting in 3", "caption Starting in 2",
                                               "caption Starting in 1", "caption Starting in 0",
                                               "key-down 32",           "key-up 32",
                                               "caption Start"};
    EXPECT_EQ(TracedSteps(), expected);

    // The captions follow each other a second apart on the program's clock.
    std::vector<double> captions;
    for (const TraceEvent& e : app_->Trace()) {
      if (e.event == "caption") captions.push_back(e.ms);
    }
    ASSERT_EQ(captions.size(), 5u);
    for (std::size_t i = 1; i < 4; ++i) {
      EXPECT_NEAR(captions[i] - captions[i - 1], 1000, kToleranceMs) << "tick " << i;
    }

    // Nothing more comes, and nothing is left down.
    probe_->Collect(300ms);
    EXPECT_EQ(probe_->Transitions(kSpaceKeysym, mark).size(), 2u);
    ExpectNoKeyDown("after the cycle");
  }
};

TEST_F(HoldCycle, DecimalIntervalHoldsTwoIntervalsAfterFourSeconds) { ExpectTimedHold("500", 500); }

TEST_F(HoldCycle, HexadecimalIntervalIsTaken) { ExpectTimedHold("&H3E8", 1000); }

// Another key from the command line: it alone is held, the space bar only
// for the start-up keystroke.
TEST_F(HoldCycle, AnotherKeyFromTheCommandLineIsHeldInsteadOfTheSpaceBar) {
  constexpr unsigned long kA = 0x61;  // XK_a
  Launch({"--trace", "--key=A", "--interval=200", "--start"});
  ASSERT_FALSE(HasFatalFailure());
  const std::size_t mark = probe_->events().size();
  ASSERT_TRUE(probe_->WaitForKeys(2, 4s + 400ms + 3s, kA, mark)) << app_->Stderr();
  const auto keys = probe_->Transitions(kA, mark);
  ASSERT_TRUE(keys[0].press && !keys[1].press);
  std::printf("[ timing   ] hold %lld ms (400)\n",
              static_cast<long long>(ServerSpan(keys[0].server_ms, keys[1].server_ms)));

  ASSERT_TRUE(app_->WaitForTrace("caption", "Start", 2s));
  probe_->Collect(300ms);
  EXPECT_EQ(probe_->Transitions(kA, mark).size(), 2u);
  EXPECT_EQ(probe_->Transitions(kSpaceKeysym).size(), 2u) << "a space after the start-up one";
  const std::vector<std::string> expected = {"key-down 32",           "key-up 32",  // at start-up
                                             "caption Starting in 3", "caption Starting in 2",
                                             "caption Starting in 1", "caption Starting in 0",
                                             "key-down 65",           "key-up 65",
                                             "caption Start"};
  EXPECT_EQ(TracedSteps(), expected);
  ExpectNoKeyDown("after the cycle");
}

// With the focus left on the program, its own space presses "Start": the
// release begins the next countdown.
TEST_F(HoldCycle, OwnKeystrokeRestartsTheCountdownWhileFocused) {
  Launch();
  ASSERT_FALSE(HasFatalFailure());
  EnterInterval("200", 200);
  ASSERT_FALSE(HasFatalFailure());
  ClickStart();

  ASSERT_TRUE(app_->WaitForTrace("caption", "Starting in 3", 4s + 400ms + 1s + 5s, 2))
      << "no second countdown; stderr:\n"
      << app_->Stderr();
  const std::vector<std::string> steps = TracedSteps();
  const auto first_start = std::find(steps.begin(), steps.end(), "caption Start");
  ASSERT_NE(first_start, steps.end());
  EXPECT_EQ(std::count(steps.begin(), first_start, "key-up 32"), 2) << "the first hold ended first";
  EXPECT_EQ(std::next(first_start) != steps.end() ? *std::next(first_start) : "",
            "caption Starting in 3");

  CloseAndExpectCleanExit();
}

}  // namespace
}  // namespace tollmere::e2e
