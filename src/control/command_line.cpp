#include "control/command_line.h"

#include "hold_sequencer/hold_settings.h"

namespace tollmere::control {

namespace {

constexpr std::string_view kIntervalOption = "--interval=";
constexpr std::string_view kHotkeyOption = "--hotkey=";
constexpr std::string_view kBackendOption = "--backend=";

// "--key=A" as ("key", "A") when it names a setting.
std::optional<std::pair<std::string, std::string>> SettingOption(const std::string& arg) {
  for (std::string_view name : hold_sequencer::kSettingNames) {
    const std::string prefix = "--" + std::string(name) + "=";
    if (arg.starts_with(prefix)) return std::pair(std::string(name), arg.substr(prefix.size()));
  }
  return std::nullopt;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args, const Backends& backends) {
  CommandLine out;
  // The settings' text is judged here, so that a typing mistake is an
  // option this command cannot take; the window takes it the same way.
  hold_sequencer::HoldSettings scratch;
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
    } else if (auto setting = SettingOption(arg)) {
      out.error = hold_sequencer::ApplySetting(scratch, setting->first, setting->second);
      out.request.settings.push_back(std::move(*setting));
    } else if (arg.starts_with(kHotkeyOption)) {
      const std::string text = arg.substr(kHotkeyOption.size());
      // Against the key this command holds; a running window checks its own.
      HotkeyParse parsed = ParseHotkey(text, scratch.key);
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
         "                [--key=NAME] [--hold=twice|until-stopped] [--repeat=N|forever]\n"
         "                [--gap=MS] [--countdown=S]\n"
         "                [--start | --stop | --toggle] [--new-window]\n"
         "Holds the space bar for you: type an interval in milliseconds, click Start;\n"
         "after a countdown of 4 seconds the space bar is held for two intervals.\n"
         "\n"
         "  --interval=MS  put MS in the interval box\n"
         "  --key=NAME     hold this key instead of the space bar: A-Z, 0-9, F1-F24,\n"
         "                 Space, Enter, Tab, Escape, Backspace, Delete, Insert, Home,\n"
         "                 End, PageUp, PageDown, Up, Down, Left, Right, Numpad0-9,\n"
         "                 NumpadAdd, NumpadSubtract, NumpadMultiply, NumpadDivide,\n"
         "                 NumpadDecimal, Semicolon, Equal, Comma, Minus, Period, Slash,\n"
         "                 Grave, BracketLeft, Backslash, BracketRight, Apostrophe,\n"
         "                 CapsLock, NumLock, ScrollLock, Pause, Print, Menu, LeftShift,\n"
         "                 RightShift, LeftCtrl, RightCtrl, LeftAlt, RightAlt, LeftSuper,\n"
         "                 RightSuper (any case; also Esc, PgUp, Ctrl, Alt, Shift, ; / .)\n"
         "  --hold=twice   hold for two intervals (the default)\n"
         "  --hold=until-stopped\n"
         "                 hold until Stop, --stop, --toggle or the hotkey; no interval\n"
         "                 needed. With --countdown=0 and --hotkey, one press holds the\n"
         "                 key and the next lets it go\n"
         "  --repeat=N     hold N times in all (default 1), or forever, until stopped\n"
         "  --gap=MS       between repeats, keep the key up MS ms (default: one interval)\n"
         "  --countdown=S  count down S seconds before the key goes down, 0 to 60\n"
         "                 (default 4; 0 presses at once)\n"
         "  --start        start the countdown if it is idle\n"
         "  --stop         end the countdown or the hold now, releasing the key\n"
         "  --toggle       start when idle, else stop\n"
         "  --hotkey=KEY   toggle with KEY from any window: F8, Ctrl+Alt+H, Super+F8,\n"
         "                 Shift+F12. Modifiers Ctrl, Alt, Shift, Super (Win); keys\n"
         "                 any key --key takes, other than a modifier, and other than\n"
         "                 the key Tollmere holds. Where the desktop\n"
         "                 offers no global hotkey, bind its own shortcut to\n"
         "                 'tollmere --toggle' instead.\n"
         "  --backend=NAME send keystrokes this way instead of choosing by the session:\n" +
         backends.help +
         "  --trace        write captions and keystrokes, with times, to standard error\n"
         "  --new-window   open another window even with Tollmere running\n"
         "  --help         show this help and exit\n"
         "  --version      show the version and exit\n"
         "\n"
         "With Tollmere already running, --interval, the settings, --hotkey, --start,\n"
         "--stop and --toggle go to it and this command exits at once: 0 when done,\n"
         "1 when it refused or failed (the window says why), 2 for an option it\n"
         "cannot take. With none running, a window opens and carries them out\n"
         "(--stop alone then only says that nothing was running). A plain start\n"
         "brings the running window forward. Settings last until the window closes;\n"
         "right-click the window to change them there.\n";
}

}  // namespace tollmere::control
