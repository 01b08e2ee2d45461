#pragma once

#include <cstdint>
#include <functional>

namespace tollmere::runtime {

// The timer control: an Enabled flag and an Interval in milliseconds. While
// enabled with an interval above 0 it ticks once per interval, the first tick
// one interval after it was enabled; an interval of 0 gives no ticks. A
// negative interval is refused. Setting a property to the value it already
// has changes nothing (a running period is not restarted); a new interval
// restarts the period under way.
//
// Subclasses supply the clock: Arm() schedules ticks every `interval_ms` from
// now on, Disarm() stops them, and they call Tick() when one falls due.
class Timer {
 public:
  explicit Timer(std::int32_t interval_ms = 0, bool enabled = false);
  virtual ~Timer() = default;
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  bool Enabled() const noexcept { return enabled_; }
  std::int32_t Interval() const noexcept { return interval_ms_; }
  void SetEnabled(bool enabled);
  void SetInterval(std::int32_t interval_ms);  // throws kInvalidPropertyValue

  void SetOnTick(std::function<void()> on_tick) { on_tick_ = std::move(on_tick); }

 protected:
  // Call once the subclass is ready, so a timer created enabled starts.
  void Start() { Apply(); }
  virtual void Arm(std::int32_t interval_ms) = 0;
  virtual void Disarm() = 0;
  void Tick();

 private:
  void Apply();

  std::int32_t interval_ms_;
  bool enabled_;
  std::function<void()> on_tick_;
};

}  // namespace tollmere::runtime
