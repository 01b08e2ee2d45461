#include "key_injection/evdev_keys.h"

#include <linux/input-event-codes.h>

namespace tollmere::key_injection {

std::uint16_t EvdevCodeFor(std::uint8_t vk) {
  // Letter keys follow the keyboard's rows, not the alphabet.
  static constexpr std::uint16_t kLetters[26] = {
      KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I,
      KEY_J, KEY_K, KEY_L, KEY_M, KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R,
      KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z};
  static constexpr std::uint16_t kFunction[24] = {
      KEY_F1,  KEY_F2,  KEY_F3,  KEY_F4,  KEY_F5,  KEY_F6,  KEY_F7,  KEY_F8,
      KEY_F9,  KEY_F10, KEY_F11, KEY_F12, KEY_F13, KEY_F14, KEY_F15, KEY_F16,
      KEY_F17, KEY_F18, KEY_F19, KEY_F20, KEY_F21, KEY_F22, KEY_F23, KEY_F24};
  if (vk == '0') return KEY_0;
  if (vk >= '1' && vk <= '9') return static_cast<std::uint16_t>(KEY_1 + (vk - '1'));
  if (vk >= 'A' && vk <= 'Z') return kLetters[vk - 'A'];
  if (vk >= 0x70 && vk <= 0x87) return kFunction[vk - 0x70];
  switch (vk) {
    case 0x08: return KEY_BACKSPACE;
    case 0x09: return KEY_TAB;
    case 0x0D: return KEY_ENTER;
    case 0x10: return KEY_LEFTSHIFT;
    case 0x11: return KEY_LEFTCTRL;
    case 0x12: return KEY_LEFTALT;
    case 0x13: return KEY_PAUSE;
    case 0x14: return KEY_CAPSLOCK;
    case 0x1B: return KEY_ESC;
    case 0x20: return KEY_SPACE;
    case 0x21: return KEY_PAGEUP;
    case 0x22: return KEY_PAGEDOWN;
    case 0x23: return KEY_END;
    case 0x24: return KEY_HOME;
    case 0x25: return KEY_LEFT;
    case 0x26: return KEY_UP;
    case 0x27: return KEY_RIGHT;
    case 0x28: return KEY_DOWN;
    case 0x2D: return KEY_INSERT;
    case 0x2E: return KEY_DELETE;
    default: return 0;
  }
}

}  // namespace tollmere::key_injection
