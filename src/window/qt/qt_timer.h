#pragma once

#include <QSocketNotifier>
#include <cstdint>

#include "runtime/timer.h"

namespace tollmere::window::qt {

// The timer control on a kernel timer (timerfd) watched by the Qt event
// loop. Not QTimer: under the GLib event loop Qt waits for timers in whole
// milliseconds, rounded up, so each tick came up to a millisecond late. The
// kernel timer is set a little ahead of each deadline, because waking the
// event loop after a second of idleness and getting through its dispatch
// takes about half a millisecond; the rest is slept precisely, so the tick
// runs at the deadline itself. Ticks keep to the grid set when the timer was
// armed, so lateness never adds up over a countdown.
class QtTimer final : public runtime::Timer {
 public:
  QtTimer(std::int32_t interval_ms, bool enabled);
  ~QtTimer() override;

 private:
  void Arm(std::int32_t interval_ms) override;
  void Disarm() override;
  void OnReadable();

  int fd_;
  QSocketNotifier notifier_;
  std::int64_t first_deadline_ns_ = 0;  // CLOCK_MONOTONIC
  std::int64_t interval_ns_ = 0;
  std::uint64_t expirations_ = 0;  // since armed
};

}  // namespace tollmere::window::qt
