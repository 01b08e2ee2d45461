// No toolkit headers here: Xlib's macros clash with them.
#include "main_window/display_check.h"

#include <X11/Xlib.h>

#include <cstdlib>
#include <string_view>

namespace tollmere::main_window {
namespace {
std::string_view Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string_view{} : std::string_view{value};
}
}  // namespace

std::string DisplayProblem() {
  const std::string_view platform = Env("QT_QPA_PLATFORM");
  if (!platform.empty() && platform.substr(0, 3) != "xcb") return {};
  if (platform.empty() && !Env("WAYLAND_DISPLAY").empty()) return {};
  const std::string_view display = Env("DISPLAY");
  if (display.empty()) {
    return "no display to open the window on: DISPLAY is not set. "
           "Start Tollmere from a desktop session.";
  }
  Display* connection = XOpenDisplay(display.data());
  if (connection == nullptr) {
    return "cannot connect to the X display \"" + std::string(display) +
           "\". Check that the X server is running and that this user may connect to it.";
  }
  XCloseDisplay(connection);
  return {};
}

}  // namespace tollmere::main_window
