#include "harness/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tollmere::e2e {
namespace {

std::vector<std::string> ChildEnvironment(const std::vector<EnvChange>& changes) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& [changed, value] : changes) replaced = replaced || changed == name;
    if (!replaced) env.push_back(entry);
  }
  // A later change to the same name wins, so callers can add to a base set.
  for (std::size_t i = 0; i < changes.size(); ++i) {
    const auto& [name, value] = changes[i];
    bool overridden = false;
    for (std::size_t j = i + 1; j < changes.size(); ++j)
      overridden = overridden || changes[j].first == name;
    if (value && !overridden) env.push_back(name + "=" + *value);
  }
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

pid_t Spawn(const SpawnOptions& options) {
  if (options.argv.empty()) throw std::invalid_argument("Spawn: empty argv");
  // Everything the child needs is prepared before fork: after it only
  // async-signal-safe calls are allowed (we may have threads).
  std::vector<std::string> args = options.argv;
  std::vector<std::string> env = ChildEnvironment(options.env);
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(env);

  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  int status_pipe[2];
  if (null_fd < 0 || pipe2(status_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("Spawn: ") + std::strerror(errno));
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));

  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    for (int sig = 1; sig < NSIG; ++sig) {
      if (sig != SIGKILL && sig != SIGSTOP) signal(sig, SIG_DFL);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    dup2(null_fd, STDIN_FILENO);
    dup2(options.stdout_fd >= 0 ? options.stdout_fd : null_fd, STDOUT_FILENO);
    dup2(options.stderr_fd >= 0 ? options.stderr_fd : null_fd, STDERR_FILENO);
    for (int fd : options.inherit_fds) fcntl(fd, F_SETFD, 0);
    execvpe(argv[0], argv.data(), envp.data());
    const int err = errno;
    (void)!write(status_pipe[1], &err, sizeof err);
    _exit(127);
  }

  close(null_fd);
  close(status_pipe[1]);
  int err = 0;
  ssize_t n;
  do {
    n = read(status_pipe[0], &err, sizeof err);
  } while (n < 0 && errno == EINTR);
  close(status_pipe[0]);
  if (n == static_cast<ssize_t>(sizeof err)) {
    waitpid(pid, nullptr, 0);
    throw std::runtime_error("cannot run " + options.argv[0] + ": " + std::strerror(err));
  }
  return pid;
}

std::optional<int> WaitForPid(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return status;
    if (r < 0 && errno != EINTR) return std::nullopt;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::optional<std::string> ReadFirstLine(int fd, std::chrono::milliseconds timeout) {
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (text.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd pfd{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) == 0) break;
    char buf[256];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  const std::size_t end = text.find('\n');
  if (end == std::string::npos) return std::nullopt;
  return text.substr(0, end);
}

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  const std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string file = dirs.substr(start, end - start) + "/" + program;
    if (access(file.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

int TempFile() {
  const int fd = open("/tmp", O_TMPFILE | O_RDWR | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot create a temporary file in /tmp");
  return fd;
}

std::string ReadTail(int fd, std::size_t limit) {
  const off_t size = lseek(fd, 0, SEEK_END);
  if (size <= 0) return {};
  const off_t from = size > static_cast<off_t>(limit) ? size - static_cast<off_t>(limit) : 0;
  std::string text(static_cast<std::size_t>(size - from), '\0');
  const ssize_t n = pread(fd, text.data(), text.size(), from);
  text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return text;
}

std::string DescribeWaitStatus(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    return "killed by signal " + std::to_string(sig) + " (" + strsignal(sig) + ")";
  }
  return "wait status " + std::to_string(status);
}

}  // namespace tollmere::e2e
