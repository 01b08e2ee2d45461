#include "control/command_line.h"

namespace tollmere::control {

namespace {

constexpr std::string_view kIntervalOption = "--interval=";
constexpr std::string_view kHotkeyOption = "--hotkey=";
constexpr std::string_view kBackendOption = "--backend=";

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args, const Backends& backends) {
  CommandLine out;
  const auto set_action = [&out](Action action) {
    if (out.request.action != Action::kNone && out.request.action != action) {
      out.error = "use only one of --start, --stop and --toggle";
    }
    out.request.action = action;
  };
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h" || arg == "/?") {
      out.help = true;
    } else if (arg == "--version") {
      out.version = true;
    } else if (arg == "--trace") {
      out.trace = true;
    } else if (arg == "--new-window") {
      out.new_window = true;
    } else if (arg == "--start") {
      set_action(Action::kStart);
    } else if (arg == "--stop") {
      set_action(Action::kStop);
    } else if (arg == "--toggle") {
      set_action(Action::kToggle);
    } else if (arg.starts_with(kIntervalOption)) {
      // The box applies its own rules, and the window shows its refusal.
      out.request.interval = arg.substr(kIntervalOption.size());
    } else if (arg.starts_with(kHotkeyOption)) {
      const std::string text = arg.substr(kHotkeyOption.size());
      HotkeyParse parsed = ParseHotkey(text);
      if (parsed.hotkey) {
        out.hotkey = std::move(parsed.hotkey);
        out.request.hotkey = text;
      } else {
        out.error = "--hotkey: " + parsed.error;
      }
    } else if (arg.starts_with(kBackendOption)) {
      out.backend = arg.substr(kBackendOption.size());
      if (!backends.known(out.backend)) {
        out.error = "unknown back end '" + out.backend + "': use one of " + backends.names;
      }
    } else {
      out.error = "unknown option '" + arg + "'";
    }
    if (!out.error.empty()) return out;
  }
  return out;
}

std::string Usage(const Backends& backends) {
  return "Usage: tollmere [--trace] [--hotkey=KEY] [--backend=NAME] [--interval=MS]\n"
         "                [--start | --stop | --toggle] [--new-window]\n"
         "Holds the space bar for you: type an interval in milliseconds, click Start;\n"
         "after a countdown of 4 seconds the space bar is held for two intervals.\n"
         "\n"
         "  --interval=MS  put MS in the interval box\n"
         "  --start        start the countdown if it is idle\n"
         "  --stop         end the countdown or the hold now, releasing the key\n"
         "  --toggle       start when idle, else stop\n"
         "  --hotkey=KEY   toggle with KEY from any window: F8, Ctrl+Alt+H, Super+F8,\n"
         "                 Shift+F12. Modifiers Ctrl, Alt, Shift, Super (Win); keys\n"
         "                 F1-F24, A-Z, 0-9, Insert, Delete, Home, End, PageUp,\n"
         "                 PageDown, Up, Down, Left, Right, Pause, Print, ScrollLock,\n"
         "                 Menu, Escape, Tab, Enter, Backspace. Where the desktop\n"
         "                 offers no global hotkey, bind its own shortcut to\n"
         "                 'tollmere --toggle' instead.\n"
         "  --backend=NAME send keystrokes this way instead of choosing by the session:\n" +
         backends.help +
         "  --trace        write captions and keystrokes, with times, to standard error\n"
         "  --new-window   open another window even with Tollmere running\n"
         "  --help         show this help and exit\n"
         "  --version      show the version and exit\n"
         "\n"
         "With Tollmere already running, --interval, --hotkey, --start, --stop and\n"
         "--toggle go to it and this command exits at once: 0 when done, 1 when it\n"
         "refused or failed (the window says why), 2 for an option it cannot take.\n"
         "With none running, a window opens and carries them out (--stop alone then\n"
         "only says that nothing was running). A plain start brings the running\n"
         "window forward.\n";
}

}  // namespace tollmere::control
