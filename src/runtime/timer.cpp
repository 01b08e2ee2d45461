#include "runtime/timer.h"

#include "runtime/error.h"

namespace tollmere::runtime {

Timer::Timer(std::int32_t interval_ms, bool enabled)
    : interval_ms_(interval_ms < 0 ? 0 : interval_ms), enabled_(enabled) {}

void Timer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Apply();
}

void Timer::SetInterval(std::int32_t interval_ms) {
  if (interval_ms < 0) {
    throw Error(ErrorNumber::kInvalidPropertyValue, "Invalid property value");
  }
  if (interval_ms == interval_ms_) return;
  interval_ms_ = interval_ms;
  Apply();
}

void Timer::Apply() {
  if (enabled_ && interval_ms_ > 0) {
    Arm(interval_ms_);
  } else {
    Disarm();
  }
}

void Timer::Tick() {
  if (enabled_ && interval_ms_ > 0 && on_tick_) on_tick_();
}

}  // namespace tollmere::runtime
