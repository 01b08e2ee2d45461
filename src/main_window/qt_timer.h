#pragma once

#include <QTimer>

#include "runtime/timer.h"

namespace tollmere::main_window {

// The timer control on a QTimer. Precise, because the default coarse timer
// may fire up to 5% of the interval early or late.
class QtTimer final : public runtime::Timer {
 public:
  QtTimer(std::int32_t interval_ms, bool enabled);

 private:
  void Arm(std::int32_t interval_ms) override;
  void Disarm() override;

  QTimer timer_;
};

}  // namespace tollmere::main_window
