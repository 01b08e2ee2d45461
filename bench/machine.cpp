// How busy the machine is, from /proc/stat and our own usage.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "bench.h"

namespace tollmere::bench {

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

Busy BusySince(const CpuTimes& before) {
  const CpuTimes after = CpuTimes::Now();
  const double total = std::max(1e-3, after.total - before.total);
  const double busy = after.busy - before.busy;
  return {100.0 * busy / total, 100.0 * std::max(0.0, busy - (after.own - before.own)) / total};
}

// Other work skews every figure, so each part waits first; what others used
// during the part is reported all the same.
void WaitForQuietMachine() {
  for (int look = 0; look < 100; ++look) {  // 3 s each: 5 minutes at most
    const CpuTimes before = CpuTimes::Now();
    std::this_thread::sleep_for(3s);
    const double foreign = BusySince(before).foreign_percent;
    if (foreign < 10) return;
    Progress("waiting for a quiet machine: others use " + Format("%.0f", foreign) + " % of it");
  }
  Progress("the machine stayed busy; measuring anyway");
}

}  // namespace tollmere::bench
