// --hotkey: a global key that starts the countdown and stops a hold, grabbed
// so that the focused window never sees it.
#include "e2e_fixture.h"

namespace tollmere::e2e {
namespace {

constexpr unsigned long kF8 = 0xffc5;       // XK_F8
constexpr unsigned long kNumLock = 0xff7f;  // XK_Num_Lock

class Hotkey : public TollmereOnXvfb {
 protected:
  // With the box empty the hold lasts until it is stopped. Taps F8 to
  // start, then presses it again once the space is down and lets go when
  // the program is done: the space's release must reach the probe though
  // F8 is still down. `nth` counts the hotkey's cycles in this run.
  void ExpectCycle(int nth) {
    const std::size_t mark = probe_->events().size();
    driver_->PressKey(kF8);
    driver_->ReleaseKey(kF8);
    ASSERT_TRUE(probe_->WaitForKeys(1, 4s + 5s, kSpaceKeysym, mark))
        << "the hotkey did not start a hold; stderr:\n"
        << app_->Stderr();
    driver_->PressKey(kF8);
    const bool handled = app_->WaitForTrace("hotkey", std::nullopt, 5s, 2 * nth).has_value();
    driver_->ReleaseKey(kF8);
    ASSERT_TRUE(handled) << "the second press was not taken; stderr:\n" << app_->Stderr();
    ASSERT_TRUE(probe_->WaitForKeys(2, 2s, kSpaceKeysym, mark))
        << "the hotkey did not end the hold; stderr:\n"
        << app_->Stderr();
    ASSERT_TRUE(app_->WaitForTrace("caption", "Start", 2s, nth));

    probe_->Collect(300ms);
    const auto keys = probe_->Transitions(kSpaceKeysym, mark);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_TRUE(keys[0].press && !keys[1].press);
    EXPECT_TRUE(probe_->Transitions(kF8).empty()) << "F8 reached the focused window";
    ExpectNoKeyDown("after the hotkey's hold");
  }
};

// Also with NumLock on, which the server counts as a modifier.
TEST_F(Hotkey, StartsAndStopsAHoldUnseenByTheFocusedWindowWithNumLockOffAndOn) {
  Launch({"--trace", "--hotkey=F8"});
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(app_->WaitForTrace("hotkey-grabbed", "F8", 2s)) << app_->Stderr();
  ExpectCycle(1);
  ASSERT_FALSE(HasFatalFailure());

  driver_->PressKey(kNumLock);
  driver_->ReleaseKey(kNumLock);
  ASSERT_TRUE(driver_->LockOn(kNumLock));
  ExpectCycle(2);
  ASSERT_FALSE(HasFatalFailure());
  CloseAndExpectCleanExit();
}

// Another program holds the key: the user is told, and the window works.
TEST_F(Hotkey, AKeyTakenByAnotherProgramIsReportedAndTheButtonStillWorks) {
  driver_->GrabKey(kF8);
  Launch({"--trace", "--hotkey=F8"});
  ASSERT_FALSE(HasFatalFailure());
  const auto notice = app_->WaitForTrace("notice", std::nullopt, 2s);
  ASSERT_TRUE(notice) << app_->Stderr();
  EXPECT_NE(notice->arg.find("another program already uses it"), std::string::npos) << notice->arg;

  EnterInterval("100", 100);
  ASSERT_FALSE(HasFatalFailure());
  ClickStart();
  probe_->TakeFocus();
  const std::size_t mark = probe_->events().size();
  EXPECT_TRUE(probe_->WaitForKeys(2, 4s + 3s, kSpaceKeysym, mark)) << app_->Stderr();
  CloseAndExpectCleanExit();
}

}  // namespace
}  // namespace tollmere::e2e
