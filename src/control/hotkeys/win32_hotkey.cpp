#include "control/hotkeys/win32_hotkey.h"

#include <utility>

namespace tollmere::control {

namespace {

constexpr int kHotkeyId = 1;
// The same with the modifier Tollmere holds: the user's press comes with it.
constexpr int kWithHeldId = 2;

// hotkey_text.cpp keeps its own copy of these to stay free of windows.h.
static_assert(VK_F1 == 0x70 && VK_F24 == 0x87 && VK_INSERT == 0x2D && VK_DELETE == 0x2E &&
              VK_HOME == 0x24 && VK_END == 0x23 && VK_PRIOR == 0x21 && VK_NEXT == 0x22 &&
              VK_UP == 0x26 && VK_DOWN == 0x28 && VK_LEFT == 0x25 && VK_RIGHT == 0x27 &&
              VK_PAUSE == 0x13 && VK_SNAPSHOT == 0x2C && VK_SCROLL == 0x91 && VK_APPS == 0x5D &&
              VK_ESCAPE == 0x1B && VK_TAB == 0x09 && VK_RETURN == 0x0D && VK_BACK == 0x08);

UINT Modifiers(const Hotkey& hotkey) {
  // MOD_NOREPEAT: a key held down toggles once, not at every autorepeat.
  return (hotkey.ctrl ? MOD_CONTROL : 0u) | (hotkey.alt ? MOD_ALT : 0u) |
         (hotkey.shift ? MOD_SHIFT : 0u) | (hotkey.super ? MOD_WIN : 0u) | MOD_NOREPEAT;
}

}  // namespace

Win32Hotkey::Win32Hotkey(HWND window, std::function<void()> pressed,
                         std::function<void(const std::string&)> notice)
    : window_(window), pressed_(std::move(pressed)), notice_(std::move(notice)) {}

Win32Hotkey::~Win32Hotkey() {
  if (hotkey_) Unregister();
}

bool Win32Hotkey::Register(const Hotkey& hotkey) {
  if (!RegisterHotKey(window_, kHotkeyId, Modifiers(hotkey), hotkey.virtual_key)) return false;
  // Without it, the hotkey could not end a hold of that modifier; with it
  // taken elsewhere, the hotkey still works otherwise.
  if (const Hotkey pressed = AsPressedWhileHeld(hotkey); !(pressed == hotkey))
    RegisterHotKey(window_, kWithHeldId, Modifiers(pressed), hotkey.virtual_key);
  return true;
}

void Win32Hotkey::Unregister() {
  UnregisterHotKey(window_, kHotkeyId);
  UnregisterHotKey(window_, kWithHeldId);
}

std::string Win32Hotkey::Set(const std::string& text, std::uint8_t held_vk,
                             std::uint8_t still_held_modifier) {
  const HotkeyParse parsed = ParseHotkey(text, held_vk);
  if (!parsed.hotkey) return "--hotkey: " + parsed.error;
  Hotkey hotkey = *parsed.hotkey;
  if (still_held_modifier != 0) hotkey.held_modifier = still_held_modifier;
  if (hotkey_) Unregister();
  if (Register(hotkey)) {
    hotkey_ = hotkey;
    notice_("");
    return {};
  }
  const DWORD error = GetLastError();
  const std::string why =
      error == ERROR_HOTKEY_ALREADY_REGISTERED
          ? "The hotkey " + text + " is taken by another program"
          : "The hotkey " + text + " cannot be used here (error " + std::to_string(error) + ")";
  // The one there was stays.
  if (hotkey_ && Register(*hotkey_))
    return why + "; " + HotkeyName(*hotkey_) + " stays the hotkey.";
  hotkey_.reset();
  const std::string problem = why + "; Tollmere works without it.";
  notice_(problem);
  return problem;
}

std::optional<LRESULT> Win32Hotkey::Handle(UINT message, WPARAM wparam, LPARAM) {
  if (message != WM_HOTKEY || (wparam != kHotkeyId && wparam != kWithHeldId)) return std::nullopt;
  pressed_();
  return 0;
}

}  // namespace tollmere::control
