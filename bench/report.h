#pragma once
// The results as Markdown: in full, as a document of their own, and as the
// README's short summary (the goals, and a link to the full results).

#include <optional>
#include <string>
#include <vector>

#include "footprint.h"
#include "gnome_holds.h"
#include "holds.h"
#include "options.h"
#include "stop_latency.h"
#include "wayland_holds.h"

namespace tollmere::bench {

struct Results {
  std::vector<Phase> phases;  // X11 idle and loaded, then sway: those that ran
  std::optional<Footprint> footprint;
  std::optional<StopLatency> stop;
  std::vector<GnomeRun> gnome;
  std::string wayland_skipped;  // why the Wayland part could not run, if it could not
  std::string gnome_skipped;    // the same for the GNOME part
  std::string when;             // the run's date and time, UTC
  double minutes = 0;           // how long the whole run took
};

// The run's date and time for `Results::when`.
std::string Now();

// Everything, with the machine and the method: a file of its own, headed
// "# Benchmark".
std::string FullReport(const Options& options, const Results& results);

// The README's "## Benchmark" section: how to run it, the goals table and a
// line linking `doc_link`, where the full report is.
std::string ReadmeSummary(const Results& results, const std::string& doc_link);

}  // namespace tollmere::bench
