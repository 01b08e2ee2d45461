#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "key_injection/keystroke_backend.h"

namespace tollmere::key_injection {

// A back end the user may ask for by name (--backend=...), or kAuto.
enum class BackendRequest { kAuto, kXTest, kWayland, kUinput, kPortal };

// "xtest", "wayland", "uinput" or "portal"; nullopt for anything else.
std::optional<BackendRequest> ParseBackendName(std::string_view name);

// Every name --backend takes, as "xtest|wayland|uinput|portal", for messages. A build
// without one of them still takes its name, and binding it says so.
std::string BackendNames();

// One line for each name, indented by `indent`, for --help.
std::string BackendHelp(std::string_view indent);

// What the choice needs to know of the session (session/session_type.h
// answers it for the running process).
struct SessionFacts {
  bool wayland = false;  // WAYLAND_DISPLAY is set
  bool x11 = false;      // DISPLAY is set (on Wayland: Xwayland)
};

// The ways this build can open each back end; empty where not built.
struct BackendOpeners {
  BackendBinder xtest;
  BackendBinder wayland;
  BackendBinder uinput;
  BackendBinder portal;
};

// Told when keystrokes can reach only part of the desktop, and what the
// desktop's portal decides about them. It holds one notice at a time: each
// message replaces the last, and "" withdraws it once it no longer holds.
using NoticeSink = std::function<void(const std::string&)>;

// The binder Module1 calls on the first keystroke. Automatic choice: on
// Wayland the virtual keyboard where the compositor offers it, else uinput
// where it can be opened, else the desktop's RemoteDesktop portal, else XTest
// through Xwayland (with a notice that only X11 programs get the keys); on
// X11, XTest. A request binds that back end or
// fails with its own reason. When nothing fits, the error lists each attempt
// with its reason and what the user can do.
BackendBinder ChooseBackend(BackendRequest request, SessionFacts session, BackendOpeners openers,
                            NoticeSink notice);

// ChooseBackend over this build's back ends and the process environment.
BackendBinder DefaultBinder(BackendRequest request, NoticeSink notice);

}  // namespace tollmere::key_injection
