#include "window/win32/win32_timer.h"

#include <timeapi.h>

#include <algorithm>

#include "runtime/error.h"

namespace tollmere::window::win32 {
namespace {

constexpr std::int64_t kNsPerMs = 1'000'000;
constexpr std::int64_t kNsPerS = 1'000'000'000;
// CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, which MinGW-w64's headers lack.
constexpr DWORD kHighResolution = 0x00000002;

void SystemFinePeriod(bool fine) {
  if (fine) {
    timeBeginPeriod(1);
  } else {
    timeEndPeriod(1);
  }
}

[[noreturn]] void CannotStart() {
  throw runtime::Error(runtime::ErrorNumber::kInternal, "Cannot start a timer");
}

}  // namespace

std::int64_t TimerQueue::PerformanceCounterNs() {
  static const std::int64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<std::int64_t>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  // In two parts, so that the product cannot overflow.
  const std::int64_t count = now.QuadPart;
  return count / frequency * kNsPerS + count % frequency * kNsPerS / frequency;
}

TimerQueue::TimerQueue(Options options)
    : high_resolution_(options.high_resolution),
      fine_period_(options.fine_period ? std::move(options.fine_period) : SystemFinePeriod),
      clock_(options.clock ? std::move(options.clock) : PerformanceCounterNs),
      handle_(nullptr) {
  if (high_resolution_) {
    handle_ = CreateWaitableTimerExW(nullptr, nullptr, kHighResolution, TIMER_ALL_ACCESS);
    high_resolution_ = handle_ != nullptr;
  }
  if (handle_ == nullptr) handle_ = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
  if (handle_ == nullptr) CannotStart();
}

TimerQueue::TimerQueue() : TimerQueue(Options{}) {}

TimerQueue::~TimerQueue() {
  armed_.clear();
  Aim();
  CloseHandle(handle_);
}

void TimerQueue::Wait(DWORD timeout_ms) {
  MsgWaitForMultipleObjectsEx(1, &handle_, timeout_ms, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  RunDue();
}

void TimerQueue::RunDue() {
  // A tick may stop or start timers, so the earliest is looked for again
  // after each; each ran one is due again only an interval later.
  for (;;) {
    const std::int64_t now = clock_();
    Win32Timer* due = nullptr;
    for (Win32Timer* timer : armed_) {
      if (timer->next_deadline_ <= now &&
          (due == nullptr || timer->next_deadline_ < due->next_deadline_))
        due = timer;
    }
    if (due == nullptr || !Serve(*due, now)) break;
  }
  Aim();
}

void TimerQueue::Armed(Win32Timer& timer) {
  if (std::find(armed_.begin(), armed_.end(), &timer) == armed_.end()) armed_.push_back(&timer);
  Aim();
}

void TimerQueue::Disarmed(Win32Timer& timer) {
  std::erase(armed_, &timer);
  Aim();
}

bool TimerQueue::Serve(Win32Timer& timer, std::int64_t now) {
  // A handler is never entered again from within one (a modal loop that it
  // runs dispatches WM_TIMER): the tick waits for it to return.
  if (in_tick_ || !timer.armed_ || now < timer.next_deadline_) return false;
  // The deadlines passed make one tick; the next is the first still ahead.
  const std::int64_t periods = (now - timer.first_deadline_) / timer.interval_ + 1;
  timer.next_deadline_ = timer.first_deadline_ + periods * timer.interval_;
  timer.AimWindowTimer(now);
  in_tick_ = true;
  struct Done {
    bool& in_tick;
    ~Done() { in_tick = false; }
  } done{in_tick_};
  timer.Tick();
  return true;
}

void TimerQueue::Aim() {
  if (armed_.empty()) {
    CancelWaitableTimer(handle_);
    if (fine_period_held_) {
      fine_period_held_ = false;
      fine_period_(false);
    }
    return;
  }
  if (!high_resolution_ && !fine_period_held_) {
    fine_period_held_ = true;
    fine_period_(true);
  }
  const auto earliest = std::min_element(armed_.begin(), armed_.end(), [](auto* a, auto* b) {
    return a->next_deadline_ < b->next_deadline_;
  });
  // Relative, in 100 ns units: the performance counter and the system's
  // time of day need not agree. A deadline passed signals at once.
  const std::int64_t in_ns = std::max<std::int64_t>((*earliest)->next_deadline_ - clock_(), 100);
  LARGE_INTEGER due;
  due.QuadPart = -(in_ns / 100);
  SetWaitableTimer(handle_, &due, 0, nullptr, nullptr, FALSE);
}

Win32Timer::Win32Timer(HWND window, UINT_PTR id, TimerQueue& queue, std::int32_t interval_ms,
                       bool enabled)
    : Timer(interval_ms, enabled), window_(window), id_(id), queue_(queue) {
  Start();
}

Win32Timer::~Win32Timer() { Disarm(); }

void Win32Timer::Arm(std::int32_t interval_ms) {
  // A new grid from now on; a tick of the old one still due is dropped.
  const std::int64_t now = queue_.Now();
  interval_ = interval_ms * kNsPerMs;
  first_deadline_ = now + interval_;
  next_deadline_ = first_deadline_;
  if (SetTimer(window_, id_, static_cast<UINT>(interval_ms), nullptr) == 0) CannotStart();
  armed_ = true;
  queue_.Armed(*this);
}

void Win32Timer::Disarm() {
  if (!armed_) return;
  KillTimer(window_, id_);
  armed_ = false;
  queue_.Disarmed(*this);
}

void Win32Timer::OnWmTimer() {
  // A WM_TIMER already queued when the timer was stopped must not count.
  if (!armed_) return;
  const std::int64_t now = queue_.Now();
  if (queue_.Serve(*this, now)) {
    queue_.Aim();
  } else if (now < next_deadline_) {
    // Early, or its deadline already served by the waitable timer.
    AimWindowTimer(now);
  }
}

void Win32Timer::AimWindowTimer(std::int64_t now) {
  // Whole milliseconds, rounded up: never before the deadline. Windows makes
  // anything under 10 ms 10 ms. A failure leaves the period set before,
  // which still brings the tick, later.
  const std::int64_t ms = (next_deadline_ - now + kNsPerMs - 1) / kNsPerMs;
  SetTimer(window_, id_, static_cast<UINT>(std::clamp<std::int64_t>(ms, 1, 0x7FFFFFFF)), nullptr);
}

}  // namespace tollmere::window::win32
