#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "runtime/timer.h"

namespace tollmere::testing {

class FakeTimer;

// A clock that moves only when told, delivering the ticks that fall due on
// the way in time order, the way an event loop would: one at a time.
class FakeClock {
 public:
  std::int64_t Now() const { return now_; }
  void Advance(std::int64_t ms);

 private:
  friend class FakeTimer;
  std::int64_t now_ = 0;
  std::vector<FakeTimer*> timers_;
};

class FakeTimer final : public runtime::Timer {
 public:
  FakeTimer(FakeClock& clock, std::int32_t interval_ms, bool enabled)
      : Timer(interval_ms, enabled), clock_(clock) {
    clock_.timers_.push_back(this);
    Start();
  }
  ~FakeTimer() override { std::erase(clock_.timers_, this); }

  bool Armed() const { return armed_; }
  std::int64_t Due() const { return due_; }

 private:
  friend class FakeClock;
  void Arm(std::int32_t interval_ms) override {
    armed_ = true;
    period_ = interval_ms;
    due_ = clock_.now_ + interval_ms;
  }
  void Disarm() override { armed_ = false; }
  void Fire() {
    due_ += period_;  // before the handler, which may stop or restart us
    Tick();
  }

  FakeClock& clock_;
  bool armed_ = false;
  std::int64_t period_ = 0;
  std::int64_t due_ = 0;
};

inline void FakeClock::Advance(std::int64_t ms) {
  const std::int64_t target = now_ + ms;
  for (;;) {
    FakeTimer* next = nullptr;
    for (FakeTimer* t : timers_) {
      if (t->armed_ && t->due_ <= target && (next == nullptr || t->due_ < next->due_)) next = t;
    }
    if (next == nullptr) break;
    now_ = next->due_;
    next->Fire();
  }
  now_ = target;
}

}  // namespace tollmere::testing
