#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "harness/child_process.h"

namespace tollmere::e2e {

// One `trace <ms> <event> [<arg>]` line of the program's --trace output.
// `ms` is the program's CLOCK_MONOTONIC; a quoted argument is unquoted.
struct TraceEvent {
  double ms = 0;
  std::string event;
  std::string arg;
};

// Parses one stderr line; nullopt for lines that are not trace lines.
std::optional<TraceEvent> ParseTraceLine(std::string_view line);

struct ExitStatus {
  bool timed_out = false;  // it had to be killed with SIGKILL
  int raw = 0;             // the wait status

  bool Exited() const;
  int Code() const;    // -1 unless it exited
  int Signal() const;  // 0 unless a signal ended it
  std::string Describe() const;
};

// The program under test, run with --trace and its stderr read by a thread
// of ours. It dies with the test process.
class AppProcess {
 public:
  AppProcess(const std::string& binary, std::vector<EnvChange> env,
             std::vector<std::string> args = {"--trace"});
  ~AppProcess();
  AppProcess(const AppProcess&) = delete;
  AppProcess& operator=(const AppProcess&) = delete;

  // The environment for a run on `display`: no Wayland, default platform, no
  // session bus.
  static std::vector<EnvChange> XEnvironment(const std::string& display);

  pid_t pid() const { return pid_; }

  // Waits for the `nth` trace event with this name (and argument, if given).
  std::optional<TraceEvent> WaitForTrace(std::string_view event,
                                         std::optional<std::string_view> arg,
                                         std::chrono::milliseconds timeout, int nth = 1);

  std::vector<TraceEvent> Trace() const;
  std::vector<std::string> StderrLines() const;
  std::string Stderr() const;

  void Signal(int sig);

  // Waits for the process to end. On timeout it is killed with SIGKILL and
  // the result says so. Also waits briefly for the last of its stderr.
  ExitStatus WaitForExit(std::chrono::milliseconds timeout);
  bool Running();

 private:
  void ReadStderr();

  pid_t pid_ = -1;
  std::optional<ExitStatus> exit_;
  int stderr_fd_ = -1;
  int stop_fd_ = -1;
  bool eof_ = false;
  std::string partial_;
  std::vector<std::string> lines_;
  std::vector<TraceEvent> trace_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::thread reader_;
};

}  // namespace tollmere::e2e
