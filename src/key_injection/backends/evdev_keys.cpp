#include "key_injection/backends/evdev_keys.h"

#include <linux/input-event-codes.h>

#include "key_injection/key_table.h"

namespace tollmere::key_injection {

// The table's numbers against the kernel's names, one key of each kind.
static_assert(KeyNamesFor(' ').evdev == KEY_SPACE);
static_assert(KeyNamesFor('0').evdev == KEY_0 && KeyNamesFor('9').evdev == KEY_9);
static_assert(KeyNamesFor('Q').evdev == KEY_Q && KeyNamesFor('Z').evdev == KEY_Z);
static_assert(KeyNamesFor(0x70).evdev == KEY_F1 && KeyNamesFor(0x7B).evdev == KEY_F12 &&
              KeyNamesFor(0x87).evdev == KEY_F24);
static_assert(KeyNamesFor(0x2E).evdev == KEY_DELETE && KeyNamesFor(0x13).evdev == KEY_PAUSE);

std::uint16_t EvdevCodeFor(std::uint8_t vk) { return KeyNamesFor(vk).evdev; }

}  // namespace tollmere::key_injection
