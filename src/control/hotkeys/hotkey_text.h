#pragma once
// The one grammar of --hotkey, on every system: modifiers, then one key.
// Plain C++: each system's hotkey turns the result into what it registers.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tollmere::control {

// A global hotkey as --hotkey names it: modifiers and one key.
struct Hotkey {
  bool ctrl = false;
  bool alt = false;
  bool shift = false;
  bool super = false;
  // The key's X keysym name, which is also XKB's: "F8", "h", "0", "Prior".
  std::string keysym;
  // The same key's Windows virtual-key code: what RegisterHotKey takes.
  std::uint8_t virtual_key = 0;
  // A modifier Tollmere holds down (its virtual-key code), or 0: the hotkey
  // must also work while it is down, or it could not end that hold.
  std::uint8_t held_modifier = 0;

  bool operator==(const Hotkey&) const = default;
};

struct HotkeyParse {
  std::optional<Hotkey> hotkey;
  std::string error;  // why the text names no hotkey; empty when it does
};

// "F8", "Ctrl+Alt+H", "super+f8": modifiers Ctrl (Control), Alt, Shift and
// Super (Win, Meta) in any case and order, then one key that --key also
// names, other than a modifier. Not one that uses `held_vk`, the key
// Tollmere holds: its own keystrokes would work the hotkey.
HotkeyParse ParseHotkey(std::string_view text, std::uint8_t held_vk = 0x20);

// Why `hotkey` cannot be used while Tollmere holds `held_vk` (its key, or one
// of its modifiers), or "".
std::string HotkeyClash(const Hotkey& hotkey, std::uint8_t held_vk);

// `hotkey` as it arrives while Tollmere holds its held_modifier: with that
// modifier too (the same hotkey when it holds none).
Hotkey AsPressedWhileHeld(const Hotkey& hotkey);

// For messages: "Ctrl+Alt+H".
std::string HotkeyName(const Hotkey& hotkey);

// The desktop portal's trigger format: "CTRL+ALT+h", "F8".
std::string PortalTrigger(const Hotkey& hotkey);

}  // namespace tollmere::control
