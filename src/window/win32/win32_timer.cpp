#include "window/win32/win32_timer.h"

#include "runtime/error.h"

namespace tollmere::window::win32 {

Win32Timer::Win32Timer(HWND window, UINT_PTR id, std::int32_t interval_ms, bool enabled)
    : Timer(interval_ms, enabled), window_(window), id_(id) {
  Start();
}

Win32Timer::~Win32Timer() { Disarm(); }

void Win32Timer::Arm(std::int32_t interval_ms) {
  if (SetTimer(window_, id_, static_cast<UINT>(interval_ms), nullptr) == 0) {
    throw runtime::Error(runtime::ErrorNumber::kInternal, "Cannot start a timer");
  }
  armed_ = true;
}

void Win32Timer::Disarm() {
  if (!armed_) return;
  KillTimer(window_, id_);
  armed_ = false;
}

void Win32Timer::OnWmTimer() {
  // A WM_TIMER already queued when the timer was stopped must not count.
  if (armed_) Tick();
}

}  // namespace tollmere::window::win32
