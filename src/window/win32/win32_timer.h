#pragma once

#include <windows.h>

#include "runtime/timer.h"

namespace tollmere::window::win32 {

// The timer control on a window timer (SetTimer): its WM_TIMER messages
// reach the window procedure, which hands them to OnWmTimer. A window timer
// first fires one interval after it is set, as the control requires; setting
// it again with the same id restarts the period.
class Win32Timer final : public runtime::Timer {
 public:
  Win32Timer(HWND window, UINT_PTR id, std::int32_t interval_ms, bool enabled);
  ~Win32Timer() override;

  // Call for WM_TIMER with this timer's id.
  void OnWmTimer();

 private:
  void Arm(std::int32_t interval_ms) override;
  void Disarm() override;

  HWND window_;
  UINT_PTR id_;
  bool armed_ = false;
};

}  // namespace tollmere::window::win32
