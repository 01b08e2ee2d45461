#include "main_window/hotkey_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tollmere::main_window {
namespace {

// What --hotkey takes, what it refuses, and the names given to X11 and to
// the desktop portal.
TEST(HotkeyText, ParsesModifiersAndKeysAndRefusesTheRest) {
  struct Accepted {
    std::string text;
    Hotkey hotkey;
    std::string name;
    std::string trigger;
  };
  const std::vector<Accepted> accepted = {
      {"F8", {.keysym = "F8"}, "F8", "F8"},
      {"f24", {.keysym = "F24"}, "F24", "F24"},
      {"Ctrl+Alt+H", {.ctrl = true, .alt = true, .keysym = "h"}, "Ctrl+Alt+H", "CTRL+ALT+h"},
      {"control+ALT+h", {.ctrl = true, .alt = true, .keysym = "h"}, "Ctrl+Alt+H", "CTRL+ALT+h"},
      {"Super+F8", {.super = true, .keysym = "F8"}, "Super+F8", "LOGO+F8"},
      {"meta+shift+0",
       {.shift = true, .super = true, .keysym = "0"},
       "Shift+Super+0",
       "SHIFT+LOGO+0"},
      {"Shift+F12", {.shift = true, .keysym = "F12"}, "Shift+F12", "SHIFT+F12"},
      {"pause", {.keysym = "Pause"}, "Pause", "Pause"},
      {"Ctrl+PageUp", {.ctrl = true, .keysym = "Prior"}, "Ctrl+PageUp", "CTRL+Prior"},
      {"ScrollLock", {.keysym = "Scroll_Lock"}, "ScrollLock", "Scroll_Lock"},
  };
  for (const Accepted& a : accepted) {
    const HotkeyParse parsed = ParseHotkey(a.text);
    ASSERT_TRUE(parsed.hotkey) << a.text << ": " << parsed.error;
    EXPECT_TRUE(parsed.error.empty()) << a.text;
    EXPECT_EQ(*parsed.hotkey, a.hotkey) << a.text;
    EXPECT_EQ(HotkeyName(*parsed.hotkey), a.name) << a.text;
    EXPECT_EQ(PortalTrigger(*parsed.hotkey), a.trigger) << a.text;
  }

  // Each refusal says what was wrong, so the message names the bad part.
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"", "empty"},         {"F25", "F25"},
      {"F0", "F0"},          {"F08", "F08"},
      {"Space", "Space"},    {"Ctrl", "Ctrl"},
      {"Ctrl+", "empty"},    {"+F8", "empty"},
      {"Hyper+F8", "Hyper"}, {"Ctrl+Ctrl+F8", "twice"},
      {"Ctrl+F8+Alt", "F8"}, {"AB", "AB"},
  };
  for (const auto& [text, named] : refused) {
    const HotkeyParse parsed = ParseHotkey(text);
    EXPECT_FALSE(parsed.hotkey) << text;
    EXPECT_NE(parsed.error.find(named), std::string::npos) << text << ": " << parsed.error;
  }
}

}  // namespace
}  // namespace tollmere::main_window
