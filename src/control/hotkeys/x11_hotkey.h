#pragma once

#include <functional>
#include <memory>
#include <string>

#include "control/hotkeys/hotkey_text.h"

namespace tollmere::control {

// A hotkey grabbed on the X server's root window, on a connection of its
// own (Xlib's macros stay out of the toolkit's headers). The grabbed key
// never reaches the focused window.
class X11Hotkey {
 public:
  // Grabs `hotkey` on $DISPLAY; nullptr with `problem` saying why when it
  // cannot (another program has it, no key for it, no display).
  static std::unique_ptr<X11Hotkey> Grab(const Hotkey& hotkey, std::string& problem);
  ~X11Hotkey();
  X11Hotkey(const X11Hotkey&) = delete;
  X11Hotkey& operator=(const X11Hotkey&) = delete;

  // The connection's socket, readable when events are waiting.
  int Fd() const;
  // Reads what has arrived and calls `on_press` for each new press of the
  // hotkey; a key held down counts once. `sends_key` says whether the press
  // will send a keystroke at once (it ends a hold), which must not come
  // to this grab.
  void HandleEvents(const std::function<void()>& on_press, const std::function<bool()>& sends_key);
  // Ends the grab that a hotkey still held down keeps, so that a key-down
  // sent now reaches the focused window; the hotkey's own release then goes
  // there too.
  void LetGo();

 private:
  struct Connection;
  explicit X11Hotkey(std::unique_ptr<Connection> connection);
  std::unique_ptr<Connection> x_;
};

}  // namespace tollmere::control
