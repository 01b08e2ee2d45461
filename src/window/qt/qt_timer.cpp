#include "window/qt/qt_timer.h"

#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace tollmere::window::qt {
namespace {

constexpr std::int64_t kNsPerMs = 1'000'000;
constexpr std::int64_t kNsPerS = 1'000'000'000;
// How far ahead of a deadline the event loop is woken. Intervals shorter
// than twice this are woken at the deadline itself.
constexpr std::int64_t kLeadNs = 1 * kNsPerMs;

timespec ToTimespec(std::int64_t ns) {
  return {static_cast<time_t>(ns / kNsPerS), static_cast<long>(ns % kNsPerS)};
}

std::int64_t Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * kNsPerS + now.tv_nsec;
}

int NewTimerFd() {
  const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "timerfd_create");
  return fd;
}

}  // namespace

QtTimer::QtTimer(std::int32_t interval_ms, bool enabled)
    : Timer(interval_ms, enabled), fd_(NewTimerFd()), notifier_(fd_, QSocketNotifier::Read) {
  // The kernel may otherwise end the precise sleep up to 50 us late, to
  // batch wake-ups; for the thread that runs the ticks, none.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { OnReadable(); });
  Start();
}

QtTimer::~QtTimer() {
  notifier_.setEnabled(false);
  close(fd_);
}

void QtTimer::Arm(std::int32_t interval_ms) {
  interval_ns_ = interval_ms * kNsPerMs;
  first_deadline_ns_ = Now() + interval_ns_;
  expirations_ = 0;
  const std::int64_t lead = interval_ns_ >= 2 * kLeadNs ? kLeadNs : 0;
  itimerspec spec{};
  spec.it_value = ToTimespec(first_deadline_ns_ - lead);
  spec.it_interval = ToTimespec(interval_ns_);
  // Setting the timer discards expiries of the old setting not yet read.
  timerfd_settime(fd_, TFD_TIMER_ABSTIME, &spec, nullptr);
}

void QtTimer::Disarm() {
  const itimerspec off{};
  timerfd_settime(fd_, 0, &off, nullptr);
}

void QtTimer::OnReadable() {
  std::uint64_t expirations = 0;
  // Nothing to read when the timer was set again after the loop saw it due.
  if (read(fd_, &expirations, sizeof expirations) != sizeof expirations || expirations == 0) return;
  expirations_ += expirations;
  const std::int64_t deadline =
      first_deadline_ns_ + static_cast<std::int64_t>(expirations_ - 1) * interval_ns_;
  const timespec until = ToTimespec(deadline);
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
  // Periods missed while the program was busy make one tick, as with QTimer.
  Tick();
}

}  // namespace tollmere::window::qt
