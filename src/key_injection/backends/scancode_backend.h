#pragma once

#include <memory>

#include "key_injection/keystroke_backend.h"

namespace tollmere::key_injection {

// Keystrokes through SendInput as scan codes (KEYEVENTF_SCANCODE), the code
// of the key's place on the keyboard that MapVirtualKeyW gives for the
// virtual-key code. Games that read DirectInput or Raw Input, and
// remote-desktop clients, drop keys whose scan code is 0, as keybd_event's
// are. SendInput is found by name in `library` when opened; throws
// runtime::Error (keystroke facility unavailable), naming what could not be
// found, when the library or the function is missing. The names can be
// changed only so that tests can make the lookup fail.
std::unique_ptr<KeystrokeBackend> OpenScancodeBackend(const wchar_t* library = L"user32",
                                                      const char* function = "SendInput");

}  // namespace tollmere::key_injection
