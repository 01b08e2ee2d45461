#include "main_window/qt_timer.h"

namespace tollmere::main_window {

QtTimer::QtTimer(std::int32_t interval_ms, bool enabled) : Timer(interval_ms, enabled) {
  timer_.setTimerType(Qt::PreciseTimer);
  timer_.setSingleShot(false);
  QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
  Start();
}

void QtTimer::Arm(std::int32_t interval_ms) { timer_.start(interval_ms); }

void QtTimer::Disarm() { timer_.stop(); }

}  // namespace tollmere::main_window
