#pragma once

#include "key_injection/keystroke_backend.h"

namespace tollmere::key_injection {

// How this build binds its keystroke facility on the first keystroke.
BackendBinder DefaultBinder();

}  // namespace tollmere::key_injection
