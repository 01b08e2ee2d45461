#pragma once

#include <memory>

#include "key_injection/keystroke_backend.h"

namespace tollmere::key_injection {

// Keystrokes through the X server's XTest extension, on a connection of the
// back end's own (never the toolkit's, whose buffer is flushed on its own
// schedule). Throws runtime::Error, saying what is missing and what to do,
// when there is no X server or it lacks XTest.
std::unique_ptr<KeystrokeBackend> OpenXTestBackend();

}  // namespace tollmere::key_injection
