#include "control/win32/hand_over.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/command_line.h"

namespace tollmere::control {
namespace {

TEST(HandOverTest, RequestsCrossInOrderAndOnlyWellFormedPartsComeBack) {
  Request request;
  request.interval = "500";
  request.settings = {{"key", "A"}, {"repeat", "forever"}};
  request.hotkey = "Ctrl+Alt+H";
  request.action = Action::kToggle;
  const std::vector<std::string> parts = EncodeRequest(request);
  ASSERT_EQ(parts, (std::vector<std::string>{"interval=500", "key=A", "repeat=forever",
                                             "hotkey=Ctrl+Alt+H", "toggle"}));
  EXPECT_EQ(DecodeRequest(parts[0])->interval, "500");
  EXPECT_EQ(DecodeRequest(parts[1])->settings, decltype(request.settings){request.settings[0]});
  EXPECT_EQ(DecodeRequest(parts[2])->settings, decltype(request.settings){request.settings[1]});
  EXPECT_EQ(DecodeRequest(parts[3])->hotkey, "Ctrl+Alt+H");
  EXPECT_EQ(DecodeRequest(parts[4])->action, Action::kToggle);
  EXPECT_EQ(DecodeRequest("start")->action, Action::kStart);
  EXPECT_EQ(DecodeRequest("stop")->action, Action::kStop);
  EXPECT_TRUE(EncodeRequest(Request{}).empty());
  Request raise;
  raise.raise = true;
  ASSERT_EQ(EncodeRequest(raise), std::vector<std::string>{"activate"});
  EXPECT_TRUE(DecodeRequest("activate")->raise);

  using namespace std::string_literals;
  for (const std::string& bad :
       {""s, "Start"s, "start\0"s, "toggle now"s, "activate "s, "hotkey="s, "hotkey=Shift"s,
        "key=Nope"s, "countdown=61"s, "colour=red"s, "=A"s, "key=A\n"s, "interval=5\n"s,
        "interval=" + std::string(kMaxIntervalText + 1, '1'),
        "interval=" + std::string(kMaxRequestBytes - 8, '1')}) {
    EXPECT_FALSE(DecodeRequest(bad)) << bad;
  }
  // Windows keeps a request from a window that runs as administrator.
  EXPECT_EQ(SendFailure(ERROR_ACCESS_DENIED).outcome, HandOver::Outcome::kBlocked);
  EXPECT_NE(SendFailure(ERROR_ACCESS_DENIED).message.find("administrator"), std::string::npos);
  EXPECT_EQ(SendFailure(ERROR_TIMEOUT).outcome, HandOver::Outcome::kNoAnswer);
}

}  // namespace
}  // namespace tollmere::control
