#include "harness/session_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "harness/child_process.h"

namespace tollmere::e2e {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

SessionBusDaemon::SessionBusDaemon(std::chrono::milliseconds startup_timeout) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  SpawnOptions options;
  options.argv = {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address"};
  options.stdout_fd = out[1];
  try {
    pid_ = Spawn(options);
  } catch (...) {
    close(out[0]);
    close(out[1]);
    throw;
  }
  close(out[1]);

  // The address comes once the daemon listens.
  std::string text;
  const auto deadline = Clock::now() + startup_timeout;
  while (text.find('\n') == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd pfd{out[0], POLLIN, 0};
    if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) == 0) break;
    char buf[256];
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  close(out[0]);
  const std::size_t end = text.find('\n');
  if (end == std::string::npos || end == 0) {
    kill(pid_, SIGKILL);
    WaitForPid(pid_, 3s);
    throw std::runtime_error("dbus-daemon did not start (is the dbus-daemon package installed?)");
  }
  address_ = text.substr(0, end);
}

SessionBusDaemon::~SessionBusDaemon() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  if (!WaitForPid(pid_, 3s)) {
    kill(pid_, SIGKILL);
    WaitForPid(pid_, 3s);
  }
}

}  // namespace tollmere::e2e
