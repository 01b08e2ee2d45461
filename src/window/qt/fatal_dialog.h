#pragma once

#include "runtime/error.h"

class QWidget;

namespace tollmere::main_window {

// Tells the user, in a dialog over `parent` and on standard error, that the
// program is ending because of `error`.
void ShowFatalDialog(QWidget* parent, const runtime::Error& error);

}  // namespace tollmere::main_window
