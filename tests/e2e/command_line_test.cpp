// The command options from a second process, over a private session bus:
// they reach the running Tollmere and act at once, or start one that acts.
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <thread>

#include "e2e_fixture.h"
#include "harness/session_bus.h"

namespace tollmere::e2e {
namespace {

constexpr int kLongInterval = 5000;

class CommandLine : public TollmereOnXvfb {
 protected:
  void SetUp() override {
    TollmereOnXvfb::SetUp();
    bus_ = std::make_unique<SessionBusDaemon>();
  }
  // The program leaves the bus before the bus goes.
  void TearDown() override { app_.reset(); }

  std::vector<EnvChange> AppEnvironment() const override {
    std::vector<EnvChange> env = TollmereOnXvfb::AppEnvironment();
    for (auto& [name, value] : env) {
      if (name == "DBUS_SESSION_BUS_ADDRESS") value = bus_->address();
    }
    return env;
  }

  // Runs `tollmere OPTIONS` to its end; its exit status and stderr.
  std::pair<ExitStatus, std::string> Run(std::vector<std::string> options) {
    AppProcess helper(TOLLMERE_BINARY, AppEnvironment(), std::move(options));
    const ExitStatus status = helper.WaitForExit(10s);
    return {status, helper.Stderr()};
  }

  // `method` and its arguments sent with dbus-send to the object of the
  // Tollmere that owns the name; whether it answered without an error.
  bool Send(std::vector<std::string> method) {
    SpawnOptions send;
    send.argv = {"dbus-send", "--bus=" + bus_->address(), "--print-reply",
                 "--dest=org.tollmere.Tollmere", "/org/tollmere/Tollmere"};
    send.argv.insert(send.argv.end(), method.begin(), method.end());
    const auto status = WaitForPid(Spawn(send), 5s);
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
  }

  static bool ExitedWith(const ExitStatus& status, int code) {
    return status.Exited() && status.Code() == code;
  }

