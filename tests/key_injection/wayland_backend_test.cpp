#include "key_injection/backends/wayland_backend.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "harness/wayland/headless_sway.h"
#include "harness/wayland/wayland_probe.h"
#include "key_injection/key_table.h"
#include "runtime/error.h"

namespace tollmere::key_injection {
namespace {

// Without a compositor, binding fails with words that say what is missing.
// (A real compositor is exercised end to end under sway.)
TEST(WaylandBinding, SaysWhatIsMissing) {
  const char* saved = std::getenv("WAYLAND_DISPLAY");
  const std::string restore = saved == nullptr ? "" : saved;
  auto error_of = [] {
    try {
      OpenWaylandBackend();
    } catch (const runtime::Error& e) {
      EXPECT_EQ(e.number(), runtime::ErrorNumber::kKeystrokeFacilityUnavailable);
      return std::string(e.what());
    }
    return std::string("bound");
  };

  unsetenv("WAYLAND_DISPLAY");
  EXPECT_NE(error_of().find("Not a Wayland session"), std::string::npos);

  setenv("WAYLAND_DISPLAY", "/nonexistent/tollmere-test-wayland", 1);
  EXPECT_NE(error_of().find(
                "Cannot connect to the Wayland compositor \"/nonexistent/tollmere-test-wayland\""),
            std::string::npos);

  if (saved == nullptr) {
    unsetenv("WAYLAND_DISPLAY");
  } else {
    setenv("WAYLAND_DISPLAY", restore.c_str(), 1);
  }
}

// On sway, each kind of key reaches the focused window down, then up.
TEST(WaylandBinding, PressesAndReleasesAnyKey) {
  using namespace std::chrono_literals;
  if (const std::string why = e2e::HeadlessSway::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  e2e::HeadlessSway sway;
  e2e::WaylandProbe probe(sway);
  ASSERT_TRUE(probe.WaitForFocus(5s));
  const char* saved = std::getenv("WAYLAND_DISPLAY");
  const std::string restore = saved == nullptr ? "" : saved;
  setenv("WAYLAND_DISPLAY", sway.socket_path().c_str(), 1);
  const std::unique_ptr<KeystrokeBackend> keys = OpenWaylandBackend();
  for (int vk : {0x47, 0xA0, 0x61, 0xBA, 0x7C}) {  // G, LeftShift, Numpad1, ;, F13
    const std::uint16_t code = KeyByVk(static_cast<std::uint8_t>(vk))->evdev;
    const std::size_t mark = probe.events().size();
    EXPECT_EQ(keys->KeyProblem(static_cast<std::uint8_t>(vk)), "") << vk;
    keys->KeyDown(static_cast<std::uint8_t>(vk));
    EXPECT_TRUE(probe.WaitForKeys(1, 2s, code, mark)) << vk;
    probe.Pump(100ms);  // a held modifier counts for the window too
    EXPECT_EQ(probe.ModifiersDown() != 0, vk == 0xA0) << vk;
    keys->KeyUp(static_cast<std::uint8_t>(vk));
    EXPECT_TRUE(probe.WaitForKeys(2, 2s, code, mark)) << vk;
    probe.Pump(100ms);
    EXPECT_EQ(probe.ModifiersDown(), 0u) << vk;
    EXPECT_FALSE(probe.KeyDownNow(code)) << probe.KeysDownText();
  }
  if (saved == nullptr) {
    unsetenv("WAYLAND_DISPLAY");
  } else {
    setenv("WAYLAND_DISPLAY", restore.c_str(), 1);
  }
}

}  // namespace
}  // namespace tollmere::key_injection
