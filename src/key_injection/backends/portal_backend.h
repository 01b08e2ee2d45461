#pragma once

#include <functional>
#include <memory>
#include <string>

#include "key_injection/keystroke_backend.h"

namespace tollmere::key_injection {

// Where the desktop's permission to type is kept between runs, for desktops
// whose portal can remember it: $XDG_STATE_HOME/tollmere/portal-restore-token
// (~/.local/state when unset).
std::string DefaultRestoreTokenFile();

// Keystrokes through the desktop portal's RemoteDesktop interface, over the
// program's one session-bus connection (session/session_bus.h), or over the
// connection this process opened as `connection` where that is not empty (a
// private bus in a test). Throws runtime::Error at once, with the reason,
// when no portal answers or it offers no keyboard. Otherwise it returns at
// once, and the desktop's permission dialog opens once the program's window
// shows (at most a second later: a window shown after the dialog would take
// its focus). Keys pressed before the user allows it are not sent, and
// `notice` (NoticeSink) is told of that, of a refusal and of a session the
// desktop ends later (or its portal back end takes with it), and told "" once
// keys go through again. Prepare, or the next key, asks again. Needs a
// running Qt event loop for the answers. `token_file` keeps the permission
// between runs where the portal offers that (version 2).
std::unique_ptr<KeystrokeBackend> OpenPortalBackend(
    std::function<void(const std::string&)> notice,
    std::string token_file = DefaultRestoreTokenFile(), const std::string& connection = {});

}  // namespace tollmere::key_injection
