#include "key_injection/backends/evdev_keys.h"

#include <linux/input-event-codes.h>

#include <string>

#include "key_injection/key_table.h"

namespace tollmere::key_injection {

// The table's numbers against the kernel's names, one key of each kind.
static_assert(KeyNamesFor(' ').evdev == KEY_SPACE);
static_assert(KeyNamesFor('0').evdev == KEY_0 && KeyNamesFor('9').evdev == KEY_9);
static_assert(KeyNamesFor('Q').evdev == KEY_Q && KeyNamesFor('Z').evdev == KEY_Z);
static_assert(KeyNamesFor(0x70).evdev == KEY_F1 && KeyNamesFor(0x7B).evdev == KEY_F12 &&
              KeyNamesFor(0x87).evdev == KEY_F24);
static_assert(KeyNamesFor(0x2E).evdev == KEY_DELETE && KeyNamesFor(0x13).evdev == KEY_PAUSE);
static_assert(KeyNamesFor(0x60).evdev == KEY_KP0 && KeyNamesFor(0x61).evdev == KEY_KP1 &&
              KeyNamesFor(0x69).evdev == KEY_KP9 && KeyNamesFor(0x6F).evdev == KEY_KPSLASH &&
              KeyNamesFor(0x6E).evdev == KEY_KPDOT && KeyNamesFor(0x6A).evdev == KEY_KPASTERISK);
static_assert(KeyNamesFor(0xBA).evdev == KEY_SEMICOLON &&
              KeyNamesFor(0xDE).evdev == KEY_APOSTROPHE && KeyNamesFor(0xC0).evdev == KEY_GRAVE &&
              KeyNamesFor(0xDC).evdev == KEY_BACKSLASH);
static_assert(KeyNamesFor(0xA0).evdev == KEY_LEFTSHIFT &&
              KeyNamesFor(0xA1).evdev == KEY_RIGHTSHIFT &&
              KeyNamesFor(0xA2).evdev == KEY_LEFTCTRL && KeyNamesFor(0xA3).evdev == KEY_RIGHTCTRL &&
              KeyNamesFor(0xA4).evdev == KEY_LEFTALT && KeyNamesFor(0xA5).evdev == KEY_RIGHTALT &&
              KeyNamesFor(0x5B).evdev == KEY_LEFTMETA && KeyNamesFor(0x5C).evdev == KEY_RIGHTMETA);
static_assert(KeyNamesFor(0x14).evdev == KEY_CAPSLOCK && KeyNamesFor(0x90).evdev == KEY_NUMLOCK &&
              KeyNamesFor(0x91).evdev == KEY_SCROLLLOCK);

std::uint16_t EvdevCodeFor(std::uint8_t vk) { return KeyNamesFor(vk).evdev; }

std::string EvdevKeyProblem(std::uint8_t vk) {
  if (EvdevCodeFor(vk) != 0) return {};
  return "Key code " + std::to_string(vk) +
         " is no key of a standard keyboard, so it cannot be sent. Choose one of: " + kKeyNames +
         ".";
}

}  // namespace tollmere::key_injection
