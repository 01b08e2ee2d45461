#pragma once

#include <cstdlib>
#include <functional>
#include <string>

namespace tollmere::session {

// Reads one environment variable: nullptr when it is not set.
using Environment = std::function<const char*(const char*)>;

// What kind of session the program runs in, as its display variables say.
// A variable set to "" counts as not set, as it does for the display
// libraries, which then have nothing to connect to.
struct SessionType {
  std::string wayland_display;  // WAYLAND_DISPLAY, or ""
  std::string x11_display;      // DISPLAY, or ""; on Wayland, Xwayland's

  bool Wayland() const { return !wayland_display.empty(); }
  bool X11() const { return !x11_display.empty(); }
  // A Wayland session whose X11 programs run on Xwayland.
  bool Xwayland() const { return Wayland() && X11(); }
};

// The session `environment` describes; the process's own by default.
SessionType SessionFromEnvironment(const Environment& environment = std::getenv);

}  // namespace tollmere::session
