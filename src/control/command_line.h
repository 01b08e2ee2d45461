#pragma once
// The command line, one for every system: the same options, meanings, exit
// statuses and help text. Plain C++; each main() reads it and acts.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/hotkeys/hotkey_text.h"
#include "control/request.h"

namespace tollmere::control {

// The exit statuses: done; refused or failed (the reason on standard error
// and in the window); an option that cannot be taken.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

struct CommandLine {
  // For a running Tollmere, or for the window this process opens.
  Request request;
  std::optional<Hotkey> hotkey;  // --hotkey, read
  std::string backend;           // --backend's name; empty: chosen by the session
  bool trace = false;
  bool new_window = false;
  bool help = false;
  bool version = false;
  // Set when the options cannot be taken; the program says it and exits kExitUsage.
  std::string error;
};

// The system's keystroke back ends, for --backend and the help.
struct Backends {
  std::function<bool(std::string_view)> known;
  std::string names;  // "auto, xtest, ..." for messages
  std::string help;   // one line or more each, indented
};

// `args` without the program's name.
CommandLine ParseCommandLine(const std::vector<std::string>& args, const Backends& backends);

std::string Usage(const Backends& backends);

}  // namespace tollmere::control
