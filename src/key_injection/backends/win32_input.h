#pragma once
// What the Windows back ends share: finding their function, and naming a
// system error.

#include <windows.h>

#include <string>

namespace tollmere::key_injection {

// `function` in `library`; throws runtime::Error (keystroke facility
// unavailable) naming whichever of the two is missing.
FARPROC FindKeyboardFunction(const wchar_t* library, const char* function);

// Windows's own words for `error`, with its number.
std::string SystemErrorText(DWORD error);

}  // namespace tollmere::key_injection
