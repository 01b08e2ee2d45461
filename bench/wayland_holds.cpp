#include "wayland_holds.h"

#include <linux/input-event-codes.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <stdexcept>
#include <utility>
#include <vector>

#include "format.h"
#include "harness/app_process.h"
#include "harness/child_process.h"
#include "harness/monotonic.h"
#include "machine.h"
#if TOLLMERE_BENCH_WAYLAND
#include "harness/wayland/headless_sway.h"
#include "harness/wayland/wayland_probe.h"
#endif

namespace tollmere::bench {
#if !TOLLMERE_BENCH_WAYLAND
std::string WaylandUnavailable() {
  return "this build has no Wayland test harness (libwayland-dev missing).";
}
Phase RunWaylandPhase(const Options&, bool) { return {}; }
#else
namespace {

using namespace std::chrono_literals;
using namespace tollmere::e2e;

void Require(bool ok, const std::string& what, const AppProcess* app) {
  if (!ok) throw std::runtime_error(what + (app ? "; the program said:\n" + app->Stderr() : ""));
}

// The first press and release of `key` in `keys`, as a hold.
TimedHold FirstHold(const std::vector<WaylandKeyEvent>& keys, const std::string& who) {
  if (keys.size() < 2 || !keys[0].press || keys[1].press)
    throw std::runtime_error(who + ": key changes out of order at the probe");
  return {keys[0].ms, keys[1].ms};
}

ProgramHolds RunTollmere(const Options& options, int interval_ms) {
  ProgramHolds run{"Tollmere", interval_ms, {}, {}, {}, 0, std::nullopt};
  HeadlessSway sway;
  WaylandProbe probe(sway);
  Require(probe.WaitForFocus(5s), "the probe never got the focus", nullptr);
  AppProcess app(options.binary, sway.ClientEnvironment());
  Require(probe.WaitForKeys(2, 10s), "no keystroke at start-up", &app);
  Require(app.WaitForTrace("first-paint", std::nullopt, 10s).has_value(), "no window", &app);
  for (int i = 0; i < 50 && probe.HasFocus(); ++i) probe.Pump(100ms);
  probe.TypeText(std::to_string(interval_ms));
  Require(app.WaitForTrace("interval", std::to_string(interval_ms), 3s).has_value(),
          "interval not taken", &app);
  probe.Type(KEY_TAB, true);
  probe.Type(KEY_TAB, false);

  const auto hold_timeout = std::chrono::milliseconds(kCountdownMs + 2 * interval_ms + 3000);
  std::vector<TimedHold> taken;
  for (std::size_t cycle = 0; cycle < options.wayland_holds; ++cycle) {
    if (cycle > 0) {
      Require(sway.FocusWindow("Tollmere"), "cannot focus the program", &app);
      for (int i = 0; i < 50 && probe.HasFocus(); ++i) probe.Pump(20ms);
    }
    probe.Type(KEY_SPACE, true);
    probe.Type(KEY_SPACE, false);
    const double click = MonotonicMs();
    probe.FocusSelf(sway);
    const std::size_t mark = probe.events().size();
    Require(probe.WaitForKeys(2, hold_timeout, KEY_SPACE, mark), "no hold at the probe", &app);
    taken.push_back(FirstHold(probe.Transitions(KEY_SPACE, mark), "Tollmere"));
    run.countdowns.push_back(taken.back().down - click - kCountdownMs);
    Require(app.WaitForTrace("caption", "Start", 2s, static_cast<int>(cycle) + 1).has_value(),
            "the button did not come back", &app);
  }
  app.Signal(SIGTERM);
  app.WaitForExit(5s);
  const auto trace = app.Trace();
  run.holds = SplitHolds(taken, TracedHolds(trace), 2.0 * interval_ms);
  run.traced_countdowns = TracedCountdowns(trace, kCountdownMs);
  return run;
}

ProgramHolds RunFloor(const Options& options, int interval_ms) {
  HeadlessSway sway;
  WaylandProbe probe(sway);
  Require(probe.WaitForFocus(5s), "the probe never got the focus", nullptr);
  Options floor_options = options;
  floor_options.holds = options.wayland_holds;
  FloorProcess floor("tollmere-floor-wayland", floor_options, interval_ms,
                     sway.ClientEnvironment());
  const std::size_t keys = 2 * options.wayland_holds;
  const auto budget =
      std::chrono::milliseconds((2 * interval_ms + kFloorGapMs + 100) * static_cast<int>(keys));
  // The probe reads the keys as they come, so their times are the arrival's.
  Require(probe.WaitForKeys(keys, budget + 10s), "the floor's keys did not all come", nullptr);
  const auto traced = TracedHolds(floor.Finish());
  const auto transitions = probe.Transitions(KEY_SPACE);
  std::vector<TimedHold> taken;
  for (std::size_t i = 0; i + 1 < transitions.size(); i += 2)
    taken.push_back(FirstHold({transitions[i], transitions[i + 1]}, "the floor"));
  return {"floor", interval_ms, SplitHolds(taken, traced, 2.0 * interval_ms), {}, {},
          0,       std::nullopt};
}

// `wtype -P space -s MS -p space`, as a user of it would write the same hold.
// wtype sends each key under a code of its own keymap, so the probe takes
// whichever key comes.
ProgramHolds RunWtype(const Options& options, int interval_ms) {
  HeadlessSway sway;
  WaylandProbe probe(sway);
  Require(probe.WaitForFocus(5s), "the probe never got the focus", nullptr);
  ProgramHolds run{"wtype", interval_ms, {}, {}, {}, 0, std::nullopt};
  for (std::size_t rep = 0; rep < options.wayland_holds; ++rep) {
    const std::size_t mark = probe.events().size();
    SpawnOptions spawn;
    spawn.argv = {"wtype", "-P", "space", "-s", std::to_string(2 * interval_ms), "-p", "space"};
    spawn.env = sway.ClientEnvironment();
    const pid_t pid = Spawn(spawn);
    std::optional<int> status;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(2 * interval_ms) + 10s;
    while (!(status = WaitForPid(pid, 0ms)) && std::chrono::steady_clock::now() < deadline)
      probe.Pump(2ms);
    if (!status || *status != 0) {
      if (!status) kill(pid, SIGKILL), WaitForPid(pid, 5s);
      throw std::runtime_error("wtype failed: " +
                               (status ? DescribeWaitStatus(*status) : std::string("timed out")));
    }
    probe.Pump(20ms);
    std::vector<WaylandKeyEvent> keys(probe.events().begin() + static_cast<std::ptrdiff_t>(mark),
                                      probe.events().end());
    const TimedHold h = FirstHold(keys, "wtype");
    run.holds.push_back({h.up - h.down - 2.0 * interval_ms, std::nullopt});
  }
  return run;
}

}  // namespace

std::string WaylandUnavailable() { return HeadlessSway::Unavailable(); }

Phase RunWaylandPhase(const Options& options, bool side_by_side) {
  Phase phase;
  phase.server = "sway";
  phase.side_by_side = side_by_side;
  WaitForQuietMachine();
  const auto cpu_before = CpuTimes::Now();
  const std::size_t n = options.intervals.size();
  const std::string how = side_by_side ? " side by side" : " one after another";
  using Runner = ProgramHolds (*)(const Options&, int);
  const std::pair<const char*, Runner> programs[] = {
      {"Tollmere", RunTollmere}, {"the floor", RunFloor}, {"wtype", RunWtype}};
  // Not a structured binding: clang 14 cannot capture one in a lambda.
  for (const auto& program : programs) {
    const char* name = program.first;
    const Runner runner = program.second;
    if (runner == RunWtype && !OnPath("wtype")) continue;
    Progress(std::string("sway, ") + name + ": intervals" + how + ", " +
             std::to_string(options.wayland_holds) + " holds each");
    std::vector<ProgramHolds> runs(n);
    ForEachInterval(n, side_by_side,
                    [&](std::size_t i) { runs[i] = runner(options, options.intervals[i]); });
    phase.runs.insert(phase.runs.end(), runs.begin(), runs.end());
  }
  phase.busy = BusySince(cpu_before);
  return phase;
}

#endif
}  // namespace tollmere::bench
