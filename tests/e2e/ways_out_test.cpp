// Every way the program can end while it holds the space bar must let go of
// it first; losing the X server must end it promptly and without a crash.
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <thread>

#include "e2e_fixture.h"

namespace tollmere::e2e {
namespace {

using Clock = std::chrono::steady_clock;

// An interval long enough that the hold (10 s) outlasts each case by far.
constexpr int kLongInterval = 5000;

struct WayOut {
  const char* name;
  int signal;  // 0: close the window
};

void PrintTo(const WayOut& way, std::ostream* os) { *os << way.name; }

class EndDuringHold : public TollmereOnXvfb, public ::testing::WithParamInterface<WayOut> {};

TEST_P(EndDuringHold, ReleasesTheSpaceBar) {
  std::size_t mark = 0;
  StartCycle(std::to_string(kLongInterval), kLongInterval, mark);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(probe_->WaitForKeys(1, 4s + 3s, kSpaceKeysym, mark)) << "the hold never began";
  ASSERT_TRUE(probe_->KeyDown(kSpaceKeysym));

  const WayOut way = GetParam();
  if (way.signal == 0) {
    driver_->RequestClose(window_);
  } else {
    app_->Signal(way.signal);
  }
  const ExitStatus status = app_->WaitForExit(5s);
  ASSERT_TRUE(probe_->WaitForKeys(2, 2s, kSpaceKeysym, mark))
      << "the release never reached the probe; the program " << status.Describe()
      << "; keys down: " << probe_->KeysDownText() << "; stderr:\n"
      << app_->Stderr();
  const auto keys = probe_->Transitions(kSpaceKeysym, mark);
  EXPECT_LT(ServerSpan(keys[0].server_ms, keys[1].server_ms), 2 * kLongInterval - 3000)
      << "released by the timer, not by the way out";
  ExpectNoKeyDown("after the program ended");

  if (way.signal == 0) {
    EXPECT_TRUE(status.Exited() && status.Code() == 0) << status.Describe();
  } else {
    EXPECT_EQ(status.Signal(), way.signal) << status.Describe();
  }
}

INSTANTIATE_TEST_SUITE_P(WaysOut, EndDuringHold,
                         ::testing::Values(WayOut{"WindowClosed", 0}, WayOut{"Sigterm", SIGTERM},
                                           WayOut{"Sigint", SIGINT}, WayOut{"Sighup", SIGHUP},
                                           WayOut{"Sigquit", SIGQUIT}, WayOut{"Sigusr1", SIGUSR1}),
                         [](const auto& info) { return std::string(info.param.name); });

using EndDuringCountdown = TollmereOnXvfb;

TEST_F(EndDuringCountdown, ClosingSendsNoKeystroke) {
  std::size_t mark = 0;
  StartCycle("200", 200, mark);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(app_->WaitForTrace("caption", "Starting in 2", 5s));

  CloseAndExpectCleanExit();
  probe_->Collect(300ms);
  EXPECT_TRUE(probe_->Transitions(kSpaceKeysym, mark).empty()) << "a key reached the probe";
}

// While alive, starves the X server: pinned to one CPU at the lowest
// priority, beside a busy thread of ours on that CPU.
class StarvedServer {
 public:
  explicit StarvedServer(pid_t server) : server_(server) {
    CPU_ZERO(&cpu_);
    CPU_SET(0, &cpu_);
    sched_getaffinity(server_, sizeof saved_, &saved_);
    sched_setaffinity(server_, sizeof cpu_, &cpu_);
    setpriority(PRIO_PROCESS, static_cast<id_t>(server_), 19);
    busy_ = std::thread([this] {
      sched_setaffinity(0, sizeof cpu_, &cpu_);
      while (!stop_) {
      }
    });
  }
  ~StarvedServer() {
    stop_ = true;
    busy_.join();
    setpriority(PRIO_PROCESS, static_cast<id_t>(server_), 0);
    sched_setaffinity(server_, sizeof saved_, &saved_);
  }

 private:
  pid_t server_;
  cpu_set_t cpu_{};
  cpu_set_t saved_{};
  std::atomic<bool> stop_{false};
  std::thread busy_;
};

using SlowServer = TollmereOnXvfb;

// A server drops a client that has hung up without reading the requests it
// still had to send, so a key-up merely flushed before dying can be lost:
// the program must wait for the server to take its last release.
TEST_F(SlowServer, ReleaseOnSignalIsNotLost) {
  std::size_t mark = 0;
  StartCycle(std::to_string(kLongInterval), kLongInterval, mark);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(probe_->WaitForKeys(1, 4s + 3s, kSpaceKeysym, mark)) << "the hold never began";

  ExitStatus status;
  {
    StarvedServer starved(xvfb_->pid());
    app_->Signal(SIGTERM);
    status = app_->WaitForExit(5s);
  }
  EXPECT_EQ(status.Signal(), SIGTERM) << status.Describe();
  EXPECT_TRUE(probe_->WaitForKeys(2, 2s, kSpaceKeysym, mark))
      << "the release never reached the probe";
  ExpectNoKeyDown("after the program ended");
}

using ServerLoss = TollmereOnXvfb;

TEST_F(ServerLoss, EndsPromptlyWithAMessageAndNoCrash) {
  std::size_t mark = 0;
  StartCycle(std::to_string(kLongInterval), kLongInterval, mark);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_TRUE(app_->WaitForTrace("key-down", "32", 4s + 3s, 2)) << "the hold never began";

  const std::size_t lines_before = app_->StderrLines().size();
  const auto killed_at = Clock::now();
  xvfb_->Kill();
  const ExitStatus status = app_->WaitForExit(5s);
  const double seconds = std::chrono::duration<double>(Clock::now() - killed_at).count();

  EXPECT_FALSE(status.timed_out) << "still running 5 s after the X server died";
  EXPECT_LT(seconds, 5.0);
  EXPECT_TRUE(status.Exited() && status.Code() != 0) << status.Describe();
  EXPECT_NE(status.Signal(), SIGSEGV) << status.Describe();
  EXPECT_NE(status.Signal(), SIGABRT) << status.Describe();

  const auto lines = app_->StderrLines();
  bool said_why = false;
  for (std::size_t i = lines_before; i < lines.size(); ++i) {
    said_why = said_why || (!lines[i].empty() && !ParseTraceLine(lines[i]));
  }
  EXPECT_TRUE(said_why) << "nothing on stderr after the server died:\n" << app_->Stderr();
}

}  // namespace
}  // namespace tollmere::e2e
