// Hold cycles on headless sway, idle: Tollmere's, the floor's and with
// --peers wtype's, each on a sway of its own. A probe window receives the
// keys and times them with its own monotonic clock (virtual keyboards carry
// no trustworthy time).
#include <linux/input-event-codes.h>

#include <chrono>
#include <csignal>

#include "bench.h"
#include "harness/app_process.h"
#include "harness/monotonic.h"
#if TOLLMERE_BENCH_WAYLAND
#include "harness/wayland/headless_sway.h"
#include "harness/wayland/wayland_probe.h"
#endif

namespace tollmere::bench {
#if !TOLLMERE_BENCH_WAYLAND
std::optional<Phase> RunWaylandPhase(const Options&, std::string& skipped) {
  skipped = "this build has no Wayland test harness.";
  return std::nullopt;
}
#else
namespace {

// The first press and release in `keys`, as a hold.
TimedHold FirstHold(const std::vector<WaylandKeyEvent>& keys, const std::string& who) {
  Require(keys.size() >= 2 && keys[0].press && !keys[1].press,
          who + ": key changes out of order at the probe");
  return {keys[0].ms, keys[1].ms};
}

ProgramHolds RunOne(const Options& options, const std::string& program, int interval_ms) {
  ProgramHolds run;
  run.program = program;
  run.interval_ms = interval_ms;
  const std::size_t holds = options.wayland_holds;
  HeadlessSway sway;
  WaylandProbe probe(sway);
  Require(probe.WaitForFocus(5s), "the probe never got the focus");
  std::vector<TimedHold> taken;
  std::vector<TraceEvent> trace;
  if (program == "floor") {
    Floor floor("tollmere-floor-wayland", holds, interval_ms, sway.ClientEnvironment());
    // The probe reads the keys as they come, so their times are the arrival's.
    Require(probe.WaitForKeys(2 * holds, floor.budget), "the floor's keys did not all come");
    trace = floor.Finish();
    const auto keys = probe.Transitions(KEY_SPACE);
    for (std::size_t i = 0; i + 1 < keys.size(); i += 2)
      taken.push_back(FirstHold({keys[i], keys[i + 1]}, "the floor"));
  } else if (program == "wtype") {
    // wtype sends each key under a code of its own keymap: whichever comes.
    for (std::size_t rep = 0; rep < holds; ++rep) {
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
      if (!status) kill(pid, SIGKILL), WaitForPid(pid, 5s);
      Require(status && *status == 0, "wtype failed");
      probe.Pump(20ms);
      taken.push_back(FirstHold(
          {probe.events().begin() + std::ptrdiff_t(mark), probe.events().end()}, "wtype"));
    }
  } else {
    AppProcess app(options.binary, sway.ClientEnvironment());
    Require(probe.WaitForKeys(2, 10s), "no keystroke at start-up", &app);
    Require(app.WaitForTrace("first-paint", std::nullopt, 10s).has_value(), "no window", &app);
    for (int i = 0; i < 50 && probe.HasFocus(); ++i) probe.Pump(100ms);
    probe.TypeText(std::to_string(interval_ms));
    Require(app.WaitForTrace("interval", std::to_string(interval_ms), 3s).has_value(),
            "interval not taken", &app);
    probe.Type(KEY_TAB, true);
    probe.Type(KEY_TAB, false);
    // Each cycle: the probe presses the focused "Start", then takes the
    // focus back to receive the hold.
    const auto hold_timeout = std::chrono::milliseconds(kCountdownMs + 2 * interval_ms + 3000);
    for (std::size_t cycle = 0; cycle < holds; ++cycle) {
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
    trace = app.Trace();
    run.traced_countdowns = TracedCountdowns(trace, kCountdownMs);
  }
  run.holds = SplitHolds(taken, TracedHolds(trace), 2.0 * interval_ms);
  return run;
}

}  // namespace

std::optional<Phase> RunWaylandPhase(const Options& options, std::string& skipped) {
  if (!(skipped = HeadlessSway::Unavailable()).empty()) return std::nullopt;
  Phase phase;
  phase.server = "sway";
  WaitForQuietMachine();
  const auto cpu_before = CpuTimes::Now();
  for (const std::string program : {"Tollmere", "floor", "wtype"}) {
    if (program == "wtype" && !(options.peers && OnPath("wtype"))) continue;
    Progress("sway, " + program + ": " + std::to_string(options.wayland_holds) +
             " holds per interval");
    for (const int interval_ms : options.intervals)
      phase.runs.push_back(RunOne(options, program, interval_ms));
  }
  phase.busy = BusySince(cpu_before);
  return phase;
}

#endif
}  // namespace tollmere::bench
