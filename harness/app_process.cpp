#include "harness/app_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace tollmere::e2e {

using namespace std::chrono_literals;

std::optional<TraceEvent> ParseTraceLine(std::string_view line) {
  constexpr std::string_view kPrefix = "trace ";
  if (line.substr(0, kPrefix.size()) != kPrefix) return std::nullopt;
  line.remove_prefix(kPrefix.size());
  const std::size_t ms_end = line.find(' ');
  if (ms_end == std::string_view::npos) return std::nullopt;
  TraceEvent out;
  const std::string ms(line.substr(0, ms_end));
  char* end = nullptr;
  out.ms = std::strtod(ms.c_str(), &end);
  if (end == ms.c_str() || *end != '\0') return std::nullopt;
  line.remove_prefix(ms_end + 1);
  const std::size_t event_end = line.find(' ');
  out.event = std::string(line.substr(0, event_end));
  if (event_end == std::string_view::npos) return out;
  std::string_view arg = line.substr(event_end + 1);
  if (arg.size() >= 2 && arg.front() == '"' && arg.back() == '"') {
    arg = arg.substr(1, arg.size() - 2);
    for (std::size_t i = 0; i < arg.size(); ++i) {
      if (arg[i] == '\\' && i + 1 < arg.size()) {
        ++i;
        out.arg += arg[i] == 'n' ? '\n' : arg[i];
      } else {
        out.arg += arg[i];
      }
    }
  } else {
    out.arg = std::string(arg);
  }
  return out;
}

bool ExitStatus::Exited() const { return !timed_out && WIFEXITED(raw); }
int ExitStatus::Code() const { return Exited() ? WEXITSTATUS(raw) : -1; }
int ExitStatus::Signal() const { return !timed_out && WIFSIGNALED(raw) ? WTERMSIG(raw) : 0; }
std::string ExitStatus::Describe() const {
  return timed_out ? "did not end in time (killed)" : DescribeWaitStatus(raw);
}

std::vector<EnvChange> AppProcess::XEnvironment(const std::string& display) {
  // Not the user's session bus: a program under test must not take the name
  // of, or take requests meant for, the Tollmere the user runs.
  return {{"DISPLAY", display},
          {"WAYLAND_DISPLAY", std::nullopt},
          {"QT_QPA_PLATFORM", std::nullopt},
          {"DBUS_SESSION_BUS_ADDRESS", "disabled:"}};
}

AppProcess::AppProcess(const std::string& binary, std::vector<EnvChange> env,
                       std::vector<std::string> args) {
  int err_pipe[2];
  if (pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  stop_fd_ = eventfd(0, EFD_CLOEXEC);
  SpawnOptions options;
  options.argv = {binary};
  options.argv.insert(options.argv.end(), args.begin(), args.end());
  options.env = std::move(env);
  options.stderr_fd = err_pipe[1];
  try {
    pid_ = Spawn(options);
  } catch (...) {
    close(err_pipe[0]);
    close(err_pipe[1]);
    throw;
  }
  close(err_pipe[1]);
  stderr_fd_ = err_pipe[0];
  reader_ = std::thread([this] { ReadStderr(); });
}

AppProcess::~AppProcess() {
  if (!exit_) {
    kill(pid_, SIGKILL);
    WaitForPid(pid_, 10s);
  }
  const std::uint64_t one = 1;
  (void)!write(stop_fd_, &one, sizeof one);
  reader_.join();
  close(stderr_fd_);
  close(stop_fd_);
}

void AppProcess::ReadStderr() {
  char buf[4096];
  for (;;) {
    pollfd fds[2] = {{stderr_fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents != 0) break;
    const ssize_t n = read(stderr_fd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    std::lock_guard lock(mutex_);
    if (n <= 0) {
      if (!partial_.empty()) lines_.push_back(partial_);
      eof_ = true;
      changed_.notify_all();
      return;
    }
    partial_.append(buf, static_cast<std::size_t>(n));
    for (std::size_t nl; (nl = partial_.find('\n')) != std::string::npos;) {
      lines_.push_back(partial_.substr(0, nl));
      partial_.erase(0, nl + 1);
      if (auto event = ParseTraceLine(lines_.back())) trace_.push_back(*event);
    }
    changed_.notify_all();
  }
  std::lock_guard lock(mutex_);
  eof_ = true;
  changed_.notify_all();
}

std::optional<TraceEvent> AppProcess::WaitForTrace(std::string_view event,
                                                   std::optional<std::string_view> arg,
                                                   std::chrono::milliseconds timeout, int nth) {
  std::optional<TraceEvent> found;
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] {
    int seen = 0;
    for (const TraceEvent& e : trace_) {
      if (e.event == event && (!arg || e.arg == *arg) && ++seen == nth) {
        found = e;
        return true;
      }
    }
    return eof_;
  });
  return found;
}

std::vector<TraceEvent> AppProcess::Trace() const {
  std::lock_guard lock(mutex_);
  return trace_;
}

std::vector<std::string> AppProcess::StderrLines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

std::string AppProcess::Stderr() const {
  std::string out;
  for (const std::string& line : StderrLines()) out += line + "\n";
  return out;
}

void AppProcess::Signal(int sig) {
  if (!exit_) kill(pid_, sig);
}

bool AppProcess::Running() {
  if (exit_) return false;
  if (auto status = WaitForPid(pid_, 0ms)) exit_ = ExitStatus{false, *status};
  return !exit_;
}

ExitStatus AppProcess::WaitForExit(std::chrono::milliseconds timeout) {
  if (!exit_) {
    if (auto status = WaitForPid(pid_, timeout)) {
      exit_ = ExitStatus{false, *status};
    } else {
      kill(pid_, SIGKILL);
      const auto killed = WaitForPid(pid_, 10s);
      exit_ = ExitStatus{true, killed.value_or(0)};
    }
  }
  // The pipe ends when the last writer goes; a child of its own could hold
  // it open, so do not wait long.
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, 2s, [this] { return eof_; });
  return *exit_;
}

}  // namespace tollmere::e2e
