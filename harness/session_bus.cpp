#include "harness/session_bus.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <stdexcept>

#include "harness/child_process.h"

namespace tollmere::e2e {

using namespace std::chrono_literals;

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
  const std::optional<std::string> line = ReadFirstLine(out[0], startup_timeout);
  close(out[0]);
  if (!line || line->empty()) {
    kill(pid_, SIGKILL);
    WaitForPid(pid_, 3s);
    throw std::runtime_error("dbus-daemon did not start (is the dbus-daemon package installed?)");
  }
  address_ = *line;
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
