#include "main_window/exit_guard.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdlib>
#include <exception>

namespace tollmere::main_window {
namespace {

int g_pipe[2] = {-1, -1};
std::function<void()>* g_release = nullptr;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Only async-signal-safe work here: hand the signal to the event loop.
void OnSignal(int sig) {
  const unsigned char byte = static_cast<unsigned char>(sig);
  (void)!write(g_pipe[1], &byte, 1);
}

void OnTerminate() {
  if (g_release != nullptr) (*g_release)();
  std::abort();
}

}  // namespace

void InstallExitGuard(std::function<void()> release) {
  g_release = new std::function<void()>(std::move(release));
  std::set_terminate(OnTerminate);

  if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier =
      new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, [] {
    unsigned char sig = 0;
    if (read(g_pipe[0], &sig, 1) != 1) return;
    (*g_release)();
    // End the way the signal would have ended us.
    std::signal(sig, SIG_DFL);
    std::raise(sig);
  });

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : kSignals) {
    // A signal ignored when we started (nohup, a shell's background job)
    // stays ignored: the user asked for the program to outlive it.
    struct sigaction previous {};
    if (sigaction(sig, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    sigaction(sig, &action, nullptr);
  }
}

}  // namespace tollmere::main_window
