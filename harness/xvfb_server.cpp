#include "harness/xvfb_server.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <thread>

#include "harness/child_process.h"

namespace tollmere::e2e {

using namespace std::chrono_literals;

XvfbServer::XvfbServer(std::chrono::milliseconds startup_timeout) {
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  // Kept for the message if the server does not come up.
  log_fd_ = open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);

  SpawnOptions options;
  options.argv = {"Xvfb",      "-displayfd", std::to_string(ready[1]),
                  "-screen",   "0",          "640x480x24",
                  "-nolisten", "tcp",        "-noreset"};
  options.stderr_fd = log_fd_;
  options.inherit_fds = {ready[1]};
  try {
    pid_ = Spawn(options);
  } catch (...) {
    close(ready[0]);
    close(ready[1]);
    throw;
  }
  close(ready[1]);

  // Xvfb writes the display number once it accepts connections.
  const std::optional<std::string> line = ReadFirstLine(ready[0], startup_timeout);
  close(ready[0]);
  if (!line || line->empty()) {
    const std::string tail = LogTail();
    Kill();
    throw std::runtime_error("Xvfb did not start: " + tail);
  }
  number_ = std::stoi(*line);

  // Belt and braces: a first connection must succeed.
  Display* probe = XOpenDisplay(name().c_str());
  if (probe == nullptr) {
    Kill();
    throw std::runtime_error("Xvfb reported " + name() + " but refuses connections");
  }
  XCloseDisplay(probe);
}

XvfbServer::~XvfbServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    if (!WaitForPid(pid_, 3s)) Kill();
    pid_ = -1;
  }
  if (log_fd_ >= 0) close(log_fd_);
}

void XvfbServer::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  WaitForPid(pid_, 10s);
  pid_ = -1;
}

std::string XvfbServer::LogTail() const {
  if (log_fd_ < 0) return "(no log)";
  char buf[2048];
  const off_t size = lseek(log_fd_, 0, SEEK_END);
  const off_t from =
      size > static_cast<off_t>(sizeof buf) ? size - static_cast<off_t>(sizeof buf) : 0;
  const ssize_t n = pread(log_fd_, buf, sizeof buf, from);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : "(empty log)";
}

}  // namespace tollmere::e2e
