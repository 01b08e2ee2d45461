// The real program on a headless GNOME with the portal back end: its window
// on Qt's Wayland platform, its keys through the RemoteDesktop portal once
// the dialog is answered, read by a probe window with its own clock.
#include <linux/input-event-codes.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <thread>

#include "gnome_fixture.h"

namespace tollmere::e2e {
namespace {

class TollmereWithPortal : public TollmereOnGnome {
 protected:
  // Starts the program on the portal back end, answers its dialog, waits
  // for the window, then gives the focus to a fresh probe: mutter focuses
  // the newest window, and the program's keys go wherever the focus is.
  void LaunchAllowed() {
    Launch({"--backend=portal"});
    Allow();
    FocusNewProbe();
  }

  // Keys sent before the dialog has the focus go elsewhere, and a lost Tab
  // turns the next key against "Remember this selection". The dialog has it
  // once neither the probe nor the program's window has, for a while (one
  // leaves the other's focus before it says it has it).
  void Allow() {
    ASSERT_TRUE(Settles([this] { return !probe_->HasFocus() && !WindowActive(); }, 6))
        << "no dialog took the focus:\n"
        << gnome_->Log() << app_->Stderr();
    ASSERT_TRUE(gnome_->ApproveRemoteDesktopDialog(true)) << gnome_->Log() << app_->Stderr();
  }

  // Whether the program's window has the keyboard, by its last word on it.
  bool WindowActive() const {
    const auto trace = app_->Trace();
    const auto last = std::find_if(trace.rbegin(), trace.rend(), [](const TraceEvent& e) {
      return e.event == "active" || e.event == "inactive";
    });
    return last != trace.rend() && last->event == "active";
  }

  // Whether `done` holds for `rounds` probe pumps of 50 ms in a row, within 10 s.
  bool Settles(const std::function<bool()>& done, int rounds = 1) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    int held = 0;
    while (held < rounds && std::chrono::steady_clock::now() < deadline) {
      probe_->Pump(50ms);
      held = done() ? held + 1 : 0;
    }
    return held >= rounds;
  }

  void FocusNewProbe() {
    ASSERT_TRUE(app_->WaitForTrace("first-paint", std::nullopt, 10s)) << app_->Stderr();
    probe_ = std::make_unique<WaylandProbe>(gnome_->socket_path());
    ASSERT_TRUE(probe_->WaitForFocus(5s)) << "mutter did not focus the new probe";
  }

  // Once its notices leave, the window gives back the room they took, for
  // good, though mutter hands it the focus back from the dialog just then.
  void ExpectNoticeRoomGivenBack() {
    ASSERT_TRUE(app_->WaitForTrace("notice-gone", "keys", 10s)) << app_->Stderr();
    std::this_thread::sleep_for(800ms);
    std::vector<int> heights;
    for (const TraceEvent& e : app_->Trace()) {
      if (e.event == "size") heights.push_back(std::stoi(e.arg.substr(e.arg.find('x') + 1)));
    }
    ASSERT_FALSE(heights.empty()) << app_->Stderr();
    EXPECT_EQ(heights.back(), *std::min_element(heights.begin(), heights.end()))
        << "grew back after the shrink:\n"
        << app_->Stderr();
  }

