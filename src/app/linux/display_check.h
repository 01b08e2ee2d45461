#pragma once

#include <functional>
#include <string>

namespace tollmere::app {

// Picks the toolkit's window system for this session: Wayland's own where
// the session is Wayland, falling back to X11 (Xwayland). An explicit
// QT_QPA_PLATFORM is left as the user set it.
void ChooseWindowSystem();

// Empty when the environment names a display the toolkit can try, else a
// message saying what is missing. Costs no connection: the one the toolkit
// makes is the real test, and ExplainWindowSystemFailure words its failure.
std::string DisplayProblem();

// Until the toolkit has started, turns its fatal "no platform" abort into a
// clear message and exit status 1, once `before_exit` has returned. Call
// before the application object is made and EndWindowSystemWatch after.
void ExplainWindowSystemFailure(std::function<void()> before_exit = {});
void EndWindowSystemWatch();

}  // namespace tollmere::app
