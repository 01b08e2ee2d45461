#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tollmere::e2e {

// A change to the child's environment: a value sets the variable, nullopt
// removes it.
using EnvChange = std::pair<std::string, std::optional<std::string>>;

struct SpawnOptions {
  std::vector<std::string> argv;  // argv[0] is looked up on PATH
  std::vector<EnvChange> env;
  int stdout_fd = -1;            // -1: /dev/null
  int stderr_fd = -1;            // -1: /dev/null
  std::vector<int> inherit_fds;  // passed through under the same number
};

// Starts a child that dies with us (PR_SET_PDEATHSIG), with default signal
// dispositions and an empty signal mask whatever our own are. Throws
// std::runtime_error if the program cannot be executed.
pid_t Spawn(const SpawnOptions& options);

// Reaps `pid`, waiting at most `timeout`; the raw wait status, or nullopt if
// it is still running.
std::optional<int> WaitForPid(pid_t pid, std::chrono::milliseconds timeout);

// The first line a starting server writes to `fd` (without its newline), read
// for at most `timeout`; nullopt if none came. Servers say they are ready
// that way (Xvfb's -displayfd, dbus-daemon's --print-address).
std::optional<std::string> ReadFirstLine(int fd, std::chrono::milliseconds timeout);

// Whether `program` is an executable file in a directory of $PATH.
bool OnPath(const std::string& program);

// An anonymous file in /tmp, appended to, for a child's output or log.
int TempFile();

// The last `limit` bytes of what `fd` holds, read at offsets (the fd's own
// position is left alone, so a child may go on writing).
std::string ReadTail(int fd, std::size_t limit);

// "exited with status 1", "killed by signal 15 (Terminated)".
std::string DescribeWaitStatus(int status);

}  // namespace tollmere::e2e
