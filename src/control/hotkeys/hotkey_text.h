#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tollmere::main_window {

// A global hotkey as --hotkey names it: modifiers and one key.
struct Hotkey {
  bool ctrl = false;
  bool alt = false;
  bool shift = false;
  bool super = false;
  // The key's X keysym name, which is also XKB's: "F8", "h", "0", "Pause".
  std::string keysym;

  bool operator==(const Hotkey&) const = default;
};

struct HotkeyParse {
  std::optional<Hotkey> hotkey;
  std::string error;  // why the text names no hotkey; empty when it does
};

// "F8", "Ctrl+Alt+H", "super+f8": modifiers Ctrl (Control), Alt, Shift,
// Super (Meta) in any case and order, then F1-F24, A-Z, 0-9 or a named key
// (Pause, Insert, Home, End, Delete, PageUp, PageDown, Print, ScrollLock).
HotkeyParse ParseHotkey(std::string_view text);

// For messages: "Ctrl+Alt+H".
std::string HotkeyName(const Hotkey& hotkey);

// The desktop portal's trigger format: "CTRL+ALT+h", "F8".
std::string PortalTrigger(const Hotkey& hotkey);

}  // namespace tollmere::main_window
