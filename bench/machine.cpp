#include "machine.h"

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "format.h"
#include "harness/monotonic.h"

namespace tollmere::bench {

using namespace std::chrono_literals;

CpuTimes CpuTimes::Now() {
  CpuTimes t;
  std::ifstream in("/proc/stat");
  std::string cpu;
  double user = 0, nice = 0, sys = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
  in >> cpu >> user >> nice >> sys >> idle >> iowait >> irq >> softirq >> steal;
  const double hz = static_cast<double>(sysconf(_SC_CLK_TCK));
  t.busy = (user + nice + sys + irq + softirq + steal) / hz;
  t.total = t.busy + (idle + iowait) / hz;
  for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage ru{};
    getrusage(who, &ru);
    t.own += static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
             static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  }
  return t;
}

void WaitForQuietMachine() {
  const auto give_up = std::chrono::steady_clock::now() + 5min;
  for (;;) {
    const CpuTimes before = CpuTimes::Now();
    std::this_thread::sleep_for(3s);
    const CpuTimes after = CpuTimes::Now();
    const double foreign = 100.0 *
                           std::max(0.0, (after.busy - before.busy) - (after.own - before.own)) /
                           std::max(1e-3, after.total - before.total);
    if (foreign < 10) return;
    if (std::chrono::steady_clock::now() > give_up) {
      Progress("the machine stayed busy (" + Format("%.0f", foreign) +
               " % by other processes); measuring anyway");
      return;
    }
    Progress("waiting for a quiet machine: other processes use " + Format("%.0f", foreign) +
             " % of it");
  }
}

std::optional<Summary> WakeLateness() {
  std::vector<double> late;
  for (int i = 0; i < 200; ++i) {
    timespec due{};
    clock_gettime(CLOCK_MONOTONIC, &due);
    due.tv_nsec += 20'000'000;
    if (due.tv_nsec >= 1'000'000'000) {
      due.tv_nsec -= 1'000'000'000;
      ++due.tv_sec;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
    }
    late.push_back(e2e::MonotonicMs() - (static_cast<double>(due.tv_sec) * 1e3 +
                                         static_cast<double>(due.tv_nsec) / 1e6));
  }
  return Summarize(late);
}

Busy BusySince(const CpuTimes& before) {
  const CpuTimes after = CpuTimes::Now();
  const double total = std::max(1.0, after.total - before.total);
  const double busy = after.busy - before.busy;
  return {100.0 * busy / total, 100.0 * std::max(0.0, busy - (after.own - before.own)) / total};
}

}  // namespace tollmere::bench
