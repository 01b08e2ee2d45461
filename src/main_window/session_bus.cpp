#include "main_window/session_bus.h"

namespace tollmere::main_window {

QDBusConnection SessionBus() { return QDBusConnection::sessionBus(); }

}  // namespace tollmere::main_window
