#pragma once

#include <QDBusConnection>
#include <string>

namespace tollmere::session {

// How long the session bus's daemon may take to answer before the program
// carries on without the bus.
inline constexpr int kBusAnswerWithinMs = 3000;

// Asks the session bus's daemon, on a socket of our own and within
// kBusAnswerWithinMs, whether it answers at all. If it does not (stopped,
// say), this process's DBUS_SESSION_BUS_ADDRESS is pointed nowhere, so that
// nothing here waits on the bus for ever: not our calls and not Qt's
// accessibility bridge, which connects while the window is being built.
// Call once, first thing, while the process has one thread. Returns why the
// bus is not used, or "".
std::string AvoidSilentSessionBus();

// What AvoidSilentSessionBus found, or "".
const std::string& SessionBusSilence();

// The program's one connection to the user's session bus, shared by all
// that talk over it. The session bus belongs to the logged-in user: other
// users cannot reach what is offered on it.
QDBusConnection SessionBus();

// The address names no bus ("disabled:", as for a silent bus above): then
// there is nothing to ask, and asking Qt would start its D-Bus thread only
// to learn that.
bool SessionBusDisabled();

}  // namespace tollmere::session
