#include "control/command_line.h"

#include "control/hotkeys/win32_hotkey.h"

namespace tollmere::main_window {

namespace {

constexpr std::string_view kIntervalOption = "--interval=";
constexpr std::string_view kHotkeyOption = "--hotkey=";
constexpr std::string_view kIntervalRequest = "interval=";
constexpr std::string_view kHotkeyRequest = "hotkey=";

}  // namespace

bool IsIntervalText(std::string_view text) {
  if (text.size() > kMaxIntervalText) return false;
  for (const char c : text) {
    if (c < 0x20 || c > 0x7e) return false;
  }
  return true;
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine out;
  const auto set_action = [&out](Action action) {
    if (out.action != Action::kNone && out.action != action) {
      out.error = "use only one of --start, --stop and --toggle";
    }
    out.action = action;
  };
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h" || arg == "/?") {
      out.help = true;
    } else if (arg == "--version") {
      out.version = true;
    } else if (arg == "--start") {
      set_action(Action::kStart);
    } else if (arg == "--stop") {
      set_action(Action::kStop);
    } else if (arg == "--toggle") {
      set_action(Action::kToggle);
    } else if (arg.starts_with(kIntervalOption)) {
      out.interval = arg.substr(kIntervalOption.size());
      if (!IsIntervalText(*out.interval)) {
        out.error = "the interval is at most " + std::to_string(kMaxIntervalText) +
                    " plain characters, e.g. --interval=500";
      }
    } else if (arg.starts_with(kHotkeyOption)) {
      out.hotkey = arg.substr(kHotkeyOption.size());
      if (!ParseWin32Hotkey(*out.hotkey)) {
        out.error = "'" + *out.hotkey + "' is not a hotkey: use " + kHotkeySyntax;
      }
    } else {
      out.error = "unknown option '" + arg + "'";
    }
    if (!out.error.empty()) return out;
  }
  return out;
}

std::string Usage() {
  return "Usage: tollmere [--start | --stop | --toggle] [--interval=MS] [--hotkey=KEY]\n"
         "Holds the space bar for you: type an interval in milliseconds, click Start;\n"
         "after a countdown of 4 seconds the space bar is held for two intervals.\n"
         "\n"
         "  --start        start the countdown (when none is running)\n"
         "  --stop         end the countdown or the hold at once, releasing the key\n"
         "  --toggle       start when idle, else stop\n"
         "  --interval=MS  put MS into the interval box first\n"
         "  --hotkey=KEY   toggle with KEY from any window, e.g. F8, Ctrl+Alt+H,\n"
         "                 Shift+F12, Win+F8 (F1-F24, A-Z, 0-9, Insert, Delete, Home,\n"
         "                 End, PageUp, PageDown, arrows, Pause, Escape, Tab, Enter)\n"
         "  --help         show this help and exit\n"
         "  --version      show the version and exit\n"
         "\n"
         "With a Tollmere window already open, the options go to it and this\n"
         "command exits at once; otherwise a window opens and carries them out\n"
         "(--stop then only says that nothing was running).\n";
}

std::vector<std::string> EncodeRequests(const CommandLine& command_line) {
  std::vector<std::string> out;
  if (command_line.interval) out.push_back(std::string(kIntervalRequest) + *command_line.interval);
  if (command_line.hotkey) out.push_back(std::string(kHotkeyRequest) + *command_line.hotkey);
  switch (command_line.action) {
    case Action::kNone: break;
    case Action::kStart: out.push_back("start"); break;
    case Action::kStop: out.push_back("stop"); break;
    case Action::kToggle: out.push_back("toggle"); break;
  }
  return out;
}

std::optional<Request> DecodeRequest(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > kMaxRequestBytes) return std::nullopt;
  if (bytes == "start") return Request{Request::Kind::kStart, {}};
  if (bytes == "stop") return Request{Request::Kind::kStop, {}};
  if (bytes == "toggle") return Request{Request::Kind::kToggle, {}};
  if (bytes.starts_with(kIntervalRequest)) {
    const std::string_view text = bytes.substr(kIntervalRequest.size());
    if (!IsIntervalText(text)) return std::nullopt;
    return Request{Request::Kind::kInterval, std::string(text)};
  }
  if (bytes.starts_with(kHotkeyRequest)) {
    const std::string_view text = bytes.substr(kHotkeyRequest.size());
    if (!ParseWin32Hotkey(text)) return std::nullopt;
    return Request{Request::Kind::kHotkey, std::string(text)};
  }
  return std::nullopt;
}

}  // namespace tollmere::main_window
