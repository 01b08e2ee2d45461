#pragma once
// The state of the machine around the measurements: how busy its processors
// are, and by whom, and how late the scheduler alone wakes a sleeper.

#include <optional>

#include "measure.h"

namespace tollmere::bench {

// Processor time in seconds: all cores busy, all cores in total (/proc/stat),
// and ours (this process and the children it has reaped: servers, programs).
struct CpuTimes {
  double busy = 0, total = 0, own = 0;
  static CpuTimes Now();
};

// How busy all cores were since `before`, in percent: in all, and by
// processes other than ours.
struct Busy {
  double percent = 0;
  double foreign_percent = 0;
};
Busy BusySince(const CpuTimes& before);

// Other work on the machine skews every figure here, so each part waits, up
// to a limit, until other processes have left the processors nearly idle for
// a few seconds. What they used during the part is reported all the same.
void WaitForQuietMachine();

// How late a plain absolute clock_nanosleep wakes up under the same
// conditions: what the scheduler alone costs any program, before Qt, X or
// Tollmere add anything.
std::optional<Summary> WakeLateness();

}  // namespace tollmere::bench
