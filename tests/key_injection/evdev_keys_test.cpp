#include "key_injection/backends/evdev_keys.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <set>

namespace tollmere::key_injection {
namespace {

TEST(EvdevKeys, NamedKeysAndGaps) {
  EXPECT_EQ(EvdevCodeFor(32), KEY_SPACE);
  EXPECT_EQ(EvdevCodeFor('Q'), KEY_Q);  // row order, not alphabet order
  EXPECT_EQ(EvdevCodeFor('M'), KEY_M);
  EXPECT_EQ(EvdevCodeFor('0'), KEY_0);  // 0 sits after 9 on the keyboard
  EXPECT_EQ(EvdevCodeFor('9'), KEY_9);
  EXPECT_EQ(EvdevCodeFor(0x7B), KEY_F12);
  EXPECT_EQ(EvdevCodeFor(0x87), KEY_F24);
  for (int vk : {0, 1, 0x0A, 0x5F, 0xFF})
    EXPECT_EQ(EvdevCodeFor(static_cast<std::uint8_t>(vk)), 0) << vk;

  // No two virtual keys may land on one evdev key.
  std::set<std::uint16_t> seen;
  for (int vk = 0; vk < 256; ++vk) {
    const auto code = EvdevCodeFor(static_cast<std::uint8_t>(vk));
    if (code != 0) {
      EXPECT_TRUE(seen.insert(code).second) << vk;
    }
  }
}

}  // namespace
}  // namespace tollmere::key_injection
