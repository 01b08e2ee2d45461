#pragma once

#include <QDBusConnection>

namespace tollmere::main_window {

// The program's one connection to the user's session bus, shared by all
// that talk over it. The session bus belongs to the logged-in user: other
// users cannot reach what is offered on it.
QDBusConnection SessionBus();

}  // namespace tollmere::main_window
