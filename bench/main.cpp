// tollmere-bench: how exactly Tollmere holds the space bar and counts down,
// idle and with every core busy, against xdotool doing the same holds, and
// what it costs to start and to keep open, and how soon a hold ends on
// request from another process. Every key time is the X server's
// own timestamp, read by an XInput 2 listener on the root window.
//
// holds.cpp, wayland_holds.cpp and gnome_holds.cpp run the cycles,
// footprint.cpp the start-up, memory and wake-up measures, stop_latency.cpp
// how soon `tollmere --stop` ends a hold, report.cpp writes them up; this runs the parts asked for
// and puts the report where it was asked to go.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "footprint.h"
#include "format.h"
#include "gnome_holds.h"
#include "harness/monotonic.h"
#include "holds.h"
#include "machine.h"
#include "measure.h"
#include "options.h"
#include "report.h"
#include "stop_latency.h"
#include "wayland_holds.h"

namespace {

namespace fs = std::filesystem;
using namespace tollmere::bench;
using tollmere::e2e::MonotonicMs;

// Where the README links to the full report: the --doc file as seen from the
// README's folder.
std::string DocLink(const Options& options) {
  if (options.doc.empty()) return "docs/benchmark.md";
  const fs::path readme_dir = fs::absolute(options.readme).parent_path();
  return fs::proximate(fs::absolute(options.doc), readme_dir).generic_string();
}

int Run(const Options& options) {
  const double t0 = MonotonicMs();
  Results results;
  for (const bool loaded : {false, true}) {
    if (!(loaded ? options.loaded : options.idle)) continue;
    for (const bool side_by_side : {false, true}) {
      if (side_by_side ? options.side_by_side : options.serial)
        results.phases.push_back(RunPhase(options, loaded, side_by_side));
    }
  }
  if (options.footprint) results.footprint = RunFootprint(options);
  if (options.stop) results.stop = RunStopLatency(options);
  if (options.wayland) {
    results.wayland_skipped = WaylandUnavailable();
    for (const bool side_by_side : {false, true}) {
      if (!results.wayland_skipped.empty()) break;
      if (side_by_side ? options.side_by_side : options.serial)
        results.phases.push_back(RunWaylandPhase(options, side_by_side));
    }
  }
  if (options.gnome) {
    results.gnome_skipped = GnomeUnavailable();
    if (results.gnome_skipped.empty()) {
      WaitForQuietMachine();
      Progress("GNOME: headless mutter, the RemoteDesktop portal, " +
               std::to_string(options.gnome_holds) + " cycles per interval");
      try {
        results.gnome = RunGnomeHolds(options.binary, options.gnome_holds, options.gnome_intervals);
      } catch (const GnomeNotMeasured& e) {
        results.gnome_skipped = std::string("mutter could not start here: ") + e.what();
      }
    }
  }
  results.when = Now();
  results.minutes = (MonotonicMs() - t0) / 60000.0;

  const std::string full = FullReport(options, results);
  std::fputs(full.c_str(), stdout);
  if (!options.doc.empty()) {
    const fs::path doc = options.doc;
    if (doc.has_parent_path()) fs::create_directories(doc.parent_path());
    std::ofstream(doc) << full;
    Progress("wrote the results to " + options.doc);
  }
  if (!options.readme.empty()) {
    std::ifstream in(options.readme);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(options.readme) << ReplaceSection(text, "## Benchmark",
                                                    ReadmeSummary(results, DocLink(options)));
    Progress("wrote the summary to " + options.readme);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(ParseArgs(argc, argv));
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "tollmere-bench: %s\n", e.what());
    return 1;
  }
}
