// The real program on a headless sway: its window on Qt's Wayland platform,
// its keystrokes through the compositor's virtual keyboard, read by a probe
// window with its own clock.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <csignal>
#include <cstdio>
#include <memory>

#include "harness/app_process.h"
#include "harness/wayland/headless_sway.h"
#include "harness/wayland/wayland_probe.h"

namespace tollmere::e2e {
namespace {

using namespace std::chrono_literals;

// Loose: the clocks are the same, but sway, Qt and the probe all stand
// between the program's timer and the probe's reading.
constexpr double kToleranceMs = 60;

class TollmereOnSway : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = HeadlessSway::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    sway_ = std::make_unique<HeadlessSway>();
    probe_ = std::make_unique<WaylandProbe>(*sway_);
    ASSERT_TRUE(probe_->WaitForFocus(5s)) << "the probe never got the focus";
  }

  // Starts the program and waits for its load-time keystroke at the probe
  // and for its window to take the focus.
  void Launch(std::vector<std::string> args = {"--trace"}) {
    app_ =
        std::make_unique<AppProcess>(TOLLMERE_BINARY, sway_->ClientEnvironment(), std::move(args));
    ASSERT_TRUE(probe_->WaitForKeys(2, 10s)) << "no keystroke at start-up; stderr:\n"
                                             << app_->Stderr();
    ASSERT_TRUE(app_->WaitForTrace("first-paint", std::nullopt, 10s)) << app_->Stderr();
    for (int i = 0; i < 50 && probe_->HasFocus(); ++i) probe_->Pump(100ms);
    ASSERT_FALSE(probe_->HasFocus()) << "sway did not focus the program's window";
  }

  // Types the interval into the focused box, tabs to "Start" and presses it
  // with the space bar, then gives the focus back to the probe. Returns the
  // click's time: the moment sway had taken the release.
  double StartCycle(const std::string& interval) {
    probe_->TypeText(interval);
    EXPECT_TRUE(app_->WaitForTrace("interval", interval, 3s)) << app_->Stderr();
    probe_->Type(KEY_TAB, true);
    probe_->Type(KEY_TAB, false);
    probe_->Type(KEY_SPACE, true);
    probe_->Type(KEY_SPACE, false);
    const double click = MonotonicMs();
    EXPECT_TRUE(app_->WaitForTrace("caption", "Starting in 3", 3s)) << app_->Stderr();
    probe_->FocusSelf(*sway_);
    mark_ = probe_->events().size();
    return click;
  }

  std::unique_ptr<HeadlessSway> sway_;
  std::unique_ptr<WaylandProbe> probe_;
  std::unique_ptr<AppProcess> app_;
  std::size_t mark_ = 0;
};

TEST_F(TollmereOnSway, LoadKeystrokeThenATimedCycleThroughTheVirtualKeyboard) {
  Launch();
  ASSERT_FALSE(HasFatalFailure());
  const auto load = probe_->Transitions(KEY_SPACE);
  ASSERT_EQ(load.size(), 2u);
  EXPECT_TRUE(load[0].press && !load[1].press);
  EXPECT_TRUE(app_->WaitForTrace("backend", "Wayland virtual keyboard", 1s)) << app_->Stderr();
  EXPECT_FALSE(app_->WaitForTrace("notice", std::nullopt, 0ms)) << "no notice where all is well";

  const double click = StartCycle("500");
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(probe_->WaitForKeys(2, 4s + 1s + 3s, KEY_SPACE, mark_))
      << "no full keystroke at the probe; stderr:\n"
      << app_->Stderr();
  const auto keys = probe_->Transitions(KEY_SPACE, mark_);
  ASSERT_TRUE(keys[0].press && !keys[1].press);
  const double countdown = keys[0].ms - click;
  const double held = keys[1].ms - keys[0].ms;
  std::printf("[ timing   ] countdown %.1f ms (4000), hold %.1f ms (1000)\n", countdown, held);
  EXPECT_NEAR(countdown, 4000, kToleranceMs);
  EXPECT_NEAR(held, 1000, kToleranceMs);

  ASSERT_TRUE(app_->WaitForTrace("caption", "Start", 2s));
  probe_->Pump(300ms);
  EXPECT_EQ(probe_->Transitions(KEY_SPACE, mark_).size(), 2u) << "sway repeats nothing on the wire";
  EXPECT_FALSE(probe_->KeyDownNow(KEY_SPACE));

  app_->Signal(SIGTERM);
  const ExitStatus status = app_->WaitForExit(5s);
  EXPECT_EQ(status.Signal(), SIGTERM) << status.Describe();
}

