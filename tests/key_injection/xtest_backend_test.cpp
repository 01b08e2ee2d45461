#include "key_injection/backends/xtest_backend.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>

#include "harness/probe.h"
#include "harness/xvfb_server.h"
#include "key_injection/key_table.h"
#include "runtime/error.h"

// After GoogleTest, whose names Xlib's macros would clash with.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace tollmere::key_injection {
namespace {

// The key code that types `sym` as a client connecting now sees it (0:
// none), and whether the server has that key down.
std::pair<unsigned, bool> KeyState(const std::string& display_name, unsigned long sym) {
  Display* display = XOpenDisplay(display_name.c_str());
  const unsigned code = XKeysymToKeycode(display, sym);
  char keys[32] = {};
  XQueryKeymap(display, keys);
  XCloseDisplay(display);
  return {code, code != 0 && (keys[code / 8] >> (code % 8) & 1)};
}

class XTestBindingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
      if (const char* v = std::getenv(name)) saved_.emplace_back(name, v);
      unsetenv(name);
    }
  }
  void TearDown() override {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
  }
  static std::string BindError() {
    try {
      OpenXTestBackend();
    } catch (const runtime::Error& e) {
      EXPECT_EQ(e.number(), runtime::ErrorNumber::kKeystrokeFacilityUnavailable);
      return e.what();
    }
    return "bound";
  }
  std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(XTestBindingTest, SaysWhatIsMissing) {
  EXPECT_NE(BindError().find("DISPLAY is not set"), std::string::npos);

  setenv("WAYLAND_DISPLAY", "wayland-0", 1);
  EXPECT_NE(BindError().find("Wayland session has no X server"), std::string::npos);

  setenv("DISPLAY", ":197", 1);  // nothing listens there
  EXPECT_NE(BindError().find("Cannot connect to the X display \":197\""), std::string::npos);
}

// Each kind of key goes down and comes back up; F13, which Xvfb's keymap
// lacks, through a key code lent for the hold and given back after.
TEST_F(XTestBindingTest, PressesAndReleasesAnyKey) {
  e2e::XvfbServer server;
  setenv("DISPLAY", server.name().c_str(), 1);
  e2e::Probe probe(server.name());
  std::unique_ptr<KeystrokeBackend> keys = OpenXTestBackend();
  ASSERT_EQ(KeyState(server.name(), KeyByVk(0x7C)->keysym).first, 0u) << "F13 is in the keymap";
  for (int vk : {0x47, 0xA0, 0x61, 0xBA, 0x7C}) {  // G, LeftShift, Numpad1, ;, F13
    const unsigned long sym = KeyByVk(static_cast<std::uint8_t>(vk))->keysym;
    EXPECT_EQ(keys->KeyProblem(static_cast<std::uint8_t>(vk)), "") << vk;
    keys->KeyDown(static_cast<std::uint8_t>(vk));
    EXPECT_TRUE(KeyState(server.name(), sym).second) << vk << " not down";
    keys->KeyUp(static_cast<std::uint8_t>(vk));
    EXPECT_FALSE(probe.AnyKeyDown()) << vk << ": " << probe.KeysDownText();
  }
  // F13's code stays lent while the key is chosen: a release read after
  // it went back would read as no key. Another Tollmere lends its own, and
  // keeps it when the first gives its back.
  const unsigned long f13 = KeyByVk(0x7C)->keysym;
  const unsigned lent = KeyState(server.name(), f13).first;
  EXPECT_NE(lent, 0u) << "F13 given back after one hold";
  {
    const std::unique_ptr<KeystrokeBackend> other = OpenXTestBackend();
    other->KeyDown(0x7C);
    keys.reset();
    EXPECT_TRUE(KeyState(server.name(), f13).second) << "the other's F13 went with the first's";
    EXPECT_NE(KeyState(server.name(), f13).first, lent);
    other->KeyUp(0x7C);
  }
  EXPECT_EQ(KeyState(server.name(), f13).first, 0u) << "F13 not given back at the end";

  // A lender killed with its loan: the next Tollmere gives it back.
  Display* killed = XOpenDisplay(server.name().c_str());
  const Window owner = XCreateSimpleWindow(killed, DefaultRootWindow(killed), 0, 0, 1, 1, 0, 0, 0);
  KeySym f14 = KeyByVk(0x7D)->keysym;
  XChangeKeyboardMapping(killed, static_cast<int>(lent), 1, &f14, 1);
  const long loan[2] = {static_cast<long>(lent), static_cast<long>(owner)};
  XChangeProperty(killed, DefaultRootWindow(killed),
                  XInternAtom(killed, "_TOLLMERE_LENT_KEYCODES", False), XA_INTEGER, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(loan), 2);
  XCloseDisplay(killed);
  ASSERT_EQ(KeyState(server.name(), f14).first, lent);
  keys = OpenXTestBackend();
  EXPECT_EQ(KeyState(server.name(), f14).first, 0u) << "a killed lender's F14 was kept";

  // With no empty key code left, F13 is refused when chosen, saying what to do.
  Display* display = XOpenDisplay(server.name().c_str());
  int low = 0, high = 0;
  XDisplayKeycodes(display, &low, &high);
  KeySym filler = XK_VoidSymbol;
  for (int code = low; code <= high; ++code) {
    if (XkbKeycodeToKeysym(display, static_cast<KeyCode>(code), 0, 0) == NoSymbol)
      XChangeKeyboardMapping(display, code, 1, &filler, 1);
  }
  XCloseDisplay(display);
  EXPECT_NE(keys->KeyProblem(0x7C).find("types F13, and its keymap has no free key code"),
            std::string::npos);
}

}  // namespace
}  // namespace tollmere::key_injection
