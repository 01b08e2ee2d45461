// --hotkey: a global key that starts the countdown and stops a hold, grabbed
// so that the focused window never sees it.
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "e2e_fixture.h"
#include "harness/child_process.h"
#include "harness/session_bus.h"

namespace tollmere::e2e {
namespace {

pid_t Run(std::vector<std::string> argv, std::vector<EnvChange> env = {}, int stderr_fd = -1) {
  SpawnOptions options;
  options.argv = std::move(argv);
  options.env = std::move(env);
  options.stderr_fd = stderr_fd;
  return Spawn(options);
}

// A private session bus with a stand-in for the desktop's shortcuts portal,
// which binds only `trigger`.
class PortalBus {
 public:
  // The fake portal connects once the bus listens, and owns the portal's
  // name before any test starts: a call that came first would have the bus
  // start the real portal, which has no GlobalShortcuts.
  explicit PortalBus(const std::string& trigger) : address_(bus_.address()) {
    portal_ = Run({FAKE_PORTAL, trigger}, {{"DBUS_SESSION_BUS_ADDRESS", address_}}, STDERR_FILENO);
    for (int i = 0;
         !Call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.GetNameOwner",
               "string:org.freedesktop.portal.Desktop");
         ++i) {
      if (i == 250 || WaitForPid(portal_, 0ms)) {
        kill(portal_, SIGTERM);
        WaitForPid(portal_, 5s);
        throw std::runtime_error("the fake portal did not take its name on the bus");
      }
      std::this_thread::sleep_for(20ms);
    }
  }
  ~PortalBus() {
    kill(portal_, SIGTERM);
    WaitForPid(portal_, 5s);
  }

  const std::string& address() const { return address_; }

  // The portal says the shortcut was pressed.
  bool Activate() {
    return Call("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                "org.tollmere.Test.Activate");
  }

 private:
  bool Call(const std::string& to, const std::string& path, const std::string& method,
            const std::string& argument = "") {
    std::vector<std::string> argv = {
        "dbus-send", "--bus=" + address_, "--print-reply", "--dest=" + to, path, method};
    if (!argument.empty()) argv.push_back(argument);
    const auto status = WaitForPid(Run(argv), 5s);
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
  }

  SessionBusDaemon bus_;
  std::string address_;
  pid_t portal_ = -1;
};

constexpr unsigned long kF8 = 0xffc5;       // XK_F8
constexpr unsigned long kNumLock = 0xff7f;  // XK_Num_Lock

class Hotkey : public TollmereOnXvfb {
 protected:
  // Types an interval long enough that the hold lasts until it is
  // stopped, and gives the focus back to the probe.
  void EnterLongInterval() {
    EnterInterval("60000", 60000);
    probe_->TakeFocus();
  }