// Another key from the command line, through the virtual keyboard: it alone
// is held.
TEST_F(TollmereOnSway, AnotherKeyFromTheCommandLineIsHeldInsteadOfTheSpaceBar) {
  Launch({"--trace", "--key=A", "--interval=200", "--start"});
  ASSERT_FALSE(HasFatalFailure());
  probe_->FocusSelf(*sway_);  // within the countdown
  mark_ = probe_->events().size();
  ASSERT_TRUE(probe_->WaitForKeys(2, 4s + 3s, KEY_A, mark_)) << app_->Stderr();
  const auto keys = probe_->Transitions(KEY_A, mark_);
  ASSERT_TRUE(keys[0].press && !keys[1].press);
  std::printf("[ timing   ] hold %.1f ms (400)\n", keys[1].ms - keys[0].ms);
  ASSERT_TRUE(app_->WaitForTrace("caption", "Start", 2s));
  probe_->Pump(300ms);
  EXPECT_EQ(probe_->Transitions(KEY_A, mark_).size(), 2u);
  EXPECT_EQ(probe_->Transitions(KEY_SPACE).size(), 2u) << "a space after the start-up one";
  EXPECT_FALSE(probe_->KeyDownNow(KEY_A));
}

// Each way out during a hold puts the key up at once.
enum class WayOut { kCloseWindow, kSigterm };

class WayOutDuringHold : public TollmereOnSway, public ::testing::WithParamInterface<WayOut> {};

TEST_P(WayOutDuringHold, ReleasesTheKey) {
  Launch();
  ASSERT_FALSE(HasFatalFailure());
  StartCycle("3000");  // a six-second hold
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(probe_->WaitForKeys(1, 4s + 2s, KEY_SPACE, mark_)) << app_->Stderr();
  probe_->Pump(500ms);
  ASSERT_TRUE(probe_->KeyDownNow(KEY_SPACE));

  const double ended = MonotonicMs();
  if (GetParam() == WayOut::kCloseWindow) {
    // The app_id is the launcher's name, so the desktop ties the two.
    const SwayReply reply = sway_->Msg("[app_id=\"^org\\.tollmere\\.Tollmere$\"] kill");
    ASSERT_TRUE(reply.ok) << reply.output;
    const ExitStatus status = app_->WaitForExit(5s);
    EXPECT_TRUE(status.Exited() && status.Code() == 0) << status.Describe() << "\n"
                                                       << app_->Stderr();
  } else {
    app_->Signal(SIGTERM);
    const ExitStatus status = app_->WaitForExit(5s);
    EXPECT_EQ(status.Signal(), SIGTERM) << status.Describe() << "\n" << app_->Stderr();
  }

  ASSERT_TRUE(probe_->WaitForKeys(2, 2s, KEY_SPACE, mark_)) << "the key was left down";
  const auto keys = probe_->Transitions(KEY_SPACE, mark_);
  EXPECT_FALSE(keys[1].press);
  EXPECT_LT(keys[1].ms - ended, 1000);
  EXPECT_FALSE(probe_->KeyDownNow(KEY_SPACE)) << probe_->KeysDownText();
}

INSTANTIATE_TEST_SUITE_P(Wayland, WayOutDuringHold,
                         ::testing::Values(WayOut::kCloseWindow, WayOut::kSigterm),
                         [](const auto& info) {
                           return info.param == WayOut::kCloseWindow ? "CloseWindow" : "Sigterm";
                         });

}  // namespace
}  // namespace tollmere::e2e
