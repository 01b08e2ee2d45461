#include "control/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace tollmere::control {
namespace {

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
  // The box, not the command line, judges the interval, and the window says why.
  const std::string long_text(40000, '5');
  EXPECT_EQ(ParseCommandLine({"--interval=" + long_text}, backends).request.interval, long_text);

  // Each refusal names what was wrong.
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"--start", "--stop"}, "only one"},
      {{"--toggle", "--start"}, "only one"},
      {{"--frobnicate"}, "'--frobnicate'"},
      {{"--interval"}, "'--interval'"},
      {{"start"}, "'start'"},
      {{"--hotkey=Space"}, "the key Tollmere holds"},
      {{"--backend=keybd"}, "'keybd': use one of xtest, uinput"},
  };
  for (const auto& [args, named] : refused) {
    const std::string error = ParseCommandLine(args, backends).error;
    EXPECT_NE(error.find(named), std::string::npos) << args[0] << ": " << error;
  }
}

}  // namespace
}  // namespace tollmere::control
