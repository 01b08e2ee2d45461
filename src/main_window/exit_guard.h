#pragma once

#include <functional>

namespace tollmere::main_window {

// Runs `release` on every way out of the program that a process can catch:
// SIGINT, SIGTERM and SIGHUP (through the event loop, then the signal's own
// ending, so the parent sees how the program ended), and std::terminate.
// Signals ignored at start stay ignored. `release` must be safe to call
// more than once.
void InstallExitGuard(std::function<void()> release);

}  // namespace tollmere::main_window