  // The hold lasts until it is stopped (EnterLongInterval). Taps F8 to
  // start, then presses it again once the space is down and holds it past
  // the server's autorepeat delay: the space's release must reach the probe
  // though F8 is still down, and the repeats must not toggle again. `nth`
  // counts the hotkey's cycles in this run.
  void ExpectCycle(int nth) {
    const std::size_t mark = probe_->events().size();
    driver_->PressKey(kF8);
    driver_->ReleaseKey(kF8);
    ASSERT_TRUE(probe_->WaitForKeys(1, 4s + 5s, kSpaceKeysym, mark))
        << "the hotkey did not start a hold; stderr:\n"
        << app_->Stderr();
    driver_->PressKey(kF8);
    const bool handled = app_->WaitForTrace("hotkey", std::nullopt, 5s, 2 * nth).has_value();
    probe_->Collect(1s);
    driver_->ReleaseKey(kF8);
    ASSERT_TRUE(handled) << "the second press was not taken; stderr:\n" << app_->Stderr();
    ASSERT_TRUE(probe_->WaitForKeys(2, 2s, kSpaceKeysym, mark))
        << "the hotkey did not end the hold; stderr:\n"
        << app_->Stderr();
    ASSERT_TRUE(app_->WaitForTrace("caption", "Start", 2s, nth));

    probe_->Collect(300ms);
    const auto traced = app_->Trace();
    EXPECT_EQ(std::count_if(traced.begin(), traced.end(),
                            [](const TraceEvent& e) { return e.event == "hotkey"; }),
              2 * nth)
        << "a held hotkey toggled more than once";
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
  EnterLongInterval();
  ExpectCycle(1);
  ASSERT_FALSE(HasFatalFailure());

  driver_->PressKey(kNumLock);
  driver_->ReleaseKey(kNumLock);
  ASSERT_TRUE(driver_->LockOn(kNumLock));
  ExpectCycle(2);
  ASSERT_FALSE(HasFatalFailure());
  CloseAndExpectCleanExit();
}

// Press to hold, press again to let go: with no countdown the key goes down
// at the first press and stays down until the second, with no interval and
// with one. A held Shift makes the second press Shift+F8, which must work too.
TEST_F(Hotkey, LatchesAnotherKeyUntilPressedAgain) {
  constexpr unsigned long kJ = 0x6a, kShiftL = 0xffe1;  // XK_j, XK_Shift_L
  for (const auto& [key, sym] : {std::pair{"J", kJ}, std::pair{"LeftShift", kShiftL}}) {
    SCOPED_TRACE(key);
    const std::size_t launched = probe_->events().size();
    Launch({"--trace", "--hotkey=F8", std::string("--key=") + key, "--hold=until-stopped",
            "--countdown=0"});
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(probe_->WaitForKeys(2, 5s, kSpaceKeysym, launched)) << "no start-up keystroke";
    ASSERT_TRUE(app_->WaitForTrace("hotkey-grabbed", "F8", 2s)) << app_->Stderr();
    for (const bool with_interval : {false, true}) {
      if (with_interval && sym == kShiftL) break;
      SCOPED_TRACE(with_interval ? "interval 200" : "no interval");
      if (with_interval) EnterInterval("200", 200);
      ASSERT_FALSE(HasFatalFailure());
      probe_->TakeFocus();
      const std::size_t mark = probe_->events().size();
      driver_->PressKey(kF8);
      driver_->ReleaseKey(kF8);
      ASSERT_TRUE(probe_->WaitForKeys(1, 2s, sym, mark)) << "no key-down; stderr:\n"
                                                         << app_->Stderr();
      probe_->Collect(1s);
      EXPECT_TRUE(probe_->KeyDown(sym)) << "the key did not stay down";
      EXPECT_EQ(probe_->Transitions(sym, mark).size(), 1u);

      driver_->PressKey(kF8);
      driver_->ReleaseKey(kF8);
      ASSERT_TRUE(probe_->WaitForKeys(2, 2s, sym, mark)) << "the key was left down; stderr:\n"
                                                         << app_->Stderr();
      probe_->Collect(300ms);
      const auto keys = probe_->Transitions(sym, mark);
      ASSERT_EQ(keys.size(), 2u);
      EXPECT_TRUE(keys[0].press && !keys[1].press);
      EXPECT_TRUE(probe_->Transitions(kSpaceKeysym, mark).empty()) << "the space bar was pressed";
      ExpectNoKeyDown("after the latch");
    }
    // Also while the window's own menu has the keyboard.
    driver_->Focus(window_);
    driver_->Chord(kShiftL, 0xffc7);  // Shift+F10 opens it
    std::this_thread::sleep_for(500ms);
    const int latches = sym == kShiftL ? 1 : 2;
    const std::string vk = std::to_string(sym == kShiftL ? 0xA0 : 'J');
    for (const char* step : {"key-down", "key-up"}) {
      driver_->PressKey(kF8);
      driver_->ReleaseKey(kF8);
      EXPECT_TRUE(app_->WaitForTrace(step, vk, 2s, latches + 1))
          << step << " with the menu open; stderr:\n"
          << app_->Stderr();
    }
    driver_->PressKey(0xff1b);  // Escape closes the menu
    driver_->ReleaseKey(0xff1b);
    probe_->TakeFocus();
    CloseAndExpectCleanExit();
  }
}

// A Wayland session (the window on Xwayland here): the shortcut goes
// through the desktop's portal in its own format, and its presses toggle.
TEST_F(Hotkey, OnWaylandIsBoundThroughTheDesktopPortal) {
  PortalBus bus("CTRL+ALT+h");
  Launch({"--trace", "--hotkey=ctrl+alt+H", "--backend=xtest"},
         {{"WAYLAND_DISPLAY", "wayland-tollmere-none"},
          {"QT_QPA_PLATFORM", "xcb"},
          {"DBUS_SESSION_BUS_ADDRESS", bus.address()}});
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(app_->WaitForTrace("portal-bound", std::nullopt, 15s)) << app_->Stderr();
  EnterLongInterval();

  const std::size_t mark = probe_->events().size();
  ASSERT_TRUE(bus.Activate());
  ASSERT_TRUE(probe_->WaitForKeys(1, 4s + 5s, kSpaceKeysym, mark)) << app_->Stderr();
  ASSERT_TRUE(bus.Activate());
  ASSERT_TRUE(probe_->WaitForKeys(2, 2s, kSpaceKeysym, mark)) << app_->Stderr();
  ExpectNoKeyDown("after the portal's hold");
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