  std::unique_ptr<SessionBusDaemon> bus_;
};

TEST_F(CommandLine, StopDuringAHoldReleasesTheKeyAtOnce) {
  std::size_t mark = 0;
  StartCycle(std::to_string(kLongInterval), kLongInterval, mark);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(probe_->WaitForKeys(1, 4s + 3s, kSpaceKeysym, mark)) << "the hold never began";

  const auto [status, err] = Run({"--stop"});
  EXPECT_TRUE(ExitedWith(status, 0)) << status.Describe() << "\n" << err;
  ASSERT_TRUE(probe_->WaitForKeys(2, 2s, kSpaceKeysym, mark)) << "no release; stderr:\n"
                                                              << app_->Stderr();
  ASSERT_TRUE(app_->WaitForTrace("caption", "Start", 2s));
  probe_->Collect(300ms);
  const auto keys = probe_->Transitions(kSpaceKeysym, mark);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_TRUE(keys[0].press && !keys[1].press);
  EXPECT_LT(ServerSpan(keys[0].server_ms, keys[1].server_ms), 2 * kLongInterval - 3000)
      << "released by the timer, not by --stop";
  EXPECT_TRUE(app_->Running()) << "the window should stay open";
  ExpectNoKeyDown("after --stop");
}

// Each option in a process of its own; a refused interval changes nothing.
TEST_F(CommandLine, IntervalThenStartFromOtherProcessesGiveThatHold) {
  Launch();
  ASSERT_FALSE(HasFatalFailure());
  const std::size_t mark = probe_->events().size();

  const auto [refused, refusal] = Run({"--interval=-3"});
  EXPECT_TRUE(ExitedWith(refused, 1)) << refused.Describe();
  EXPECT_NE(refusal.find("negative"), std::string::npos) << refusal;
  const auto [taken, taken_err] = Run({"--interval=250"});
  EXPECT_TRUE(ExitedWith(taken, 0)) << taken.Describe() << "\n" << taken_err;
  const auto [started, started_err] = Run({"--start"});
  EXPECT_TRUE(ExitedWith(started, 0)) << started.Describe() << "\n" << started_err;

  ASSERT_TRUE(probe_->WaitForKeys(2, 4s + 500ms + 3s, kSpaceKeysym, mark)) << "no hold; stderr:\n"
                                                                           << app_->Stderr();
  const auto keys = probe_->Transitions(kSpaceKeysym, mark);
  ASSERT_TRUE(keys[0].press && !keys[1].press);
  EXPECT_NEAR(ServerSpan(keys[0].server_ms, keys[1].server_ms), 500, kToleranceMs);
  ExpectNoKeyDown("after the hold");

  // A hotkey goes to the running window as well, and its press starts it.
  const auto [bound, bound_err] = Run({"--hotkey=F9"});
  EXPECT_TRUE(ExitedWith(bound, 0)) << bound.Describe() << "\n" << bound_err;
  ASSERT_TRUE(app_->WaitForTrace("hotkey-grabbed", "F9", 2s)) << app_->Stderr();
  driver_->PressKey(0xffc6);  // XK_F9
  driver_->ReleaseKey(0xffc6);
  EXPECT_TRUE(app_->WaitForTrace("caption", "Starting in 3", 2s, 2)) << app_->Stderr();
}

// The settings go to the running window over D-Bus, after the interval and
// before the start; one the command line refuses never leaves it.
TEST_F(CommandLine, SettingsFromAnotherProcessChooseTheKeyAndTheCountdown) {
  Launch();
  ASSERT_FALSE(HasFatalFailure());
  const auto [bad, bad_err] = Run({"--key=A", "--countdown=61", "--start"});
  EXPECT_TRUE(ExitedWith(bad, 2)) << bad.Describe() << "\n" << bad_err;
  EXPECT_NE(bad_err.find("--countdown"), std::string::npos) << bad_err;
  EXPECT_FALSE(app_->WaitForTrace("setting", std::nullopt, 500ms)) << "the window took a setting";

  const std::size_t mark = probe_->events().size();
  const auto [started, err] = Run({"--interval=300", "--key=A", "--countdown=0", "--start"});
  EXPECT_TRUE(ExitedWith(started, 0)) << started.Describe() << "\n" << err;
  constexpr unsigned long kA = 0x61;  // XK_a
  ASSERT_TRUE(probe_->WaitForKeys(2, 3s, kA, mark)) << "A was not held; stderr:\n"
                                                    << app_->Stderr();
  const auto keys = probe_->Transitions(kA, mark);
  ASSERT_TRUE(keys[0].press && !keys[1].press);
  EXPECT_NEAR(ServerSpan(keys[0].server_ms, keys[1].server_ms), 600, kToleranceMs);
  EXPECT_TRUE(probe_->Transitions(kSpaceKeysym, mark).empty()) << "the space bar went too";
  EXPECT_FALSE(app_->WaitForTrace("caption", "Starting in 3", 0s)) << "a countdown ran";
  ExpectNoKeyDown("after the hold");
}

// --stop alone starts nothing; --start opens a window that owns the name and
// acts only after its start-up keystroke.
TEST_F(CommandLine, WithNothingRunning) {
  const auto [stopped, stop_err] = Run({"--stop"});
  EXPECT_TRUE(ExitedWith(stopped, 0)) << stopped.Describe();
  EXPECT_NE(stop_err.find("no Tollmere was running"), std::string::npos) << stop_err;

  app_ = std::make_unique<AppProcess>(
      TOLLMERE_BINARY, AppEnvironment(),
      std::vector<std::string>{"--trace", "--interval=200", "--start"});
  ASSERT_TRUE(app_->WaitForTrace("caption", "Starting in 3", 10s)) << app_->Stderr();
  const std::vector<std::string> expected = {"key-down 32", "key-up 32", "caption Starting in 3"};
  EXPECT_EQ(TracedSteps(), expected);
  ASSERT_TRUE(app_->WaitForTrace("interval", "200", 0s));

  const auto [status, err] = Run({"--stop"});
  EXPECT_TRUE(ExitedWith(status, 0)) << status.Describe() << "\n" << err;
  ASSERT_TRUE(app_->WaitForTrace("caption", "Start", 2s)) << "the new window did not stop";
  probe_->Collect(1s);
  EXPECT_EQ(probe_->Transitions(kSpaceKeysym).size(), 2u) << "a key after the start-up one";
}

// A request sent to a Tollmere that then dies unanswered is not lost: the
// sender starts as the new owner and acts.
TEST_F(CommandLine, OwnerDyingMidRequestIsReplacedBySender) {
  Launch();
  ASSERT_FALSE(HasFatalFailure());
  app_->Signal(SIGSTOP);
  auto sender = std::make_unique<AppProcess>(
      TOLLMERE_BINARY, AppEnvironment(),
      std::vector<std::string>{"--trace", "--interval=200", "--start"});
  ASSERT_TRUE(sender->WaitForTrace("remote-call", std::nullopt, 5s)) << sender->Stderr();
  app_->Signal(SIGKILL);
  app_->WaitForExit(5s);
  app_ = std::move(sender);

  ASSERT_TRUE(app_->WaitForTrace("caption", "Starting in 3", 10s))
      << "the sender did not act; stderr:\n"
      << app_->Stderr();
  const auto [status, err] = Run({"--stop"});
  EXPECT_TRUE(ExitedWith(status, 0)) << status.Describe() << "\n" << err;
  EXPECT_TRUE(app_->WaitForTrace("caption", "Start", 2s)) << "the sender does not own the name";
}

bool WaitUntilStopped(pid_t pid) {
  for (int i = 0; i < 200; ++i) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto state = text.rfind(") ");
    if (state != std::string::npos && text[state + 2] == 'T') return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

// The ways a key used to stay down while the program went on: a start no
// one can see with interval 0, a second click during the hold, a stop with
// the focus on "Start" (whose release clicked it again), and Ctrl+Z.
TEST_F(CommandLine, NoKeyLeftDownInTheWaysTheProgramGoesOn) {
  Launch();
  ASSERT_FALSE(HasFatalFailure());
  const auto countdowns = [this] {
    const auto steps = TracedSteps();
    return std::count(steps.begin(), steps.end(), "caption Starting in 3");
  };

  const auto [refused, refusal] = Run({"--start"});
  EXPECT_TRUE(ExitedWith(refused, 1)) << refused.Describe();
  EXPECT_NE(refusal.find("Not started"), std::string::npos) << refusal;
  ASSERT_TRUE(app_->WaitForTrace("interval-problem", std::nullopt, 5s)) << app_->Stderr();
  probe_->Collect(1500ms);
  EXPECT_EQ(countdowns(), 0) << "started with interval 0";

  // The focus stays on "Start": the held space goes there.
  EnterInterval("5000", 5000);
  ASSERT_FALSE(HasFatalFailure());
  ClickStart();
  ASSERT_TRUE(app_->WaitForTrace("key-down", "32", 4s + 3s, 2)) << app_->Stderr();
  ClickStart();
  ASSERT_TRUE(app_->WaitForTrace("key-up", "32", 1s, 2)) << "a second click kept the key down";
  ASSERT_TRUE(app_->WaitForTrace("key-down", "32", 4s + 3s, 3)) << app_->Stderr();
  const auto [stopped, stop_err] = Run({"--stop"});
  EXPECT_TRUE(ExitedWith(stopped, 0)) << stopped.Describe() << "\n" << stop_err;
  ASSERT_TRUE(app_->WaitForTrace("key-up", "32", 2s, 3)) << "--stop did not stop the hold";
  const auto after_stop = countdowns();
  probe_->Collect(1500ms);
  EXPECT_EQ(countdowns(), after_stop) << "the stop's release clicked Start again";
  // ...while a space typed afterwards still presses it.
  driver_->PressKey(kSpaceKeysym);
  driver_->ReleaseKey(kSpaceKeysym);
  EXPECT_TRUE(app_->WaitForTrace("caption", "Starting in 3", 2s, static_cast<int>(after_stop) + 1))
      << "a typed space no longer presses Start after a stop";
  ExpectNoKeyDown("after the stop");

  std::size_t mark = probe_->events().size();
  ClickStart();
  probe_->TakeFocus();
  ASSERT_TRUE(probe_->WaitForKeys(1, 4s + 3s, kSpaceKeysym, mark)) << "the hold never began";
  app_->Signal(SIGTSTP);
  EXPECT_TRUE(probe_->WaitForKeys(2, 2s, kSpaceKeysym, mark)) << "stopped with the key down";
  EXPECT_TRUE(WaitUntilStopped(app_->pid())) << "Ctrl+Z did not stop the program";
  app_->Signal(SIGCONT);
  ASSERT_TRUE(app_->Running()) << app_->Stderr();
  ExpectNoKeyDown("after Ctrl+Z");
  CloseAndExpectCleanExit();
}

// A request the box cannot hold, or that nothing answers, fails within
// seconds and says why.
TEST_F(CommandLine, RefusedOrUnansweredRequestsFailWithAReason) {
  Launch();
  ASSERT_FALSE(HasFatalFailure());
  const auto [cut, cut_err] = Run({"--interval=" + std::string(32766, '0') + "250"});
  EXPECT_TRUE(ExitedWith(cut, 1)) << cut.Describe() << "\n" << cut_err;
  EXPECT_NE(cut_err.find("Too long"), std::string::npos) << cut_err;
  ASSERT_TRUE(app_->WaitForTrace("interval-problem", std::nullopt, 5s)) << app_->Stderr();
  EXPECT_FALSE(app_->WaitForTrace("interval", std::nullopt, 0s)) << "the text was cut and taken";
  // Of the properties, only what the interface declares.
  const std::string get = "org.freedesktop.DBus.Properties.Get";
  EXPECT_TRUE(Send({get, "string:org.tollmere.Tollmere1", "string:Busy"}));
  EXPECT_FALSE(Send({get, "string:org.tollmere.Tollmere1", "string:objectName"}));

  app_->Signal(SIGSTOP);
  const auto [toggled, toggle_err] = Run({"--toggle"});
  EXPECT_TRUE(ExitedWith(toggled, 1)) << toggled.Describe() << "\n" << toggle_err;
  EXPECT_NE(toggle_err.find("did not answer"), std::string::npos) << toggle_err;
  EXPECT_EQ(toggle_err.find("org.freedesktop"), std::string::npos) << toggle_err;
  app_.reset();

  kill(bus_->pid(), SIGSTOP);
  const auto [stopped, stop_err] = Run({"--stop"});
  EXPECT_TRUE(ExitedWith(stopped, 1)) << stopped.Describe() << "\n" << stop_err;
  EXPECT_NE(stop_err.find("session bus did not answer"), std::string::npos) << stop_err;
  Launch();  // and the window opens, unreachable
  kill(bus_->pid(), SIGCONT);

  // Behind the error dialog (no Wayland for this back end) nothing is done.
  app_ = std::make_unique<AppProcess>(TOLLMERE_BINARY, AppEnvironment(),
                                      std::vector<std::string>{"--backend=wayland"});
  ASSERT_NE(driver_->WaitForWindow("Tollmere", 15s, window_), 0u) << app_->Stderr();
  const auto [started, start_err] = Run({"--start"});
  EXPECT_TRUE(ExitedWith(started, 1)) << started.Describe() << "\n" << start_err;
  EXPECT_NE(start_err.find("closing after an error"), std::string::npos) << start_err;
}

// What a window cannot take is refused with status 1 and leaves what worked:
// a hotkey another program holds keeps the old one, and a 0 ms interval
// during a hold keeps the hold's. A held digit never types into the window's
// own box; --new-window takes its settings and its start to a window of its own.
TEST_F(CommandLine, RefusalsKeepWhatWorksAndANewWindowIsItsOwn) {
  constexpr unsigned long kF8 = 0xffc5, kF9 = 0xffc6, kA = 0x61;  // XK_F8, XK_F9, XK_a
  driver_->GrabKey(kF9);
  Launch({"--trace", "--hotkey=F8"});
  ASSERT_FALSE(HasFatalFailure());
  const auto [taken, taken_err] = Run({"--hotkey=F9"});
  EXPECT_TRUE(ExitedWith(taken, 1)) << taken.Describe() << "\n" << taken_err;
  EXPECT_NE(taken_err.find("F8 stays the hotkey"), std::string::npos) << taken_err;

  probe_->TakeFocus();
  std::size_t mark = probe_->events().size();
  ASSERT_TRUE(ExitedWith(
      Run({"--interval=" + std::to_string(kLongInterval), "--countdown=0", "--start"}).first, 0));
  for (const std::string zero : {"--interval=", "--interval=abc", "--interval=0"}) {
    const auto [refused, refused_err] = Run({zero});
    EXPECT_TRUE(ExitedWith(refused, 1)) << zero << " " << refused.Describe();
    EXPECT_NE(refused_err.find("Not changed"), std::string::npos) << refused_err;
  }
  driver_->PressKey(kF8);
  driver_->ReleaseKey(kF8);
  ASSERT_TRUE(probe_->WaitForKeys(2, 2s, kSpaceKeysym, mark)) << "F8 did not end the hold";

  // A key changed during a latch of Shift: F8, which comes as Shift+F8, ends it.
  constexpr unsigned long kShiftL = 0xffe1;
  mark = probe_->events().size();
  ASSERT_TRUE(ExitedWith(Run({"--key=LeftShift", "--hold=until-stopped", "--start"}).first, 0));
  ASSERT_TRUE(probe_->WaitForKeys(1, 2s, kShiftL, mark));
  ASSERT_TRUE(ExitedWith(Run({"--key=A", "--hold=twice"}).first, 0));
  driver_->PressKey(kF8);
  driver_->ReleaseKey(kF8);
  EXPECT_TRUE(probe_->WaitForKeys(2, 2s, kShiftL, mark)) << "F8 did not end the Shift latch";

  // The window's own box has the focus while it holds 1 past the repeat delay.
  driver_->Focus(window_);
  ASSERT_TRUE(ExitedWith(Run({"--interval=700", "--key=1", "--start"}).first, 0));
  EXPECT_TRUE(app_->WaitForTrace("caption", "Start", 4s, 3)) << app_->Stderr();
  const auto trace = app_->Trace();
  const auto last = std::find_if(trace.rbegin(), trace.rend(),
                                 [](const TraceEvent& e) { return e.event == "interval"; });
  ASSERT_NE(last, trace.rend());
  EXPECT_EQ(last->arg, "700") << "the held 1 typed into the box";

  probe_->TakeFocus();
  mark = probe_->events().size();
  const auto settings = [this] {
    const auto t = app_->Trace();
    return std::count_if(t.begin(), t.end(),
                         [](const TraceEvent& e) { return e.event == "setting"; });
  };
  const auto before = settings();
  AppProcess second(TOLLMERE_BINARY, AppEnvironment(),
                    {"--new-window", "--interval=300", "--key=A", "--countdown=0", "--start"});
  ASSERT_TRUE(probe_->WaitForKeys(2, 10s, kA, mark)) << second.Stderr();
  const auto keys = probe_->Transitions(kA, mark);
  EXPECT_NEAR(ServerSpan(keys[0].server_ms, keys[1].server_ms), 600, kToleranceMs);
  EXPECT_EQ(settings(), before) << "the first window took the new one's settings";
  second.Signal(SIGTERM);
  second.WaitForExit(5s);
  ExpectNoKeyDown("after both windows' holds");
}

// One window is enough: a second plain start brings the first forward. One
// opened on purpose beside a hold leaves the hold alone, and takes the name
// over when the first closes.
TEST_F(CommandLine, ASecondStartBringsTheFirstForward) {
  Launch();
  ASSERT_FALSE(HasFatalFailure());
  const auto [raised, raise_err] = Run({"--trace"});
  EXPECT_TRUE(ExitedWith(raised, 0)) << raised.Describe() << "\n" << raise_err;
  EXPECT_TRUE(app_->WaitForTrace("activate", std::nullopt, 2s)) << app_->Stderr();
  EXPECT_NE(driver_->FocusedWindow(), probe_->window()) << "the first window was not raised";

  probe_->TakeFocus();
  const std::size_t mark = probe_->events().size();
  const auto [started, start_err] = Run({"--interval=1500", "--start"});
  ASSERT_TRUE(ExitedWith(started, 0)) << started.Describe() << "\n" << start_err;
  ASSERT_TRUE(probe_->WaitForKeys(1, 4s + 3s, kSpaceKeysym, mark)) << app_->Stderr();
  AppProcess second(TOLLMERE_BINARY, AppEnvironment(), {"--trace", "--new-window"});
  EXPECT_TRUE(second.WaitForTrace("load-keystroke-skipped", std::nullopt, 10s)) << second.Stderr();
  ASSERT_TRUE(probe_->WaitForKeys(2, 5s, kSpaceKeysym, mark)) << app_->Stderr();
  const auto keys = probe_->Transitions(kSpaceKeysym, mark);
  EXPECT_NEAR(ServerSpan(keys[0].server_ms, keys[1].server_ms), 3000, kToleranceMs)
      << "the second window cut the hold short";

  CloseAndExpectCleanExit();
  const auto [taken, taken_err] = Run({"--interval=100"});
  EXPECT_TRUE(ExitedWith(taken, 0)) << taken.Describe() << "\n" << taken_err;
  EXPECT_TRUE(second.WaitForTrace("interval", "100", 2s)) << "the name was not passed on";
  second.Signal(SIGTERM);
  second.WaitForExit(5s);
}

}  // namespace
}  // namespace tollmere::e2e
