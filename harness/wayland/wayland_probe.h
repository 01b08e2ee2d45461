#pragma once

#include <linux/input-event-codes.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "harness/monotonic.h"

namespace tollmere::e2e {

class HeadlessSway;

// A wl_keyboard.key event as the probe received it. Virtual keyboards may
// stamp their events 0, so the time is ours: CLOCK_MONOTONIC at receipt, the
// clock of the program's trace lines.
struct WaylandKeyEvent {
  bool press = false;
  std::uint32_t key = 0;  // Linux input-event code, e.g. KEY_SPACE
  double ms = 0;
};

// A wl_keyboard.enter or leave. A key pressed while the seat's keyboard was
// being set up can show up only in an enter's list of keys already down.
struct WaylandFocusEvent {
  bool enter = false;
  std::vector<std::uint32_t> keys_down;  // enter only
  double ms = 0;
};

// A Wayland client of its own with a window (title and app_id `name`) that
// records the key events reaching it, and a virtual keyboard to type with
// where the compositor has them (sway; not mutter). The virtual keyboard
// comes first: on a sway without input devices the seat has no keyboard
// until one exists. The constructor returns once the window is configured
// and, with a virtual keyboard, the seat's keyboard is bound; without one the
// keyboard is bound whenever the seat gets one. Compositors focus new
// windows, but WaitForFocus() says when. Not thread-safe; events are handled
// only inside the calls below. Protocol errors throw std::runtime_error.
class WaylandProbe {
 public:
  explicit WaylandProbe(const HeadlessSway& sway, std::string name = "tollmere-probe");
  // On any compositor, by its socket's full path.
  explicit WaylandProbe(const std::string& socket_path, std::string name = "tollmere-probe");
  ~WaylandProbe();
  WaylandProbe(const WaylandProbe&) = delete;
  WaylandProbe& operator=(const WaylandProbe&) = delete;

  const std::string& name() const { return name_; }

  // Handles events for `duration`.
  void Pump(std::chrono::milliseconds duration);
  // Waits until the keyboard is in this window, or with `focused` false,
  // until it has left it (a dialog taking the focus, say).
  bool WaitForFocus(std::chrono::milliseconds timeout, bool focused = true);
  // Asks sway to focus this window and waits for the keyboard to enter it;
  // throws if either fails.
  void FocusSelf(const HeadlessSway& sway);

  // Handles events until `count` presses and releases of `key` in total have
  // arrived since event number `from`, or `timeout` passes.
  bool WaitForKeys(std::size_t count, std::chrono::milliseconds timeout,
                   std::uint32_t key = KEY_SPACE, std::size_t from = 0);

  const std::vector<WaylandKeyEvent>& events() const { return events_; }
  const std::vector<WaylandFocusEvent>& focus_events() const { return focus_events_; }
  // The presses and releases of `key` since event number `from`.
  std::vector<WaylandKeyEvent> Transitions(std::uint32_t key = KEY_SPACE,
                                           std::size_t from = 0) const;

  bool HasFocus() const { return focused_; }
  // Whether `key` is down as far as this window was told: by key events and
  // the enter's list while it has the focus; while it has not, nothing is.
  bool KeyDownNow(std::uint32_t key) const { return keys_down_.contains(key); }
  // The modifiers the compositor last said are held (a mask of its keymap's).
  std::uint32_t ModifiersDown() const { return modifiers_down_; }
  std::string KeysDownText() const;  // e.g. "57 30", for failure messages

  // Whether Type() can work: the compositor gave the probe a virtual keyboard.
  bool CanType() const;
  // Through the probe's own virtual keyboard, to whichever window has the
  // focus; returns once the compositor has handled it. Throws without one.
  void Type(std::uint32_t key, bool down);
  // Presses and releases each character in turn: digits, ' ', '\n' (Enter)
  // and '\b' (BackSpace).
  void TypeText(const std::string& text);

 private:
  struct Wayland;  // the protocol objects

  // Handles what is pending, then waits up to `wait` for more and handles it.
  void Dispatch(std::chrono::milliseconds wait);
  template <typename Done>
  bool PumpUntil(Done done, std::chrono::milliseconds timeout);
  void Roundtrip();
  void CheckError() const;

  friend struct WaylandProbeCallbacks;

  std::string name_;
  std::unique_ptr<Wayland> wl_;
  std::vector<WaylandKeyEvent> events_;
  std::vector<WaylandFocusEvent> focus_events_;
  std::set<std::uint32_t> keys_down_;
  std::uint32_t modifiers_down_ = 0;
  bool focused_ = false;
};

}  // namespace tollmere::e2e
