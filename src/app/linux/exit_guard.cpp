#include "app/linux/exit_guard.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <exception>

namespace tollmere::app {
namespace {

int g_pipe[2] = {-1, -1};
std::function<void()>* g_release = nullptr;
std::function<void()>* g_stop_hold = nullptr;
std::atomic_flag g_released_in_handler = ATOMIC_FLAG_INIT;
struct sigaction g_previous[NSIG];

constexpr int kFaults[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGSYS, SIGABRT};
constexpr int kStops[] = {SIGTSTP, SIGTTIN, SIGTTOU};

template <std::size_t N>
bool In(const int (&list)[N], int sig) {
  return std::ranges::find(list, sig) != std::end(list);
}

// A fault of our own, not a signal some process sent: the event loop will
// not run again, so the keys are let go here. Also abort() (std::terminate,
// a sanitizer's report).
bool FaultOfOurOwn(int sig, const siginfo_t* info) {
  if (info == nullptr) return false;
  if (sig == SIGABRT) return info->si_pid == getpid();
  return In(kFaults, sig) && info->si_code > 0;
}

void OnSignal(int sig, siginfo_t* info, void*) {
  if (FaultOfOurOwn(sig, info)) {
    // Not async-signal-safe, but the process is ending anyway; should the
    // release hang on a lock the fault left held, the alarm ends it.
    if (!g_released_in_handler.test_and_set()) {
      std::signal(SIGALRM, SIG_DFL);
      alarm(2);
      (*g_release)();
    }
    // What would have happened without us happens now, in the handler
    // before ours: a fault comes again on return; an abort is raised again.
    sigaction(sig, &g_previous[sig], nullptr);
    if (sig == SIGABRT) raise(sig);
    return;
  }
  // Only async-signal-safe work here: hand the signal to the event loop.
  const unsigned char byte = static_cast<unsigned char>(sig);
  (void)!write(g_pipe[1], &byte, 1);
}

void OnTerminate() {
  if (g_release != nullptr) (*g_release)();
  std::abort();
}

void OnSignalInLoop() {
  unsigned char sig = 0;
  if (read(g_pipe[0], &sig, 1) != 1) return;
  if (In(kStops, sig)) {
    // Stopped, the program could not let the key up: end the hold, then
    // stop as asked; after SIGCONT it goes on idle.
    (*g_stop_hold)();
    (*g_release)();
    std::raise(SIGSTOP);
    return;
  }
  (*g_release)();
  // End the way the signal would have ended us.
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

}  // namespace

std::vector<int> GuardedSignals() {
  std::vector<int> guarded = {SIGINT,    SIGTERM, SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2,   SIGALRM,
                              SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGIO,   SIGSTKFLT, SIGPWR};
  guarded.insert(guarded.end(), std::begin(kFaults), std::end(kFaults));
  guarded.insert(guarded.end(), std::begin(kStops), std::end(kStops));
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) guarded.push_back(sig);
  return guarded;
}

void InstallExitGuard(std::function<void()> release, std::function<void()> stop_hold) {
  g_release = new std::function<void()>(std::move(release));
  g_stop_hold = new std::function<void()>(std::move(stop_hold));
  std::set_terminate(OnTerminate);
  // A reader of our output that went away (a pipe to `grep -m1`) is no
  // reason to end the program: the write fails and the hold goes on.
  std::signal(SIGPIPE, SIG_IGN);

  if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier =
      new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, OnSignalInLoop);

  struct sigaction action = {};
  action.sa_sigaction = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int sig : GuardedSignals()) {
    // A signal ignored when we started (nohup, a shell's background job)
    // stays ignored: the user asked for the program to outlive it.
    struct sigaction& previous = g_previous[sig];
    if (sigaction(sig, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    // Not restarted for a stop: a background write to the terminal that
    // raised SIGTTOU would raise it again at once, before the loop runs.
    action.sa_flags = SA_SIGINFO | (In(kStops, sig) ? 0 : SA_RESTART);
    sigaction(sig, &action, nullptr);
  }
}

}  // namespace tollmere::app
