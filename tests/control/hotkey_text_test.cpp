#include "control/hotkeys/hotkey_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tollmere::control {
namespace {

// Built by assignment: g++ 12 at -O3 wrongly finds the string of a
// designated initializer here uninitialized.
Hotkey Key(std::string keysym, std::uint8_t virtual_key, std::string_view modifiers = "") {
  Hotkey hotkey;
  hotkey.ctrl = modifiers.find("ctrl") != std::string_view::npos;
  hotkey.alt = modifiers.find("alt") != std::string_view::npos;
  hotkey.shift = modifiers.find("shift") != std::string_view::npos;
  hotkey.super = modifiers.find("super") != std::string_view::npos;
  hotkey.keysym = std::move(keysym);
  hotkey.virtual_key = virtual_key;
  return hotkey;
}

// What --hotkey takes on every system, what it refuses, and the names given
// to X11, to Windows and to the desktop portal.
TEST(HotkeyText, ParsesModifiersAndKeysAndRefusesTheRest) {
  struct Accepted {
    std::string text;
    Hotkey hotkey;
    std::string name;
    std::string trigger;
  };
  const Accepted accepted[] = {
      {"F8", Key("F8", 0x77), "F8", "F8"},
      {"f24", Key("F24", 0x87), "F24", "F24"},
      {"Ctrl+Alt+H", Key("h", 'H', "ctrl alt"), "Ctrl+Alt+H", "CTRL+ALT+h"},
      {"control+ALT+h", Key("h", 'H', "ctrl alt"), "Ctrl+Alt+H", "CTRL+ALT+h"},
      {"Super+F8", Key("F8", 0x77, "super"), "Super+F8", "LOGO+F8"},
      {"Win+F8", Key("F8", 0x77, "super"), "Super+F8", "LOGO+F8"},
      {"meta+shift+0", Key("0", '0', "shift super"), "Shift+Super+0", "SHIFT+LOGO+0"},
      {"pause", Key("Pause", 0x13), "Pause", "Pause"},
      {"Ctrl+PgUp", Key("Prior", 0x21, "ctrl"), "Ctrl+PageUp", "CTRL+Prior"},
      {"ScrollLock", Key("Scroll_Lock", 0x91), "ScrollLock", "Scroll_Lock"},
      {"Shift+esc", Key("Escape", 0x1B, "shift"), "Shift+Escape", "SHIFT+Escape"},
      {"alt+Return", Key("Return", 0x0D, "alt"), "Alt+Enter", "ALT+Return"},
      {"BACKSPACE", Key("BackSpace", 0x08), "Backspace", "BackSpace"},
      {"Left", Key("Left", 0x25), "Left", "Left"},
      {"meta+alt+z", Key("z", 'Z', "alt super"), "Alt+Super+Z", "ALT+LOGO+z"},
      {"Ins", Key("Insert", 0x2D), "Insert", "Insert"},
      {"Print", Key("Print", 0x2C), "Print", "Print"},
      {"Menu", Key("Menu", 0x5D), "Menu", "Menu"},
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
      {"", "empty"},
      {"F25", "F25"},
      {"F0", "F0"},
      {"F08", "F08"},
      {"Space", "Space"},
      {"Ctrl", "Ctrl"},
      {"Ctrl+", "empty"},
      {"+F8", "empty"},
      {"Hyper+F8", "Hyper"},
      {"Ctrl+Ctrl+F8", "twice"},
      {"Ctrl+F8+Alt", "F8"},
      {"AB", "AB"},
      {"F1x", "F1x"},
      {"Ctrl+Alt+H ", "H "},
      {"é", "é"},
      {"H+Ctrl", "'H'"},
      {"Ctrl++H", "empty"},
      {"Ctrl+Space", "Space"},
  };
  for (const auto& [text, named] : refused) {
    const HotkeyParse parsed = ParseHotkey(text);
    EXPECT_FALSE(parsed.hotkey) << text;
    EXPECT_NE(parsed.error.find(named), std::string::npos) << text << ": " << parsed.error;
  }
}

}  // namespace
}  // namespace tollmere::control
