#pragma once

#include <string>

namespace tollmere::main_window {

// Empty when the window system the toolkit will use can be reached, else a
// message saying what is missing. Checked before the toolkit starts, because
// it aborts without a clear word when it finds no display.
std::string DisplayProblem();

}  // namespace tollmere::main_window
