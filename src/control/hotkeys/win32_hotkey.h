#pragma once
// The global hotkey on Windows: RegisterHotKey on the window, WM_HOTKEY
// through the window's message hook.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "control/hotkeys/hotkey_text.h"

namespace tollmere::control {

class Win32Hotkey {
 public:
  // `pressed` runs at each press; `notice` gets what the user should know
  // about the hotkey, and "" once that no longer holds.
  Win32Hotkey(HWND window, std::function<void()> pressed,
              std::function<void(const std::string&)> notice);
  ~Win32Hotkey();
  Win32Hotkey(const Win32Hotkey&) = delete;
  Win32Hotkey& operator=(const Win32Hotkey&) = delete;

  // Toggles on `text` (ParseHotkey's grammar) from every window from now on,
  // instead of any earlier one; not one that uses `held_vk`, the key the
  // window holds. The refusal, also given as the notice when the system will
  // not give the key, or "" when done.
  // `still_held_modifier`, if not 0, is a modifier still down from before a
  // change of key: the hotkey must end that hold too.
  std::string Set(const std::string& text, std::uint8_t held_vk,
                  std::uint8_t still_held_modifier = 0);
  // The one in force, if any.
  const std::optional<Hotkey>& Current() const { return hotkey_; }

  // The window's message hook: answers WM_HOTKEY for this hotkey. The
  // hotkey must outlive the window's use of it.
  std::optional<LRESULT> Handle(UINT message, WPARAM wparam, LPARAM lparam);
  std::function<std::optional<LRESULT>(UINT, WPARAM, LPARAM)> Hook() {
    return [this](UINT message, WPARAM wparam, LPARAM lparam) {
      return Handle(message, wparam, lparam);
    };
  }

 private:
  bool Register(const Hotkey& hotkey);
  void Unregister();

  HWND window_;
  std::function<void()> pressed_;
  std::function<void(const std::string&)> notice_;
  std::optional<Hotkey> hotkey_;
};

}  // namespace tollmere::control
