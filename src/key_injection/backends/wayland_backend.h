#pragma once

#include <memory>

#include "key_injection/keystroke_backend.h"

namespace tollmere::key_injection {

// Keystrokes through a Wayland compositor's virtual-keyboard protocol
// (wlroots-based compositors offer it), on a connection of the back end's
// own. Throws runtime::Error saying what is missing when there is no Wayland
// session, the compositor lacks the protocol or refuses the keyboard.
std::unique_ptr<KeystrokeBackend> OpenWaylandBackend();

}  // namespace tollmere::key_injection
