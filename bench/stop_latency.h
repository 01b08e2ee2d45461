#pragma once
// How soon `tollmere --stop` from another process ends a hold: the running
// Tollmere takes the request over the session bus and releases the key.

#include <vector>

#include "options.h"

namespace tollmere::bench {

inline constexpr int kStopIntervalMs = 1500;  // a 3 s hold
inline constexpr int kStopAfterMs = 1000;     // into the hold

struct StopLatency {
  std::vector<double> from_start_ms;  // the helper process started → key-up
  std::vector<double> from_call_ms;   // its D-Bus call sent → key-up
};

StopLatency RunStopLatency(const Options& options);

}  // namespace tollmere::bench
