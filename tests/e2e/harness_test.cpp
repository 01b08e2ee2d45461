// The probe's readings underpin every timing and stuck-key assertion: check
// them against a key held by another client, as the program holds one.
#include <gtest/gtest.h>

#include "harness/driver.h"
#include "harness/probe.h"
#include "harness/xvfb_server.h"

namespace tollmere::e2e {
namespace {

using namespace std::chrono_literals;

TEST(Probe, SeesAKeyHeldByAnotherClientWithItsRepeatsAndTimes) {
  XvfbServer xvfb;
  Probe probe(xvfb.name());
  Driver driver(xvfb.name());
  probe.TakeFocus();
  EXPECT_FALSE(probe.AnyKeyDown());

  const std::uint32_t before = probe.ServerTime();
  driver.PressKey(kSpaceKeysym);
  // Past the server's autorepeat delay.
  probe.Collect(1200ms);
  EXPECT_TRUE(probe.KeyDown(kSpaceKeysym));
  EXPECT_TRUE(probe.AnyKeyDown());
  EXPECT_EQ(probe.KeysDownText(), "space");
  driver.ReleaseKey(kSpaceKeysym);
  const std::uint32_t after = probe.ServerTime();

  ASSERT_TRUE(probe.WaitForKeys(2, 2s));
  EXPECT_FALSE(probe.AnyKeyDown());
  const auto keys = probe.Transitions();
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_TRUE(keys[0].press);
  EXPECT_FALSE(keys[1].press);
  EXPECT_GT(probe.events().size(), 2u) << "no autorepeat seen: the repeat handling went untested";
  for (const KeyEvent& e : probe.events()) EXPECT_EQ(e.keysym, kSpaceKeysym);

  // Key timestamps and ServerTime() are one clock: the keys fall between
  // the readings, as far apart as they were sent.
  const auto since = [](std::uint32_t a, std::uint32_t b) {
    return static_cast<std::int32_t>(b - a);
  };
  EXPECT_GE(since(before, keys[0].server_ms), 0);
  EXPECT_GE(since(keys[1].server_ms, after), 0);
  EXPECT_GE(since(keys[0].server_ms, keys[1].server_ms), 1190);
}

}  // namespace
}  // namespace tollmere::e2e
