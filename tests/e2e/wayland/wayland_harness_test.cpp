// The Wayland tests read key timings and focus from the probe and steer
// windows through sway: check those readings against a second client that
// types as the program does.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "harness/wayland/headless_sway.h"
#include "harness/wayland/wayland_probe.h"

namespace tollmere::e2e {
namespace {

using namespace std::chrono_literals;

class WaylandHarness : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = HeadlessSway::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    sway_ = std::make_unique<HeadlessSway>();
  }

  std::unique_ptr<HeadlessSway> sway_;
};

TEST_F(WaylandHarness, ProbeSeesAnotherClientsKeyOnceWithItsHoldTime) {
  WaylandProbe probe(*sway_);
  ASSERT_TRUE(probe.WaitForFocus(5s)) << "sway did not focus the first window";
  // Like the program, the typist has a window of its own, and sway focuses
  // it when it maps.
  WaylandProbe typist(*sway_, "tollmere-typist");
  ASSERT_TRUE(typist.WaitForFocus(5s));
  probe.Pump(50ms);
  EXPECT_FALSE(probe.HasFocus()) << "the leave went unseen";

  probe.FocusSelf(*sway_);
  typist.Pump(50ms);
  EXPECT_FALSE(typist.HasFocus());
  const std::size_t mark = probe.events().size();

  const double before = MonotonicMs();
  typist.Type(KEY_SPACE, true);
  ASSERT_TRUE(probe.WaitForKeys(1, 2s, KEY_SPACE, mark));
  EXPECT_TRUE(probe.KeyDownNow(KEY_SPACE)) << probe.KeysDownText();
  // Long enough that a repeat, were sway to send any, would show.
  probe.Pump(700ms);
  typist.Type(KEY_SPACE, false);
  ASSERT_TRUE(probe.WaitForKeys(2, 2s, KEY_SPACE, mark));
  probe.Pump(100ms);
  const double after = MonotonicMs();

  const auto keys = probe.Transitions(KEY_SPACE, mark);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_TRUE(keys[0].press);
  EXPECT_FALSE(keys[1].press);
  EXPECT_FALSE(probe.KeyDownNow(KEY_SPACE)) << probe.KeysDownText();
  EXPECT_EQ(probe.events().size(), mark + 2) << "other keys arrived";
  EXPECT_GE(keys[0].ms, before);
  EXPECT_LE(keys[1].ms, after);
  EXPECT_NEAR(keys[1].ms - keys[0].ms, 700, 100);
}

TEST_F(WaylandHarness, TypedTextArrivesInOrderAndTheWindowIsFoundByTitle) {
  WaylandProbe probe(*sway_);
  ASSERT_TRUE(probe.WaitForFocus(5s));
  EXPECT_TRUE(sway_->WindowExists("tollmere-probe"));
  EXPECT_FALSE(sway_->WindowExists("tollmere-probe-2"));
  // Titles are matched literally, though sway takes a regex.
  EXPECT_FALSE(sway_->FocusWindow("tollmere.probe"));
  EXPECT_FALSE(sway_->FocusWindow("tollmere"));

  WaylandProbe typist(*sway_, "typist (2) [x] \"/");
  ASSERT_TRUE(typist.WaitForFocus(5s));
  EXPECT_TRUE(sway_->WindowExists("typist (2) [x] \"/"));
  ASSERT_TRUE(sway_->FocusWindow("tollmere-probe"));
  ASSERT_TRUE(probe.WaitForFocus(2s));
  ASSERT_TRUE(sway_->FocusWindow("typist (2) [x] \"/"));
  ASSERT_TRUE(typist.WaitForFocus(2s));
  ASSERT_TRUE(sway_->FocusWindow("tollmere-probe"));
  ASSERT_TRUE(probe.WaitForFocus(2s));

  // Typed by the probe to itself, as tests type into the focused program.
  probe.TypeText("5 0\n");
  std::vector<std::uint32_t> keys;
  probe.Pump(100ms);
  for (const WaylandKeyEvent& e : probe.events()) {
    if (e.press) keys.push_back(e.key);
  }
  EXPECT_EQ(keys, (std::vector<std::uint32_t>{KEY_5, KEY_SPACE, KEY_0, KEY_ENTER}));
  EXPECT_EQ(probe.events().size(), 8u);
  EXPECT_EQ(probe.KeysDownText(), "");
  EXPECT_THROW(probe.TypeText("a"), std::invalid_argument);
}

TEST_F(WaylandHarness, ScreenshotIsAPng) {
  const std::string path = ::testing::TempDir() + "wayland_harness_shot.png";
  sway_->Screenshot(path);
  std::ifstream in(path, std::ios::binary);
  char magic[4] = {};
  in.read(magic, 4);
  EXPECT_EQ(std::string(magic + 1, 3), "PNG");
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace tollmere::e2e
