#pragma once

#include <cstdint>

namespace tollmere::key_injection {

// A key that a virtual-key code names without a modifier, as each kind of
// back end names it: the Linux input-event code (KEY_*) for those below the
// display server, the X keysym (XK_*) for XTest. Plain numbers, so that one
// table serves every back end; each back end checks it against its own
// headers when it is compiled.
struct KeyNames {
  std::uint16_t evdev = 0;   // 0: no such key
  std::uint32_t keysym = 0;  // 0: NoSymbol
};

constexpr KeyNames KeyNamesFor(std::uint8_t vk) {
  // Letter keys follow the keyboard's rows, not the alphabet.
  constexpr std::uint16_t kLetterCodes[26] = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                              49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};
  constexpr std::uint16_t kFunctionCodes[24] = {59,  60,  61,  62,  63,  64,  65,  66,
                                                67,  68,  87,  88,  183, 184, 185, 186,
                                                187, 188, 189, 190, 191, 192, 193, 194};
  if (vk == '0') return {11, 0x30};  // 0 sits after 9
  if (vk >= '1' && vk <= '9') return {std::uint16_t(2 + (vk - '1')), std::uint32_t(vk)};
  if (vk >= 'A' && vk <= 'Z') return {kLetterCodes[vk - 'A'], std::uint32_t(0x61 + (vk - 'A'))};
  if (vk >= 0x70 && vk <= 0x87)
    return {kFunctionCodes[vk - 0x70], std::uint32_t(0xffbe + (vk - 0x70))};
  switch (vk) {
    case 0x08: return {14, 0xff08};   // BackSpace
    case 0x09: return {15, 0xff09};   // Tab
    case 0x0D: return {28, 0xff0d};   // Return
    case 0x10: return {42, 0xffe1};   // Shift_L
    case 0x11: return {29, 0xffe3};   // Control_L
    case 0x12: return {56, 0xffe9};   // Alt_L
    case 0x13: return {119, 0xff13};  // Pause
    case 0x14: return {58, 0xffe5};   // Caps_Lock
    case 0x1B: return {1, 0xff1b};    // Escape
    case 0x20: return {57, 0x0020};   // space
    case 0x21: return {104, 0xff55};  // Prior (Page Up)
    case 0x22: return {109, 0xff56};  // Next (Page Down)
    case 0x23: return {107, 0xff57};  // End
    case 0x24: return {102, 0xff50};  // Home
    case 0x25: return {105, 0xff51};  // Left
    case 0x26: return {103, 0xff52};  // Up
    case 0x27: return {106, 0xff53};  // Right
    case 0x28: return {108, 0xff54};  // Down
    case 0x2D: return {110, 0xff63};  // Insert
    case 0x2E: return {111, 0xffff};  // Delete
    default: return {};
  }
}

}  // namespace tollmere::key_injection
