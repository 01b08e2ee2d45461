#pragma once
// The one key table: every key Tollmere can hold or bind, by name, with the
// number each kind of back end knows it by. Plain numbers, so that one table
// serves every system; each back end checks it against its own headers when
// it is compiled.

#include <cstdint>
#include <optional>
#include <string_view>

namespace tollmere::key_injection {

struct Key {
  std::uint8_t vk = 0;           // Windows virtual-key code: the program's key code
  std::uint16_t evdev = 0;       // Linux input-event code (KEY_*)
  std::uint32_t keysym = 0;      // X keysym (XK_*)
  std::uint16_t scan = 0;        // set-1 make code, 0xE0xx for extended keys; 0: ask Windows
  std::string_view name;         // as messages show it: "A", "F8", "LeftShift"
  std::string_view keysym_name;  // X's and XKB's: "a", "F8", "Shift_L"
  bool modifier = false;
};

namespace key_table_detail {

inline constexpr std::string_view kUpper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
inline constexpr std::string_view kLower = "abcdefghijklmnopqrstuvwxyz0123456789";
// Letter keys follow the keyboard's rows, not the alphabet; 0 sits after 9.
inline constexpr std::uint16_t kLetterCodes[36] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38,
                                                   50, 49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45,
                                                   21, 44, 11, 2,  3,  4,  5,  6,  7,  8,  9,  10};
inline constexpr std::string_view kFunctionNames[24] = {
    "F1",  "F2",  "F3",  "F4",  "F5",  "F6",  "F7",  "F8",  "F9",  "F10", "F11", "F12",
    "F13", "F14", "F15", "F16", "F17", "F18", "F19", "F20", "F21", "F22", "F23", "F24"};
inline constexpr std::uint16_t kFunctionCodes[24] = {59,  60,  61,  62,  63,  64,  65,  66,
                                                     67,  68,  87,  88,  183, 184, 185, 186,
                                                     187, 188, 189, 190, 191, 192, 193, 194};
inline constexpr std::uint16_t kFunctionScans[24] = {
    0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x41, 0x42, 0x43, 0x44, 0x57, 0x58,
    0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x76};
inline constexpr std::string_view kNumpadNames[10] = {"Numpad0", "Numpad1", "Numpad2", "Numpad3",
                                                      "Numpad4", "Numpad5", "Numpad6", "Numpad7",
                                                      "Numpad8", "Numpad9"};
inline constexpr std::string_view kNumpadSyms[10] = {"KP_0", "KP_1", "KP_2", "KP_3", "KP_4",
                                                     "KP_5", "KP_6", "KP_7", "KP_8", "KP_9"};
inline constexpr std::uint16_t kNumpadCodes[10] = {82, 79, 80, 81, 75, 76, 77, 71, 72, 73};

// The keys without a pattern.
inline constexpr Key kNamed[] = {
    {0x08, 14, 0xff08, 0x0E, "Backspace", "BackSpace"},
    {0x09, 15, 0xff09, 0x0F, "Tab", "Tab"},
    {0x0D, 28, 0xff0d, 0x1C, "Enter", "Return"},
    {0x13, 119, 0xff13, 0, "Pause", "Pause"},
    {0x14, 58, 0xffe5, 0x3A, "CapsLock", "Caps_Lock"},
    {0x1B, 1, 0xff1b, 0x01, "Escape", "Escape"},
    {0x20, 57, 0x0020, 0x39, "Space", "space"},
    {0x21, 104, 0xff55, 0xE049, "PageUp", "Prior"},
    {0x22, 109, 0xff56, 0xE051, "PageDown", "Next"},
    {0x23, 107, 0xff57, 0xE04F, "End", "End"},
    {0x24, 102, 0xff50, 0xE047, "Home", "Home"},
    {0x25, 105, 0xff51, 0xE04B, "Left", "Left"},
    {0x26, 103, 0xff52, 0xE048, "Up", "Up"},
    {0x27, 106, 0xff53, 0xE04D, "Right", "Right"},
    {0x28, 108, 0xff54, 0xE050, "Down", "Down"},
    {0x2C, 99, 0xff61, 0xE037, "Print", "Print"},
    {0x2D, 110, 0xff63, 0xE052, "Insert", "Insert"},
    {0x2E, 111, 0xffff, 0xE053, "Delete", "Delete"},
    {0x5B, 125, 0xffeb, 0xE05B, "LeftSuper", "Super_L", true},
    {0x5C, 126, 0xffec, 0xE05C, "RightSuper", "Super_R", true},
    {0x5D, 127, 0xff67, 0xE05D, "Menu", "Menu"},
    {0x6A, 55, 0xffaa, 0x37, "NumpadMultiply", "KP_Multiply"},
    {0x6B, 78, 0xffab, 0x4E, "NumpadAdd", "KP_Add"},
    {0x6D, 74, 0xffad, 0x4A, "NumpadSubtract", "KP_Subtract"},
    {0x6E, 83, 0xffae, 0x53, "NumpadDecimal", "KP_Decimal"},
    {0x6F, 98, 0xffaf, 0xE035, "NumpadDivide", "KP_Divide"},
    {0x90, 69, 0xff7f, 0x45, "NumLock", "Num_Lock"},
    {0x91, 70, 0xff14, 0x46, "ScrollLock", "Scroll_Lock"},
    {0xA0, 42, 0xffe1, 0x2A, "LeftShift", "Shift_L", true},
    {0xA1, 54, 0xffe2, 0x36, "RightShift", "Shift_R", true},
    {0xA2, 29, 0xffe3, 0x1D, "LeftCtrl", "Control_L", true},
    {0xA3, 97, 0xffe4, 0xE01D, "RightCtrl", "Control_R", true},
    {0xA4, 56, 0xffe9, 0x38, "LeftAlt", "Alt_L", true},
    {0xA5, 100, 0xffea, 0xE038, "RightAlt", "Alt_R", true},
    {0xBA, 39, 0x003b, 0x27, "Semicolon", "semicolon"},
    {0xBB, 13, 0x003d, 0x0D, "Equal", "equal"},
    {0xBC, 51, 0x002c, 0x33, "Comma", "comma"},
    {0xBD, 12, 0x002d, 0x0C, "Minus", "minus"},
    {0xBE, 52, 0x002e, 0x34, "Period", "period"},
    {0xBF, 53, 0x002f, 0x35, "Slash", "slash"},
    {0xC0, 41, 0x0060, 0x29, "Grave", "grave"},
    {0xDB, 26, 0x005b, 0x1A, "BracketLeft", "bracketleft"},
    {0xDC, 43, 0x005c, 0x2B, "Backslash", "backslash"},
    {0xDD, 27, 0x005d, 0x1B, "BracketRight", "bracketright"},
    {0xDE, 40, 0x0027, 0x28, "Apostrophe", "apostrophe"},
};

}  // namespace key_table_detail

