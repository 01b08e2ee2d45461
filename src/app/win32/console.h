#pragma once
// A window program has no console of its own: what it has to say goes to
// standard output or error when they lead somewhere (redirected, or the
// console of the command prompt that started it), else to a message box.

#include <string>
#include <vector>

namespace tollmere::app {

// The command line's arguments in UTF-8, without the program's name.
std::vector<std::string> Arguments();

// kTextWindow: a small window with the text in a fixed-pitch font, for
// text in columns such as the help.
enum class Otherwise { kSayNothing, kMessageBox, kTextWindow };

// `text` on standard error (`error`) or output, else as `otherwise` says.
void Say(const std::string& text, bool error, Otherwise otherwise);

// --trace, on standard error, which goes to the starting console when it
// leads nowhere else.
void EnableTrace(bool on);

}  // namespace tollmere::app
