#pragma once

#include <memory>

#include "key_injection/keystroke_backend.h"

namespace tollmere::key_injection {

// Keystrokes through keybd_event, found by name in `library` when opened
// (user32 on every Windows). Throws runtime::Error (keystroke facility
// unavailable), naming what could not be found, when the library or the
// function is missing. The names can be changed only so that tests can
// make the lookup fail.
std::unique_ptr<KeystrokeBackend> OpenKeybdEventBackend(const wchar_t* library = L"user32",
                                                        const char* function = "keybd_event");

}  // namespace tollmere::key_injection
