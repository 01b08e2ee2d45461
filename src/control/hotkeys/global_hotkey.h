#pragma once

#include <functional>
#include <memory>
#include <string>

#include "control/hotkeys/hotkey_text.h"

class QObject;
class QSocketNotifier;

namespace tollmere::control {

class PortalHotkey;
class X11Hotkey;

// --hotkey in this session: a key grab on X11; on Wayland the desktop
// portal's global shortcut where there is one, else a notice saying how to
// bind the desktop's own shortcut instead. Lasts as long as the object.
class GlobalHotkey {
 public:
  // `on_press` for each press; `sends_key` whether the next press will send
  // a keystroke at once (it ends a hold); `notice` for what the user should
  // know (the key is taken, the desktop offers no shortcuts).
  GlobalHotkey(const Hotkey& hotkey, std::function<void()> on_press,
               std::function<bool()> sends_key, std::function<void(const std::string&)> notice);
  ~GlobalHotkey();
  GlobalHotkey(const GlobalHotkey&) = delete;
  GlobalHotkey& operator=(const GlobalHotkey&) = delete;

  // Call before a key goes down: a hotkey held since it started the
  // countdown must not take that key to itself.
  void LetGo();

  // Why the key could not be grabbed at once (X11: another program holds
  // it), or "". A desktop that binds later says so through `notice`.
  const std::string& Problem() const { return problem_; }

 private:
  // Returns whether the key was grabbed; says why not otherwise.
  bool GrabOnX11(std::string& problem);

  Hotkey hotkey_;
  std::function<void()> on_press_;
  std::function<bool()> sends_key_;
  std::function<void(const std::string&)> notice_;
  std::unique_ptr<X11Hotkey> x11_;
  std::unique_ptr<QSocketNotifier> x11_events_;
  std::unique_ptr<PortalHotkey> portal_;
  std::unique_ptr<QObject> own_grab_watch_;
  std::string problem_;
};

}  // namespace tollmere::control
