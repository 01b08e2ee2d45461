#pragma once
// Reads a hotkey such as "Ctrl+Alt+H" into what RegisterHotKey takes. Plain
// C++ (no windows.h), so it can sit beside the Linux reader of the same
// syntax; form1_win32.cpp checks the numbers against the Windows headers.

#include <optional>
#include <string_view>

namespace tollmere::main_window {

// RegisterHotKey's modifier flags.
inline constexpr unsigned kHotkeyAlt = 0x1;
inline constexpr unsigned kHotkeyControl = 0x2;
inline constexpr unsigned kHotkeyShift = 0x4;
inline constexpr unsigned kHotkeyWin = 0x8;

struct Win32Hotkey {
  unsigned modifiers = 0;    // kHotkey* flags
  unsigned virtual_key = 0;  // a Windows virtual-key code
  bool operator==(const Win32Hotkey&) const = default;
};

// MODIFIER+...+KEY, case-insensitive. Modifiers: Ctrl (Control), Alt, Shift,
// Win (Super). Keys: F1-F24, A-Z, 0-9, Insert, Delete, Home, End, PageUp,
// PageDown, Up, Down, Left, Right, Pause, Escape (Esc), Tab, Enter (Return),
// Backspace. Not the space bar: it is the key Tollmere holds, and its own
// keystrokes would toggle it. Anything else gives nothing.
std::optional<Win32Hotkey> ParseWin32Hotkey(std::string_view text);

// For messages: what --hotkey takes.
inline constexpr const char* kHotkeySyntax =
    "a key (F1-F24, A-Z, 0-9, Insert, Delete, Home, End, PageUp, PageDown, Up, Down, Left, "
    "Right, Pause, Escape, Tab, Enter, Backspace), optionally after Ctrl+, Alt+, Shift+ or Win+, "
    "e.g. F8 or Ctrl+Alt+H";

}  // namespace tollmere::main_window
