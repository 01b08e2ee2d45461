// What happens when the program starts: the one keystroke it sends before
// its window shows, and how it refuses to start without an X display.
#include <sys/stat.h>

#include <chrono>

#include "e2e_fixture.h"

namespace tollmere::e2e {
namespace {

using Clock = std::chrono::steady_clock;

using Startup = TollmereOnXvfb;

TEST_F(Startup, SendsOneSpaceKeystrokeThenClosesCleanly) {
  Launch();
  ASSERT_FALSE(HasFatalFailure());
  // Anything else it might send would come within this second.
  probe_->Collect(1s);

  const auto transitions = probe_->Transitions();
  ASSERT_EQ(transitions.size(), 2u);
  EXPECT_TRUE(transitions[0].press);
  EXPECT_FALSE(transitions[1].press);
  EXPECT_EQ(probe_->events().size(), 2u) << "other keys or autorepeat reached the probe";
  ExpectNoKeyDown("after start-up");

  CloseAndExpectCleanExit();
}

// The program must fail fast and say why, not hang or crash.
ExitStatus RunWithout(const std::vector<EnvChange>& env, std::string& err, double& seconds) {
  const auto start = Clock::now();
  AppProcess app(TOLLMERE_BINARY, env);
  const ExitStatus status = app.WaitForExit(10s);
  seconds = std::chrono::duration<double>(Clock::now() - start).count();
  err = app.Stderr();
  return status;
}

// A display number with nothing listening on it.
std::string UnusedDisplay() {
  for (int n = 199; n < 299; ++n) {
    struct stat st;
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
    const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
    if (stat(socket.c_str(), &st) != 0 && stat(lock.c_str(), &st) != 0) {
      return std::string(":").append(std::to_string(n));  // not ":" + ...: g++ 12's -Wrestrict
    }
  }
  return ":299";
}

TEST(NoDisplay, FailsFastWithAReason) {
  std::string err;
  double seconds = 0;

  ExitStatus status = RunWithout({{"DISPLAY", std::nullopt},
                                  {"WAYLAND_DISPLAY", std::nullopt},
                                  {"QT_QPA_PLATFORM", std::nullopt}},
                                 err, seconds);
  EXPECT_TRUE(status.Exited() && status.Code() == 1) << status.Describe();
  EXPECT_LT(seconds, 5.0);
  EXPECT_NE(err.find("tollmere: no display"), std::string::npos) << err;

  const std::string display = UnusedDisplay();
  status = RunWithout(AppProcess::XEnvironment(display), err, seconds);
  EXPECT_TRUE(status.Exited() && status.Code() == 1) << status.Describe();
  EXPECT_LT(seconds, 5.0);
  EXPECT_NE(err.find("tollmere: cannot open the window: cannot connect to the X display"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find(display), std::string::npos) << "the message should name " << display << ":\n"
                                                  << err;
}

}  // namespace
}  // namespace tollmere::e2e