// CapsLock, NumLock and ScrollLock: each press switches what the keyboard
// types, so a hold leaves its lock switched.
constexpr bool IsLockKey(std::uint8_t vk) { return vk == 0x14 || vk == 0x90 || vk == 0x91; }

// The key with virtual-key code `vk`, or nothing when no key of a standard
// keyboard has it.
constexpr std::optional<Key> KeyByVk(std::uint8_t vk) {
  namespace d = key_table_detail;
  const auto alnum = [](std::size_t i, std::uint8_t code) {
    return Key{code,
               d::kLetterCodes[i],
               std::uint32_t(d::kLower[i]),
               d::kLetterCodes[i],
               d::kUpper.substr(i, 1),
               d::kLower.substr(i, 1)};
  };
  if (vk >= 'A' && vk <= 'Z') return alnum(vk - 'A', vk);
  if (vk >= '0' && vk <= '9') return alnum(26 + (vk - '0'), vk);
  if (vk >= 0x70 && vk <= 0x87) {
    const std::size_t i = vk - 0x70;
    return Key{vk,
               d::kFunctionCodes[i],
               std::uint32_t(0xffbe + i),
               d::kFunctionScans[i],
               d::kFunctionNames[i],
               d::kFunctionNames[i]};
  }
  if (vk >= 0x60 && vk <= 0x69) {
    const std::size_t i = vk - 0x60;
    return Key{vk,
               d::kNumpadCodes[i],
               std::uint32_t(0xffb0 + i),
               d::kNumpadCodes[i],
               d::kNumpadNames[i],
               d::kNumpadSyms[i]};
  }
  for (const Key& key : d::kNamed) {
    if (key.vk == vk) return key;
  }
  return std::nullopt;
}

// The key a name gives, in any case: the names KeyByVk shows, a few short
// ones ("Esc", "PgUp", "Ctrl" for LeftCtrl) and the punctuation itself
// (";", "/"). Nothing when no key has that name.
std::optional<Key> KeyNamed(std::string_view name);

// For help and messages: the names KeyNamed takes, in groups.
inline constexpr const char* kKeyNames =
    "A-Z, 0-9, F1-F24, Space, Enter, Tab, Escape, Backspace, Delete, Insert, Home, End, "
    "PageUp, PageDown, Up, Down, Left, Right, Numpad0-Numpad9, NumpadAdd, NumpadSubtract, "
    "NumpadMultiply, NumpadDivide, NumpadDecimal, Semicolon (;), Equal (=), Comma (,), "
    "Minus (-), Period (.), Slash (/), Grave (`), BracketLeft ([), Backslash (\\), "
    "BracketRight (]), Apostrophe ('), CapsLock, NumLock, ScrollLock, Pause, Print, Menu, "
    "LeftShift, RightShift, LeftCtrl, RightCtrl, LeftAlt, RightAlt, LeftSuper, RightSuper";

// A key as each back end names it; zeros where no key has `vk`.
struct KeyNames {
  std::uint16_t evdev = 0;   // 0: no such key
  std::uint32_t keysym = 0;  // 0: NoSymbol
};

constexpr KeyNames KeyNamesFor(std::uint8_t vk) {
  const std::optional<Key> key = KeyByVk(vk);
  return key ? KeyNames{key->evdev, key->keysym} : KeyNames{};
}

}  // namespace tollmere::key_injection
