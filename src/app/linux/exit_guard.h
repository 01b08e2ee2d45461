#pragma once

#include <functional>
#include <vector>

namespace tollmere::app {

// Runs `release` on every way out of the program that a process can catch:
// each signal whose default ends the process (through the event loop, then
// the signal's own ending, so the parent sees how the program ended; a fault
// of the program's own at once, in the handler), and std::terminate. A
// signal that stops the process (SIGTSTP, a background job's SIGTTIN or
// SIGTTOU) runs `stop_hold` and `release` first; after SIGCONT the program
// goes on idle. SIGPIPE is ignored. Signals ignored at start stay ignored.
// `release` must be safe to call more than once.
void InstallExitGuard(std::function<void()> release, std::function<void()> stop_hold);

// The signals InstallExitGuard catches.
std::vector<int> GuardedSignals();

}  // namespace tollmere::app
