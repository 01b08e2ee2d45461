#include "app/linux/exit_guard.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <thread>

namespace tollmere::app {
namespace {

void Spin(QCoreApplication& app) {
  for (int i = 0; i < 20; ++i) {
    app.processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Raises `sig` in an application with the guard installed, then lets the
// event loop run; reports "still running" if nothing ended the process.
void GuardedApp(int sig) {
  int argc = 1;
  char name[] = "exit_guard_test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  std::signal(sig, SIG_DFL);  // the death test ignores SIGPROF around its fork
  InstallExitGuard([] { std::fputs("released\n", stderr); },
                   [] { std::fputs("stopped\n", stderr); });
  std::raise(sig);
  Spin(app);
  std::fputs("still running\n", stderr);
  std::exit(0);
}

// Every signal whose default ends the process, whatever its number: a
// caught one releases the keys first, then ends the program by that signal,
// so the parent sees how it ended.
TEST(ExitGuardDeathTest, EverySignalThatEndsTheProgramReleasesThenEndsByIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  constexpr int kNotEnding[] = {SIGKILL,  SIGSTOP, SIGCHLD, SIGCONT, SIGURG,
                                SIGWINCH, SIGPIPE, SIGTSTP, SIGTTIN, SIGTTOU};
  const std::vector<int> guarded = GuardedSignals();
  for (int sig = 1; sig <= SIGRTMAX; ++sig) {
    if (sig == 32 || sig == 33 || std::ranges::count(kNotEnding, sig) > 0) continue;
    EXPECT_EQ(std::ranges::count(guarded, sig), 1) << sig;
    EXPECT_EXIT(GuardedApp(sig), ::testing::KilledBySignal(sig), "released") << sig;
  }
  // A reader that went away is no reason to end.
  EXPECT_EXIT(GuardedApp(SIGPIPE), ::testing::ExitedWithCode(0), "still running");
}

// Started under nohup: the hangup must not end the program.
TEST(ExitGuard, ASignalIgnoredAtStartStaysIgnored) {
  int argc = 1;
  char name[] = "exit_guard_test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  std::signal(SIGHUP, SIG_IGN);
  int released = 0;
  InstallExitGuard([&released] { ++released; }, [] {});
  std::raise(SIGHUP);
  Spin(app);
  EXPECT_EQ(released, 0);
}

}  // namespace
}  // namespace tollmere::app
