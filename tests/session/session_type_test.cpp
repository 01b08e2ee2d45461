#include "session/session_type.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace tollmere::session {
namespace {

SessionType From(const std::map<std::string, std::string>& variables) {
  return SessionFromEnvironment([&](const char* name) -> const char* {
    const auto found = variables.find(name);
    return found == variables.end() ? nullptr : found->second.c_str();
  });
}

TEST(SessionTypeTest, DisplayVariablesSayTheKindAndAnEmptyOneIsUnset) {
  const SessionType xwayland = From({{"WAYLAND_DISPLAY", "wayland-1"}, {"DISPLAY", ":1"}});
  EXPECT_TRUE(xwayland.Xwayland());
  EXPECT_EQ(xwayland.wayland_display, "wayland-1");
  EXPECT_EQ(xwayland.x11_display, ":1");

  const SessionType x11 = From({{"WAYLAND_DISPLAY", ""}, {"DISPLAY", ":0"}});
  EXPECT_FALSE(x11.Wayland());
  EXPECT_TRUE(x11.X11());
  EXPECT_FALSE(x11.Xwayland());

  const SessionType none = From({{"XDG_SESSION_TYPE", "wayland"}});
  EXPECT_FALSE(none.Wayland() || none.X11()) << "only the display variables name a display";
}

}  // namespace
}  // namespace tollmere::session
