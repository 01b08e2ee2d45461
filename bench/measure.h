#pragma once
// The arithmetic of the benchmark, kept apart from X and processes so it can
// be checked on made-up input.

#include <cstdint>
#include <optional>
#include <vector>

#include "harness/app_process.h"
#include "harness/raw_listener.h"
#include "harness/server_time.h"

namespace tollmere::bench {

using e2e::KeyTransition;
using e2e::ServerSpan;

struct Summary {
  std::size_t n = 0;
  double min = 0;
  double median = 0;
  double p99 = 0;  // nearest rank: with fewer than 100 samples, the largest
  double max = 0;
  double p99_abs = 0;  // the same rank of |value|: what the goals and ratios use
};

// Nothing is summarised from no samples.
std::optional<Summary> Summarize(std::vector<double> values);

// Hold cycles read off a key's transitions: each press paired with the
// release after it, and the pause before each press.
struct Cycles {
  std::vector<std::int64_t> holds;     // release - press
  std::vector<std::uint32_t> presses;  // the press of each of those
  // press(1) - start, where a start time is given; then press(k) - release(k-1).
  std::vector<std::int64_t> lead_ins;
  std::optional<std::int64_t> first_lead_in;
  // Transitions that broke the press, release, press... order (they and the
  // cycle they were in are left out).
  std::size_t out_of_order = 0;
};

// `start` (optional) is when the first cycle was set off; transitions before
// it are ignored. At most `max_holds` cycles are taken.
Cycles ReadCycles(const std::vector<KeyTransition>& transitions, std::optional<std::uint32_t> start,
                  std::size_t max_holds = SIZE_MAX);

// One hold on one clock (CLOCK_MONOTONIC ms): as a server or a probe took it,
// or as the sending program's calls returned.
struct TimedHold {
  double down = 0;
  double up = 0;
};

// The cycles' holds on the monotonic clock. An X server stamps events with
// that clock's milliseconds, cut to 32 bits: each is brought back next to
// `near_ms`, a time of the same run.
std::vector<TimedHold> ServerHolds(const Cycles& cycles, double near_ms);

// Key-down/key-up pairs of a trace (the program's, or a floor's) and each
// countdown in it: key-down − the click before it − `countdown_ms`.
std::vector<TimedHold> TracedHolds(const std::vector<e2e::TraceEvent>& trace);
std::vector<double> TracedCountdowns(const std::vector<e2e::TraceEvent>& trace,
                                     double countdown_ms);

// A hold's error, key-up − key-down − the hold asked for: end to end (where
// it was taken) and on the program's side (between the deadline and the
// sending call's return), which is missing where the trace has no hold with
// a key-down within kPairMs of the one taken.
struct HoldSplit {
  double end_to_end = 0;
  std::optional<double> program;
};
inline constexpr double kPairMs = 5;
std::vector<HoldSplit> SplitHolds(const std::vector<TimedHold>& taken,
                                  const std::vector<TimedHold>& traced, double hold_ms);

}  // namespace tollmere::bench
