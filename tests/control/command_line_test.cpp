#include "control/command_line.h"

#include <gtest/gtest.h>

#include "control/hotkeys/win32_hotkey.h"

namespace tollmere::main_window {
namespace {

TEST(Win32HotkeyTest, ReadsModifiersAndKeysInAnyCaseAndRefusesTheRest) {
  const struct {
    const char* text;
    unsigned modifiers;
    unsigned key;
  } good[] = {
      {"F8", 0, 0x77},
      {"f24", 0, 0x87},
      {"Ctrl+Alt+H", kHotkeyControl | kHotkeyAlt, 'H'},
      {"control+SHIFT+f12", kHotkeyControl | kHotkeyShift, 0x7B},
      {"Win+F8", kHotkeyWin, 0x77},
      {"Super+0", kHotkeyWin, '0'},
      {"alt+PageDown", kHotkeyAlt, 0x22},
      {"Shift+esc", kHotkeyShift, 0x1B},
  };
  for (const auto& g : good) {
    EXPECT_EQ(ParseWin32Hotkey(g.text), (Win32Hotkey{g.modifiers, g.key})) << g.text;
  }
  for (const char* bad :
       {"", "F0", "F25", "F1x", "F08", "Ctrl", "Ctrl+", "+H", "Ctrl++H", "Ctrl+Ctrl+H", "H+Ctrl",
        "Space", "Ctrl+Space", "Meta+H", "AB", "Ctrl+Alt+H ", "é"}) {
    EXPECT_FALSE(ParseWin32Hotkey(bad)) << bad;
  }
}

TEST(CommandLineTest, OptionsBecomeRequestsTheIntervalFirstAndOnlyThoseComeBack) {
  CommandLine line = ParseCommandLine({"--start", "--hotkey=Ctrl+Alt+H", "--interval=500"});
  ASSERT_EQ(line.error, "");
  const std::vector<std::string> requests = EncodeRequests(line);
  ASSERT_EQ(requests, (std::vector<std::string>{"interval=500", "hotkey=Ctrl+Alt+H", "start"}));
  for (const std::string& request : requests) EXPECT_TRUE(DecodeRequest(request)) << request;
  EXPECT_EQ(DecodeRequest("interval=500")->text, "500");
  EXPECT_TRUE(EncodeRequests(ParseCommandLine({})).empty());
  EXPECT_EQ(EncodeRequests(ParseCommandLine({"--toggle", "--toggle"})),
            std::vector<std::string>{"toggle"});

  EXPECT_TRUE(ParseCommandLine({"--stop", "--help"}).help);
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--start", "--stop"},
           {"--frobnicate"},
           {"--interval"},
           {"--interval=" + std::string(kMaxIntervalText + 1, '5')},
           {"--interval=5\t"},
           {"--hotkey=Space"},
           {"start"}}) {
    EXPECT_NE(ParseCommandLine(bad).error, "") << bad[0];
  }
}

}  // namespace
}  // namespace tollmere::main_window