  // Starts a cycle of the running program with `interval`, from a second
  // tollmere on the same session bus, as a launcher or a shortcut would.
  void StartCycle(const std::string& interval) {
    auto remote = Run(TOLLMERE_BINARY, {"--interval=" + interval, "--start"});
    const ExitStatus status = remote->WaitForExit(5s);
    ASSERT_TRUE(status.Exited() && status.Code() == 0) << status.Describe() << remote->Stderr();
    ASSERT_TRUE(app_->WaitForTrace("caption", "Starting in 3", 3s)) << app_->Stderr();
  }
};

TEST_F(TollmereWithPortal, AllowedHoldOfTwoIntervalsIsOnePressAndOneRelease) {
  LaunchAllowed();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_TRUE(app_->WaitForTrace("backend", "RemoteDesktop portal", 1s)) << app_->Stderr();
  // The load keystroke comes before the answer: the user is told to allow
  // it, and nothing else is said once allowed.
  const auto asked = app_->WaitForTrace("notice", std::nullopt, 0ms);
  ASSERT_TRUE(asked) << app_->Stderr();
  EXPECT_NE(asked->arg.find("allow it"), std::string::npos) << asked->arg;
  EXPECT_FALSE(app_->WaitForTrace("notice", std::nullopt, 0ms, 2)) << app_->Stderr();
  ExpectNoticeRoomGivenBack();
  ASSERT_FALSE(HasFatalFailure());

  StartCycle("500");
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(probe_->WaitForKeys(2, 4s + 1s + 3s)) << "no full keystroke at the probe; stderr:\n"
                                                    << app_->Stderr();
  ASSERT_TRUE(app_->WaitForTrace("caption", "Start", 3s)) << app_->Stderr();
  probe_->Pump(300ms);
  const auto keys = probe_->Transitions(KEY_SPACE);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_TRUE(keys[0].press);
  EXPECT_FALSE(keys[1].press);
  EXPECT_FALSE(probe_->KeyDownNow(KEY_SPACE));

  // A portal that remembers a permission lets the restarted program type
  // with the token it kept, and shows no dialog.
  if (gnome_->RemoteDesktopVersion() < 2) return;
  app_->Signal(SIGTERM);
  ASSERT_EQ(app_->WaitForExit(5s).Signal(), SIGTERM) << app_->Stderr();
  Launch({"--backend=portal"});
  // Mapped, it takes the focus: only then can a new probe keep it.
  ASSERT_TRUE(probe_->WaitForFocus(10s, false)) << "no window took the focus";
  ASSERT_TRUE(app_->WaitForTrace("notice-gone", "keys", 10s)) << "asked again:\n"
                                                              << app_->Stderr() << gnome_->Log();
  FocusNewProbe();
  StartCycle("300");
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(probe_->WaitForKeys(2, 4s + 1s + 3s)) << app_->Stderr();
  EXPECT_FALSE(probe_->KeyDownNow(KEY_SPACE));
}

TEST_F(TollmereWithPortal, RefusalIsANoticeAndTheWindowStays) {
  Launch({"--backend=portal"});
  ASSERT_TRUE(gnome_->RefuseRemoteDesktopDialog()) << gnome_->Log() << app_->Stderr();
  // After the one asking for permission.
  const auto refused = app_->WaitForTrace("notice", std::nullopt, 5s, 2);
  ASSERT_TRUE(refused) << app_->Stderr();
  EXPECT_NE(refused->arg.find("refused"), std::string::npos) << refused->arg;
  EXPECT_TRUE(app_->Running()) << app_->Stderr();

  // The next start, from a window that has the focus again, asks again;
  // allowed, both notices leave.
  ASSERT_TRUE(Settles([this] { return WindowActive(); })) << app_->Stderr();
  StartCycle("300");
  ASSERT_FALSE(HasFatalFailure());
  Allow();
  ASSERT_FALSE(HasFatalFailure());
  ExpectNoticeRoomGivenBack();
  app_->Signal(SIGTERM);
  EXPECT_EQ(app_->WaitForExit(5s).Signal(), SIGTERM) << app_->Stderr();
}

// Each way out during a hold puts the key up. The desktop would release it
// anyway once the program's session ends with it (the harness's own test
// shows that), so the bus tells who did: the program's own release call.
enum class WayOut { kCloseWindow, kSigterm };

class WayOutDuringHold : public TollmereWithPortal, public ::testing::WithParamInterface<WayOut> {};

TEST_P(WayOutDuringHold, ReleasesTheKey) {
  LaunchAllowed();
  ASSERT_FALSE(HasFatalFailure());
  const PortalKeyCalls calls(*gnome_);
  StartCycle("3000");  // a six-second hold
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(probe_->WaitForKeys(1, 4s + 2s)) << app_->Stderr();
  ASSERT_TRUE(probe_->KeyDownNow(KEY_SPACE));

  if (GetParam() == WayOut::kCloseWindow) {
    // Without the probe the program's window is the only one, and focused;
    // Alt+F4 is mutter's own shortcut for closing it. Sent once the window
    // says it has the focus, and again if the first was lost on the way, as
    // a user would press it again.
    const auto trace = app_->Trace();
    const int active = static_cast<int>(std::count_if(
        trace.begin(), trace.end(), [](const TraceEvent& e) { return e.event == "active"; }));
    probe_.reset();
    ASSERT_TRUE(app_->WaitForTrace("active", std::nullopt, 5s, active + 1)) << app_->Stderr();
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(gnome_->PressKeys({"Alt_L+F4"})) << gnome_->Log();
    for (int i = 0; i < 30 && app_->Running(); ++i) std::this_thread::sleep_for(100ms);
    if (app_->Running()) {
      ASSERT_TRUE(gnome_->PressKeys({"Alt_L+F4"})) << gnome_->Log();
    }
    const ExitStatus status = app_->WaitForExit(5s);
    EXPECT_TRUE(status.Exited() && status.Code() == 0) << status.Describe() << "\n"
                                                       << app_->Stderr();
  } else {
    app_->Signal(SIGTERM);
    const ExitStatus status = app_->WaitForExit(5s);
    EXPECT_EQ(status.Signal(), SIGTERM) << status.Describe() << "\n" << app_->Stderr();
    ASSERT_TRUE(probe_->WaitForKeys(2, 2s)) << "the key was left down";
    EXPECT_FALSE(probe_->Transitions(KEY_SPACE)[1].press);
    EXPECT_FALSE(probe_->KeyDownNow(KEY_SPACE)) << probe_->KeysDownText();
  }
  const auto sent = calls.Calls();
  ASSERT_EQ(sent.size(), 2u) << "the program's own press and release";
  EXPECT_TRUE(sent[0].keycode == KEY_SPACE && sent[0].press);
  EXPECT_TRUE(sent[1].keycode == KEY_SPACE && !sent[1].press);
}

INSTANTIATE_TEST_SUITE_P(Gnome, WayOutDuringHold,
                         ::testing::Values(WayOut::kCloseWindow, WayOut::kSigterm),
                         [](const auto& info) {
                           return info.param == WayOut::kCloseWindow ? "CloseWindow" : "Sigterm";
                         });

}  // namespace
}  // namespace tollmere::e2e
