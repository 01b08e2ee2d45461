#pragma once

#include "runtime/error.h"

class QWidget;

namespace tollmere::window::qt {

// Tells the user, in a dialog over `parent` and on standard error, that the
// program is ending because of `error`.
void ShowFatalDialog(QWidget* parent, const runtime::Error& error);

}  // namespace tollmere::window::qt
