#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "key_injection/keystroke_backend.h"

namespace tollmere::key_injection {

// What the kernel lists the back end's keyboard as (/sys/class/input/*/device/name).
inline constexpr std::string_view kUinputKeyboardName = "Tollmere virtual keyboard";

// Keystrokes through the kernel's uinput device: one virtual keyboard of the
// back end's own, made when the back end is opened and removed with it. It
// works under any display server, or none, since it sits below them all.
// Throws runtime::Error, saying what is missing and what to do, when
// /dev/uinput is absent or may not be opened.
//
// The desktop needs a moment to take up a new keyboard; until it has, what
// the keyboard sends is lost. Opening therefore waits that moment, so the
// first key-down is not dropped.
std::unique_ptr<KeystrokeBackend> OpenUinputBackend();

// The same through the first of `nodes` that exists, so failures can be
// checked without making a real keyboard.
std::unique_ptr<KeystrokeBackend> OpenUinputBackend(std::span<const char* const> nodes);

// Why /dev/uinput could not be opened and how to fix it, for the error an
// open that failed with `errno_value` raises. `node_exists` tells a missing
// module from a refused open.
std::string UinputOpenProblem(int errno_value, bool node_exists);

}  // namespace tollmere::key_injection
