#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "harness/server_time.h"

namespace tollmere::e2e {

class XConnection;

// A key event as the probe window received it.
struct KeyEvent {
  bool press = false;
  // A press while the key was already down: the server's autorepeat.
  bool repeat = false;
  unsigned keycode = 0;
  unsigned long keysym = 0;
  std::uint32_t server_ms = 0;  // X server timestamp
};

inline constexpr unsigned long kSpaceKeysym = 0x20;  // XK_space

// A small window of its own that takes the X input focus and records the key
// events that reach it, stamped by the server. Detectable autorepeat is on
// for its connection, so a held key shows as one press, repeats (flagged),
// one release.
class Probe {
 public:
  explicit Probe(const std::string& display_name);
  ~Probe();
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  unsigned long window() const { return window_; }

  // Takes the input focus (RevertToPointerRoot) and checks that it has it.
  void TakeFocus();

  // The server's current time, in the same clock as event timestamps.
  std::uint32_t ServerTime();

  // Records events until `count` first presses and releases of `keysym` in
  // total have arrived since event number `from`, or `timeout` passes.
  bool WaitForKeys(std::size_t count, std::chrono::milliseconds timeout,
                   unsigned long keysym = kSpaceKeysym, std::size_t from = 0);
  // Records events for `duration`.
  void Collect(std::chrono::milliseconds duration);

  const std::vector<KeyEvent>& events() const { return events_; }
  // First presses and releases of `keysym` since event number `from`
  // (autorepeats left out).
  std::vector<KeyEvent> Transitions(unsigned long keysym = kSpaceKeysym,
                                    std::size_t from = 0) const;

  // The server's keyboard state (XQueryKeymap), whoever has the focus.
  bool AnyKeyDown();
  bool KeyDown(unsigned long keysym);
  std::string KeysDownText();  // for failure messages, e.g. "space"

 private:
  // Handles pending events, waiting up to `wait` for the first.
  void Pump(std::chrono::milliseconds wait);
  void Handle(const void* xevent);
  std::vector<unsigned> KeycodesDown();

  std::unique_ptr<XConnection> x_;
  unsigned long window_ = 0;
  unsigned long time_atom_ = 0;
  std::vector<KeyEvent> events_;
  std::vector<bool> down_ = std::vector<bool>(256, false);
  bool time_seen_ = false;
  std::uint32_t time_ = 0;
};

}  // namespace tollmere::e2e
