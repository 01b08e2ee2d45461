#pragma once
// The benchmark's parts and what each measures. The arithmetic is in
// measure.h, apart from X and processes so that it can be tested.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "harness/child_process.h"
#include "harness/raw_listener.h"
#include "measure.h"

namespace tollmere::bench {

// Every part drives the harness and waits in chrono literals.
using namespace std::chrono_literals;
using namespace e2e;

struct Options {
  std::string binary = TOLLMERE_DEFAULT_BINARY;
  std::string doc;  // the report's file, the whole of it; stdout only when empty
  std::size_t holds = 20, starts = 31, wayland_holds = 15, stops = 15, gnome_holds = 15;
  std::vector<int> intervals = {20, 1000};  // the shortest hold and a long one
  std::vector<int> gnome_intervals = {40, 1000};
  bool peers = false;  // xdotool and wtype as well
  std::set<std::string> parts = {"idle", "loaded", "footprint", "wayland", "gnome", "stop"};
};
// Throws on a bad argument; --help prints the usage and exits.
Options ParseArgs(int argc, char** argv);

inline constexpr int kCountdownMs = 4000;
inline constexpr int kCountdownTicks = 4;
inline constexpr int kFloorGapMs = 250;       // the floor's pause between holds
inline constexpr int kStopIntervalMs = 1500;  // a 3 s hold...
inline constexpr int kStopAfterMs = 1000;     // ...stopped this far into it

std::string Format(const char* fmt, double v);
// A progress line on stderr: stdout carries only the report.
void Progress(const std::string& text);
// Throws `what`, with what the program said, unless `ok`.
void Require(bool ok, const std::string& what, const e2e::AppProcess* app = nullptr);

// ---- The machine (machine.cpp)

// Processor time in seconds: all cores busy, all in total, and ours (this
// process and the children it has reaped).
struct CpuTimes {
  double busy = 0, total = 0, own = 0;
  static CpuTimes Now();
};
// Percent of all cores busy since `before`: in all, and by other processes.
struct Busy {
  double percent = 0, foreign_percent = 0;
};
Busy BusySince(const CpuTimes& before);
// Waits, up to a limit, until other processes leave the cores nearly idle.
void WaitForQuietMachine();

// ---- Holds (holds.cpp on X11, wayland_holds.cpp on sway)

// One program's holds of one interval.
struct ProgramHolds {
  std::string program;  // "Tollmere", "floor", "xdotool", "wtype"
  int interval_ms = 0;
  std::vector<HoldSplit> holds;
  std::vector<double> countdowns;         // key-down − click − 4000, as taken (Tollmere)
  std::vector<double> traced_countdowns;  // the same on the program's own clock
  std::vector<double> gaps;               // key-down − the key-up before − the gap asked for
  int gap_ms = 0;
  std::size_t out_of_order = 0;  // key changes left out
};

// Tollmere repeating a key other than the space bar on its own
// (--key --repeat --gap): its holds and the gaps between them.
inline constexpr const char* kRepeatsProgram = "Tollmere, A repeated";
struct RepeatCase {
  int interval_ms, gap_ms;
};
// The second as long as the floor's holds of 1000 and its pauses.
inline constexpr RepeatCase kRepeatCases[] = {{50, 100}, {1000, 250}};

// One condition on one kind of server.
struct Phase {
  std::string server;  // "X11" or "sway"
  bool loaded = false;
  std::vector<ProgramHolds> runs;
  Busy busy;
};

// Tollmere's cycles, then the floor's holds (and with --peers xdotool's or
// wtype's), the intervals one after another, each on a server of its own;
// with `loaded`, every core spins meanwhile.
Phase RunPhase(const Options& options, bool loaded);
// Nothing, with the reason in `skipped`, where sway cannot run.
std::optional<Phase> RunWaylandPhase(const Options& options, std::string& skipped);

// A floor program (in TOLLMERE_FLOOR_DIR) running `holds` holds of the
// interval, its trace on stderr as Tollmere's.
struct Floor {
  Floor(const std::string& name, std::size_t holds, int interval_ms,
        std::vector<e2e::EnvChange> env);
  // Waits for its end and returns its trace; throws if it failed.
  std::vector<e2e::TraceEvent> Finish();
  e2e::AppProcess process;
  std::chrono::milliseconds budget;
};

// Waits until `listener` has seen `count` changes of the space bar.
bool WaitForSpace(e2e::RawListener& listener, std::size_t count, int timeout_ms);

// ---- GNOME through the RemoteDesktop portal (gnome_holds.cpp)

struct GnomeRun {
  int interval_ms = 0;
  std::vector<double> hold_errors;         // at the probe
  std::vector<double> traced_hold_errors;  // on the program's own clock
  std::vector<double> press_delays;        // key-down at the probe − traced
  std::vector<double> release_delays;      // key-up at the probe − traced
};
// Nothing, with the reason in `skipped`, where the desktop cannot start.
std::vector<GnomeRun> RunGnomeHolds(const Options& options, std::string& skipped);

// ---- Start-up, memory and wake-ups (footprint.cpp)

struct Footprint {
  // Tollmere and the bare Qt window started alternately in one run.
  std::vector<double> first_paint_ms, bare_first_paint_ms;
  std::optional<long> peak_rss_kb, bare_peak_rss_kb;
  long wakeups_background = -1;
  long wakeups_focused = -1;        // the 10 s after a click in the interval box
  long wakeups_focused_later = -1;  // the 10 s after those
};
Footprint RunFootprint(const Options& options);

// ---- How soon `tollmere --stop` ends a hold (stop_latency.cpp)

struct StopLatency {
  std::vector<double> from_start_ms;  // the helper process started → key-up
  std::vector<double> from_call_ms;   // its D-Bus call sent → key-up
};
StopLatency RunStopLatency(const Options& options);

// ---- The report (report.cpp)

struct Results {
  std::vector<Phase> phases;
  std::optional<Footprint> footprint;
  std::optional<StopLatency> stop;
  std::vector<GnomeRun> gnome;
  std::string wayland_skipped, gnome_skipped;  // why not measured
  double minutes = 0;
};
std::string Report(const Results& results);

}  // namespace tollmere::bench
