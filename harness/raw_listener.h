#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tollmere::e2e {

// One press or release of the space bar, stamped by the server.
struct KeyTransition {
  bool press = false;
  std::uint32_t server_ms = 0;
};

// A key or button change as the server reported it to every listener.
struct RawInput {
  enum Kind { kKeyPress, kKeyRelease, kButtonPress, kButtonRelease } kind;
  unsigned detail = 0;  // keycode or button number
  std::uint32_t server_ms = 0;
};

// Records every key and button change on an X display, whichever window has
// the focus, through XInput 2 raw events on the root window. They are taken
// from the master devices only, so each injected event is seen once, and
// they carry the server's timestamp (whole milliseconds of its monotonic
// clock). Key repeats are left out. A thread of its own reads them as they
// come.
class RawListener {
 public:
  explicit RawListener(const std::string& display_name);
  ~RawListener();
  RawListener(const RawListener&) = delete;
  RawListener& operator=(const RawListener&) = delete;

  unsigned space_keycode() const { return space_keycode_; }

  std::vector<RawInput> Events() const;
  // Presses and releases of the space bar.
  std::vector<KeyTransition> SpaceTransitions() const;

  // Waits until `done(events)` holds or `timeout` passes; returns whether it held.
  bool WaitUntil(const std::function<bool(const std::vector<RawInput>&)>& done,
                 std::chrono::milliseconds timeout);

 private:
  void Read();

  struct Connection;
  std::unique_ptr<Connection> x_;
  unsigned space_keycode_ = 0;
  int stop_fd_ = -1;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<RawInput> events_;
  std::thread reader_;
};

}  // namespace tollmere::e2e
