#pragma once
// The results as Markdown, as the README's "## Benchmark" section.

#include <optional>
#include <string>
#include <vector>

#include "footprint.h"
#include "holds.h"
#include "options.h"
#include "wayland_holds.h"

namespace tollmere::bench {

struct Results {
  std::vector<Phase> phases;  // idle, loaded: those that ran
  std::optional<Footprint> footprint;
  std::vector<WaylandRun> wayland;
  std::string wayland_skipped;  // why the Wayland part could not run, if it could not
  std::string when;             // the run's date and time, UTC
  double minutes = 0;           // how long the whole run took
};

// The run's date and time for `Results::when`.
std::string Now();

// Everything, with the machine and the method.
std::string Report(const Options& options, const Results& results);

}  // namespace tollmere::bench
