#include "control/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace tollmere::control {
namespace {

// The keys of both systems' former sets, each with the code RegisterHotKey
// takes; modifiers in any case and order, Win and Meta for Super.
TEST(HotkeyGrammarTest, ReadsTheKeysOfBothSystemsAndNamesTheBadPartOfTheRest) {
  const struct {
    const char* text;
    std::tuple<bool, bool, bool, bool> ctrl_alt_shift_super;
    unsigned key;
  } good[] = {
      {"F8", {false, false, false, false}, 0x77},
      {"f24", {false, false, false, false}, 0x87},
      {"Ctrl+Alt+H", {true, true, false, false}, 'H'},
      {"control+SHIFT+f12", {true, false, true, false}, 0x7B},
      {"Win+F8", {false, false, false, true}, 0x77},
      {"Super+0", {false, false, false, true}, '0'},
      {"meta+alt+z", {false, true, false, true}, 'Z'},
      {"alt+PageDown", {false, true, false, false}, 0x22},
      {"Shift+esc", {false, false, true, false}, 0x1B},
      {"pgup", {false, false, false, false}, 0x21},
      {"Ins", {false, false, false, false}, 0x2D},
      {"Return", {false, false, false, false}, 0x0D},
      {"Print", {false, false, false, false}, 0x2C},
      {"ScrollLock", {false, false, false, false}, 0x91},
      {"Menu", {false, false, false, false}, 0x5D},
  };
  for (const auto& g : good) {
    const HotkeyParse parsed = ParseHotkey(g.text);
    ASSERT_TRUE(parsed.hotkey) << g.text << ": " << parsed.error;
    const Hotkey& h = *parsed.hotkey;
    EXPECT_EQ(std::tuple(h.ctrl, h.alt, h.shift, h.super), g.ctrl_alt_shift_super) << g.text;
    EXPECT_EQ(h.virtual_key, g.key) << g.text;
  }
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"", "empty"},
      {"F0", "'F0'"},
      {"F25", "'F25'"},
      {"F1x", "'F1x'"},
      {"F08", "'F08'"},
      {"Ctrl", "'Ctrl'"},
      {"Ctrl+", "empty"},
      {"+H", "empty"},
      {"Ctrl++H", "empty"},
      {"Ctrl+Ctrl+H", "twice"},
      {"H+Ctrl", "'H'"},
      {"Space", "'Space'"},
      {"Ctrl+Space", "'Space'"},
      {"Hyper+H", "'Hyper'"},
      {"AB", "'AB'"},
      {"Ctrl+Alt+H ", "'H '"},
      {"é", "'é'"},
  };
  for (const auto& [text, named] : refused) {
    const HotkeyParse parsed = ParseHotkey(text);
    EXPECT_FALSE(parsed.hotkey) << text;
    EXPECT_NE(parsed.error.find(named), std::string::npos) << text << ": " << parsed.error;
  }
}

TEST(CommandLineTest, ReadsEveryOptionAndSaysWhatItCannotTake) {
  const Backends backends{[](std::string_view name) { return name == "xtest" || name == "uinput"; },
                          "xtest, uinput", ""};
  const CommandLine all = ParseCommandLine({"--trace", "--new-window", "--backend=uinput",
                                            "--interval=500", "--hotkey=ctrl+alt+h", "--start"},
                                           backends);
  ASSERT_EQ(all.error, "");
  EXPECT_TRUE(all.trace && all.new_window);
  EXPECT_FALSE(all.help || all.version);
  EXPECT_EQ(all.backend, "uinput");
  EXPECT_EQ(all.request.interval, "500");
  EXPECT_EQ(all.request.hotkey, "ctrl+alt+h");
  ASSERT_TRUE(all.hotkey);
  EXPECT_EQ(all.hotkey->virtual_key, 'H');
  EXPECT_EQ(all.request.action, Action::kStart);
  EXPECT_FALSE(all.request.OnlyStop());

  EXPECT_FALSE(ParseCommandLine({"--trace"}, backends).request.Any());
  EXPECT_TRUE(ParseCommandLine({"--stop"}, backends).request.OnlyStop());
  EXPECT_EQ(ParseCommandLine({"--toggle", "--toggle"}, backends).request.action, Action::kToggle);
  for (const char* help : {"--help", "-h", "/?"}) {
    EXPECT_TRUE(ParseCommandLine({"--stop", help}, backends).help) << help;
  }
  EXPECT_TRUE(ParseCommandLine({"--version"}, backends).version);

  // Each refusal names what was wrong.
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"--start", "--stop"}, "only one"},
      {{"--toggle", "--start"}, "only one"},
      {{"--frobnicate"}, "'--frobnicate'"},
      {{"--interval"}, "'--interval'"},
      {{"start"}, "'start'"},
      {{"--interval=" + std::string(kMaxIntervalText + 1, '5')}, "at most"},
      {{"--interval=5\t"}, "at most"},
      {{"--hotkey=Space"}, "'Space'"},
      {{"--backend=keybd"}, "'keybd': use one of xtest, uinput"},
  };
  for (const auto& [args, named] : refused) {
    const std::string error = ParseCommandLine(args, backends).error;
    EXPECT_NE(error.find(named), std::string::npos) << args[0] << ": " << error;
  }
}

}  // namespace
}  // namespace tollmere::control
