#include "app/linux/display_check.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace tollmere::app {
namespace {

// Sets the display variables for one case and puts the originals back.
class DisplayEnvironment : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kNames) {
      const char* value = std::getenv(name);
      saved_.push_back(value ? std::optional<std::string>(value) : std::nullopt);
    }
  }
  void TearDown() override {
    for (std::size_t i = 0; i < std::size(kNames); ++i) Put(kNames[i], saved_[i]);
  }
  static void Put(const char* name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  static void Session(std::optional<std::string> wayland, std::optional<std::string> x11,
                      std::optional<std::string> platform = std::nullopt) {
    Put("WAYLAND_DISPLAY", wayland);
    Put("DISPLAY", x11);
    Put("QT_QPA_PLATFORM", platform);
  }
  static std::string Platform() {
    const char* value = std::getenv("QT_QPA_PLATFORM");
    return value ? value : "(unset)";
  }

  static constexpr const char* kNames[] = {"WAYLAND_DISPLAY", "DISPLAY", "QT_QPA_PLATFORM"};
  std::vector<std::optional<std::string>> saved_;
};

TEST_F(DisplayEnvironment, WaylandSessionsGetWaylandFirstAndAChoiceStands) {
  Session("wayland-0", ":0");
  ChooseWindowSystem();
  EXPECT_EQ(Platform(), "wayland;xcb");

  Session(std::nullopt, ":0");
  ChooseWindowSystem();
  EXPECT_EQ(Platform(), "(unset)") << "X11 keeps Qt's own default";

  Session("wayland-0", ":0", "xcb");
  ChooseWindowSystem();
  EXPECT_EQ(Platform(), "xcb") << "the user's choice is kept";
}

TEST_F(DisplayEnvironment, MissingDisplayIsToldBeforeTheToolkitStarts) {
  Session(std::nullopt, std::nullopt);
  EXPECT_NE(DisplayProblem().find("neither DISPLAY nor WAYLAND_DISPLAY"), std::string::npos);

  Session("wayland-0", std::nullopt);
  EXPECT_EQ(DisplayProblem(), "");
  Session(std::nullopt, ":0");
  EXPECT_EQ(DisplayProblem(), "");

  // A platform that needs the variable that is missing.
  Session("wayland-0", std::nullopt, "xcb");
  EXPECT_NE(DisplayProblem(), "");
  Session(std::nullopt, ":0", "wayland");
  EXPECT_NE(DisplayProblem(), "");
  // Platforms without a display server need neither.
  Session(std::nullopt, std::nullopt, "offscreen");
  EXPECT_EQ(DisplayProblem(), "");
}

}  // namespace
}  // namespace tollmere::app
