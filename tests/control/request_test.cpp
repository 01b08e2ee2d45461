#include "control/request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tollmere::control {
namespace {

// Records what was asked of it; refuses what `refuse` names ("key", "hotkey").
class Target final : public RequestTarget {
 public:
  explicit Target(std::string refuse) : refuse_(std::move(refuse)) {}
  std::string Start() override { return Log("start", ""); }
  std::string Stop() override { return Log("stop", ""); }
  std::string Toggle() override { return Log("toggle", ""); }
  std::string SetIntervalText(const std::string& text) override { return Log("interval", text); }
  std::string SetHotkey(const std::string& text) override { return Log("hotkey", text); }
  std::string SetSetting(const std::string& name, const std::string& text) override {
    return Log(name, text);
  }
  std::string Setting(const std::string&) const override { return {}; }
  void Activate(const std::string&) override {}
  bool Busy() const override { return false; }

  std::vector<std::string> log;

 private:
  std::string Log(const std::string& what, const std::string& text) {
    log.push_back(what + "=" + text);
    return what == refuse_ ? "no " + what : std::string();
  }
  std::string refuse_;
};

// A launch's settings and hotkey go first; a refused setting cancels its
// action, a refused hotkey does not.
TEST(ApplyAtLaunch, ARefusedSettingCancelsTheStartAndARefusedHotkeyDoesNot) {
  Request request;
  request.interval = "300";
  request.settings = {{"key", "F13"}, {"countdown", "0"}};
  request.hotkey = "F9";
  request.action = Action::kStart;
  for (const auto& [refused, started] : {std::pair{"key", false}, {"hotkey", true}}) {
    Target target(refused);
    std::vector<std::string> said;
    const Request rest =
        ApplyAtLaunch(target, request, [&said](const std::string& s) { said.push_back(s); });
    const std::vector<std::string> first = {"key=F13", "countdown=0", "hotkey=F9"};
    EXPECT_EQ(target.log, first) << refused;
    EXPECT_EQ(rest.interval, "300");
    EXPECT_EQ(rest.action == Action::kStart, started) << refused;
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said.front(), "no " + std::string(refused));
    EXPECT_EQ(said.size(), started ? 1u : 2u);
    EXPECT_TRUE(rest.settings.empty() && !rest.hotkey);
  }
}

}  // namespace
}  // namespace tollmere::control
