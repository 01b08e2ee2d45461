// A fatal error while the space bar is held: the key must be up before the
// error dialog shows, the error must be named on stderr, and the program must
// end with status 1 once the dialog is dismissed. The slow case of the
// end-to-end tests (about 40 s): the counter has to run over.
#include <X11/keysym.h>

#include <algorithm>
#include <cstdio>

#include "e2e_fixture.h"

namespace tollmere::e2e {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kOverflowLine = "tollmere: Error 6: Overflow";

bool HasLine(const AppProcess& app, const std::string& wanted) {
  const auto lines = app.StderrLines();
  return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

using FatalError = TollmereOnXvfb;

// A click during a hold restarts the countdown while the hold timer keeps
// counting the same 16-bit counter up; at 1 ms a tick it passes 32767 in
// about 33 s. The hold must be long enough to click into, so it starts at
// 5000 ms and the interval drops to 1 ms only after the click: a 1 ms
// interval from the start would be over (2 ms) long before any click.
TEST_F(FatalError, OverflowDuringHoldReleasesTheKeyThenExitsWithStatusOne) {
  std::size_t mark = 0;
  StartCycle("5000", 5000, mark);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(probe_->WaitForKeys(1, 4s + 3s, kSpaceKeysym, mark)) << "the hold never began";

  probe_->Collect(100ms);
  // The focus stays on the probe; the mouse reaches the button regardless.
  driver_->Click(window_, StartButtonCentre());
  ASSERT_TRUE(app_->WaitForTrace("caption", "Starting in 3", 3s, 2))
      << "the click during the hold did not restart the countdown; stderr:\n"
      << app_->Stderr();
  ASSERT_TRUE(probe_->KeyDown(kSpaceKeysym)) << "the hold ended before the interval could change";

  // The click left the keyboard focus inside the window on Start: put it
  // back in the box. Autorepeated spaces may land there too; blanks are
  // skipped, so the box still reads 1.
  driver_->Click(window_, IntervalBoxCentre());
  driver_->Focus(window_);
  driver_->Chord(XK_Control_L, XK_a);
  driver_->Type("1");
  ASSERT_TRUE(app_->WaitForTrace("interval", "1", 5s)) << "stderr:\n" << app_->Stderr();
  probe_->TakeFocus();
  const auto fast_from = Clock::now();

  // The counter gains ~999 a second; allow a loaded machine half that.
  const auto deadline = fast_from + 100s;
  while (!HasLine(*app_, kOverflowLine) && app_->Running() && Clock::now() < deadline) {
    probe_->Collect(200ms);
  }
  ASSERT_TRUE(HasLine(*app_, kOverflowLine))
      << "no overflow after " << std::chrono::duration<double>(Clock::now() - fast_from).count()
      << " s; the program " << (app_->Running() ? "is still running" : "ended") << "; stderr:\n"
      << app_->Stderr();
  std::printf("[ timing   ] overflow %.1f s after the interval became 1 ms\n",
              std::chrono::duration<double>(Clock::now() - fast_from).count());

  const unsigned long dialog = driver_->WaitForWindow("Tollmere", 10s, window_);
  ASSERT_NE(dialog, 0u) << "no error dialog; stderr:\n" << app_->Stderr();
  EXPECT_FALSE(probe_->KeyDown(kSpaceKeysym)) << "space still down while the error dialog shows";
  ExpectNoKeyDown("while the error dialog shows");
  ASSERT_TRUE(app_->Running()) << "ended before the dialog was dismissed";
  // The release reached the focused window as a proper key-up.
  ASSERT_TRUE(probe_->WaitForKeys(2, 2s, kSpaceKeysym, mark));
  const auto keys = probe_->Transitions(kSpaceKeysym, mark);
  EXPECT_TRUE(keys[0].press && !keys[1].press);

  // Dismissed the way a user would: Return on its default button.
  driver_->Focus(dialog);
  driver_->PressKey(XK_Return);
  driver_->ReleaseKey(XK_Return);
  const ExitStatus status = app_->WaitForExit(10s);
  EXPECT_TRUE(status.Exited() && status.Code() == 1) << status.Describe() << "; stderr:\n"
                                                     << app_->Stderr();
  const auto lines = app_->StderrLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), kOverflowLine), 1) << app_->Stderr();
  probe_->Collect(300ms);
  EXPECT_EQ(probe_->Transitions(kSpaceKeysym, mark).size(), 2u)
      << "a key reached the probe after the error";
  ExpectNoKeyDown("after the program ended");
}

}  // namespace
}  // namespace tollmere::e2e
