#pragma once

#include <windows.h>

#include <functional>

#include "window/win32/form1.h"

namespace tollmere::app {

// Runs the message loop until the window closes.
using MessageLoop = std::function<void()>;

// Opens the Tollmere window at the system's DPI, with COM for its
// accessibility annotations and the fatal-error policy (a message box, no
// key left down), runs Form_Load (with `load_keystroke`) and shows it. Then
// `with_window` wires the window and runs `loop`; what it sets up lives as
// long as the loop runs. Returns the exit status.
int RunWindow(
    HINSTANCE instance, int show_command, bool load_keystroke,
    const std::function<void(window::win32::Form1&, const MessageLoop& loop)>& with_window);

}  // namespace tollmere::app
