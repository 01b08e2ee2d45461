#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "runtime/timer.h"

namespace tollmere::window::win32 {

class Win32Timer;

// The window thread's clock for its timers: one waitable timer, set to the
// earliest deadline of the armed timers, which the message loop waits on
// beside the message queue (Wait). Window timers (WM_TIMER) come in steps of
// the system's clock tick, 15.6 ms on most machines, so a 20 ms interval
// could tick at 31 ms; a high-resolution waitable timer wakes the loop within
// a fraction of a millisecond. Where Windows refuses one (before Windows 10
// 1803), an ordinary waitable timer with the system's timer period at 1 ms
// does, and that period is asked for only while a timer is armed.
class TimerQueue {
 public:
  // Nanoseconds on a steady clock.
  using Clock = std::function<std::int64_t()>;
  // true: ask for the 1 ms timer period; false: give it back.
  using FinePeriod = std::function<void(bool)>;
  struct Options {
    // false: the ordinary waitable timer and the fine period, as where the
    // high-resolution one is refused.
    bool high_resolution = true;
    FinePeriod fine_period = {};  // none: timeBeginPeriod(1) and timeEndPeriod(1)
    Clock clock = {};             // none: the performance counter
  };

  explicit TimerQueue(Options options);
  TimerQueue();
  ~TimerQueue();
  TimerQueue(const TimerQueue&) = delete;
  TimerQueue& operator=(const TimerQueue&) = delete;

  bool HighResolution() const { return high_resolution_; }
  // Waits until a message is in the thread's queue (also one already seen),
  // a timer falls due or `timeout_ms` passes, then runs the due ticks.
  void Wait(DWORD timeout_ms = INFINITE);
  // Runs the ticks that are due, earliest deadline first, one per timer.
  void RunDue();
  std::int64_t Now() const { return clock_(); }
  // The default clock: the performance counter, in nanoseconds.
  static std::int64_t PerformanceCounterNs();

 private:
  friend class Win32Timer;
  void Armed(Win32Timer& timer);
  void Disarmed(Win32Timer& timer);
  // Runs `timer`'s tick if it is due; whether it ran.
  bool Serve(Win32Timer& timer, std::int64_t now);
  // Sets the waitable timer to the earliest deadline, or cancels it.
  void Aim();

  bool high_resolution_;
  FinePeriod fine_period_;
  Clock clock_;
  HANDLE handle_;
  std::vector<Win32Timer*> armed_;  // in the order they were armed
  bool fine_period_held_ = false;
  bool in_tick_ = false;
};

// The timer control on the thread's TimerQueue. Its ticks keep to the grid
// set when it was armed: the n-th falls due n intervals after, however late
// the ones before ran, and periods missed while the thread was busy make one
// tick. A window timer (SetTimer) aimed at the next deadline stands by: in a
// modal loop (a message box, a menu, moving the window), which does not wait
// on the queue, its WM_TIMER still brings the tick, a system tick late at
// most. Both ways serve the same deadline, so a tick never runs twice.
class Win32Timer final : public runtime::Timer {
 public:
  Win32Timer(HWND window, UINT_PTR id, TimerQueue& queue, std::int32_t interval_ms, bool enabled);
  ~Win32Timer() override;

  // Call for WM_TIMER with this timer's id.
  void OnWmTimer();

 private:
  friend class TimerQueue;
  void Arm(std::int32_t interval_ms) override;
  void Disarm() override;
  // Aims the window timer at the next deadline.
  void AimWindowTimer(std::int64_t now);

  HWND window_;
  UINT_PTR id_;
  TimerQueue& queue_;
  bool armed_ = false;
  std::int64_t first_deadline_ = 0;
  std::int64_t interval_ = 0;
  std::int64_t next_deadline_ = 0;
};

}  // namespace tollmere::window::win32
