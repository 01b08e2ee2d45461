// Hold cycles on X11: Tollmere repeating its cycles by itself, and the floor
// (and with --peers xdotool) holding the space bar as long, each on an Xvfb
// of its own, timed by the server's own stamps; then Tollmere repeating
// another key with gaps between.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <utility>

#include "bench.h"
#include "harness/app_process.h"
#include "harness/driver.h"
#include "harness/monotonic.h"
#include "harness/probe.h"
#include "harness/xvfb_server.h"

namespace tollmere::bench {
namespace {

// Tollmere typed an interval and started with a click on "Start". The focus
// stays on the button, so each release of the held space clicks it again and
// the cycles follow by themselves.
ProgramHolds RunTollmere(const Options& options, int interval_ms) {
  XvfbServer xvfb;
  RawListener listener(xvfb.name());
  Driver driver(xvfb.name());
  AppProcess app(options.binary, AppProcess::XEnvironment(xvfb.name()));
  const unsigned long window = driver.WaitForWindow("Tollmere", 15s);
  Require(window != 0, "no Tollmere window", &app);
  // The start-up keystroke goes wherever the focus was; then ours.
  Require(app.WaitForTrace("key-up", std::nullopt, 5s).has_value(), "no start-up keystroke", &app);
  driver.Focus(window);
  driver.Type(std::to_string(interval_ms));
  Require(app.WaitForTrace("interval", std::to_string(interval_ms), 5s).has_value(),
          "interval not taken", &app);
  driver.Click(window, StartButtonCentre());

  // Qt's buttons click on the release of the mouse button; the cycles count
  // from there.
  std::optional<std::uint32_t> click;
  const auto read_cycles = [&] {
    for (const RawInput& in : listener.Events()) {
      if (in.kind == RawInput::kButtonRelease && in.detail == 1) click = in.server_ms;
    }
    return click ? ReadCycles(listener.SpaceTransitions(), click, options.holds) : Cycles{};
  };
  const auto cycle = std::chrono::milliseconds(kCountdownMs + 2 * interval_ms + 200);
  const auto deadline = std::chrono::steady_clock::now() + cycle * options.holds + 30s;
  while (read_cycles().holds.size() < options.holds) {
    Require(std::chrono::steady_clock::now() < deadline && app.Running(),
            "interval " + std::to_string(interval_ms) + ": not all holds came", &app);
    std::this_thread::sleep_for(100ms);
  }
  driver.RequestClose(window);
  app.WaitForExit(5s);

  const auto trace = app.Trace();
  const auto traced = TracedHolds(trace);
  const Cycles cycles = read_cycles();
  ProgramHolds run;
  run.program = "Tollmere";
  run.interval_ms = interval_ms;
  run.out_of_order = cycles.out_of_order;
  run.holds = SplitHolds(ServerHolds(cycles, traced.empty() ? MonotonicMs() : traced.back().up),
                         traced, 2.0 * interval_ms);
  if (cycles.first_lead_in) run.countdowns.push_back(double(*cycles.first_lead_in - kCountdownMs));
  for (const std::int64_t lead_in : cycles.lead_ins)
    run.countdowns.push_back(double(lead_in - kCountdownMs));
  run.traced_countdowns = TracedCountdowns(trace, kCountdownMs);
  if (run.traced_countdowns.size() > options.holds) run.traced_countdowns.resize(options.holds);
  return run;
}

// `tollmere --key=A --repeat=N --gap=G --countdown=0 --start`: the holds
// follow each other with no click and no countdown between.
ProgramHolds RunRepeats(const Options& options, RepeatCase repeat) {
  XvfbServer xvfb;
  RawListener listener(xvfb.name());
  Probe probe(xvfb.name());
  probe.TakeFocus();  // the key goes to the probe, not into the interval box
  const std::string holds = std::to_string(options.holds);
  AppProcess app(options.binary, AppProcess::XEnvironment(xvfb.name()),
                 {"--trace", "--key=A", "--countdown=0", "--repeat=" + holds,
                  "--interval=" + std::to_string(repeat.interval_ms),
                  "--gap=" + std::to_string(repeat.gap_ms), "--start"});
  // Every key but the space bar, which only the start-up keystroke uses.
  const auto read_cycles = [&] {
    std::vector<KeyTransition> keys;
    for (const RawInput& in : listener.Events()) {
      if (in.kind <= RawInput::kKeyRelease && in.detail != listener.space_keycode())
        keys.push_back({in.kind == RawInput::kKeyPress, in.server_ms});
    }
    return ReadCycles(keys, std::nullopt, options.holds);
  };
  const auto cycle = std::chrono::milliseconds(2 * repeat.interval_ms + repeat.gap_ms);
  const auto deadline = std::chrono::steady_clock::now() + cycle * options.holds + 30s;
  while (read_cycles().holds.size() < options.holds) {
    Require(std::chrono::steady_clock::now() < deadline && app.Running(),
            "repeats of " + std::to_string(repeat.interval_ms) + ": not all holds came", &app);
    std::this_thread::sleep_for(100ms);
  }
  Require(app.WaitForTrace("caption", "Start", 5s).has_value(), "the repeats did not end", &app);
  app.Signal(SIGTERM);
  app.WaitForExit(5s);

  const auto trace = app.Trace();
  const auto traced = TracedHolds(trace);
  const Cycles cycles = read_cycles();
  ProgramHolds run;
  run.program = kRepeatsProgram;
  run.interval_ms = repeat.interval_ms;
  run.gap_ms = repeat.gap_ms;
  run.out_of_order = cycles.out_of_order;
  run.holds = SplitHolds(ServerHolds(cycles, traced.empty() ? MonotonicMs() : traced.back().up),
                         traced, 2.0 * repeat.interval_ms);
  for (const std::int64_t gap : cycles.lead_ins) run.gaps.push_back(double(gap - repeat.gap_ms));
  return run;
}

// The floor's holds, all in one process, or xdotool's, a process per hold
// (`xdotool keydown space sleep S keyup space`, as a user would write it).
ProgramHolds RunOther(const Options& options, const std::string& program, int interval_ms) {
  XvfbServer xvfb;
  RawListener listener(xvfb.name());
  const int hold = 2 * interval_ms;
  std::vector<TraceEvent> trace;
  if (program == "floor") {
    trace = Floor("tollmere-floor-xtest", options.holds, interval_ms, {{"DISPLAY", xvfb.name()}})
                .Finish();
  }
  for (std::size_t rep = 0; program == "xdotool" && rep < options.holds; ++rep) {
    SpawnOptions spawn;
    spawn.argv = {"xdotool", "keydown", "space", "sleep", Format("%.3f", hold / 1000.0),
                  "keyup",   "space"};
    spawn.env = {{"DISPLAY", xvfb.name()}};
    const auto status = WaitForPid(Spawn(spawn), std::chrono::milliseconds(hold) + 10s);
    if (!status || *status != 0)
      throw std::runtime_error("xdotool failed: " +
                               (status ? DescribeWaitStatus(*status) : std::string("timed out")));
  }
  WaitForSpace(listener, 2 * options.holds, 2000);
  const Cycles cycles = ReadCycles(listener.SpaceTransitions(), std::nullopt);
  ProgramHolds run;
  run.program = program;
  run.interval_ms = interval_ms;
  run.out_of_order = cycles.out_of_order;
  run.holds = SplitHolds(ServerHolds(cycles, trace.empty() ? MonotonicMs() : trace.front().ms),
                         TracedHolds(trace), hold);
  if (program == "floor") {
    run.gap_ms = kFloorGapMs;
    for (const std::int64_t gap : cycles.lead_ins) run.gaps.push_back(double(gap - kFloorGapMs));
  }
  return run;
}

}  // namespace

bool WaitForSpace(RawListener& listener, std::size_t count, int timeout_ms) {
  const unsigned space = listener.space_keycode();
  return listener.WaitUntil(
      [&](const std::vector<RawInput>& events) {
        return std::count_if(events.begin(), events.end(), [&](const RawInput& in) {
                 return in.detail == space && in.kind <= RawInput::kKeyRelease;
               }) >= static_cast<std::ptrdiff_t>(count);
      },
      std::chrono::milliseconds(timeout_ms));
}

Floor::Floor(const std::string& name, std::size_t holds, int interval_ms,
             std::vector<EnvChange> env)
    : process(std::string(TOLLMERE_FLOOR_DIR) + "/" + name, std::move(env),
              {std::to_string(holds), std::to_string(interval_ms), std::to_string(kFloorGapMs)}),
      budget((2 * interval_ms + kFloorGapMs + 100) * std::chrono::milliseconds(holds) + 10s) {}

std::vector<TraceEvent> Floor::Finish() {
  const ExitStatus status = process.WaitForExit(budget);
  Require(status.Exited() && status.Code() == 0, "the floor " + status.Describe(), &process);
  return process.Trace();
}

Phase RunPhase(const Options& options, bool loaded) {
  Phase phase;
  phase.server = "X11";
  phase.loaded = loaded;
  WaitForQuietMachine();
  // Every core spinning at normal priority, as a compile would, until the
  // threads are dropped.
  std::vector<std::jthread> spinners;
  for (unsigned i = 0; loaded && i < std::max(1u, std::thread::hardware_concurrency()); ++i) {
    spinners.emplace_back([x = 0x9E3779B97F4A7C15ull + i](std::stop_token stop) mutable {
      volatile std::uint64_t sink = 0;  // so the compiler keeps the work
      while (!stop.stop_requested()) {
        for (int k = 0; k < 4096; ++k) x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        sink = x;
      }
      (void)sink;
    });
  }
  const auto cpu_before = CpuTimes::Now();
  for (const std::string program : {"Tollmere", "floor", "xdotool"}) {
    if (program == "xdotool" && !(options.peers && OnPath("xdotool"))) continue;
    Progress("X11, " + program + ": " + std::to_string(options.holds) + " holds per interval");
    for (const int interval_ms : options.intervals) {
      phase.runs.push_back(program == "Tollmere" ? RunTollmere(options, interval_ms)
                                                 : RunOther(options, program, interval_ms));
    }
  }
  Progress(std::string("X11, ") + kRepeatsProgram + ": " + std::to_string(options.holds) +
           " holds per case");
  for (const RepeatCase repeat : kRepeatCases) phase.runs.push_back(RunRepeats(options, repeat));
  spinners.clear();
  phase.busy = BusySince(cpu_before);
  return phase;
}

}  // namespace tollmere::bench
