#include "holds.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "cpu_hog.h"
#include "format.h"
#include "harness/app_process.h"
#include "harness/child_process.h"
#include "harness/driver.h"
#include "harness/raw_listener.h"
#include "harness/xvfb_server.h"
#include "machine.h"

namespace tollmere::bench {
namespace {

using namespace std::chrono_literals;
using namespace tollmere::e2e;

// A process's processor time so far, in ms: the time on a processor of each
// of its threads (schedstat counts in nanoseconds; /proc/PID/stat only in
// clock ticks of 10 ms).
double CpuMs(pid_t pid) {
  double ns = 0;
  std::error_code error;
  for (const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    std::ifstream in(task.path() / "schedstat");
    double on_cpu = 0;
    if (in >> on_cpu) ns += on_cpu;
  }
  return ns / 1e6;
}

// One Tollmere on an X server of its own, typed an interval and started with
// a click on "Start". The focus stays on the button, so each release of the
// held space clicks it again and the cycles follow one another by
// themselves; the listener records them.
class Instance {
 public:
  Instance(const Options& options, int interval_ms)
      : interval_ms_(interval_ms), listener_(xvfb_.name()), driver_(xvfb_.name()) {
    app_ = std::make_unique<AppProcess>(options.binary, AppProcess::XEnvironment(xvfb_.name()));
    window_ = driver_.WaitForWindow("Tollmere", 15s);
    if (window_ == 0) throw std::runtime_error("no Tollmere window:\n" + app_->Stderr());
    // The start-up keystroke goes wherever the focus was; then ours.
    if (!app_->WaitForTrace("key-up", std::nullopt, 5s)) {
      throw std::runtime_error("no start-up keystroke:\n" + app_->Stderr());
    }
    driver_.Focus(window_);
    driver_.Type(std::to_string(interval_ms));
    if (!app_->WaitForTrace("interval", std::to_string(interval_ms), 5s)) {
      throw std::runtime_error("interval not taken:\n" + app_->Stderr());
    }
  }

  ~Instance() {
    if (!app_) return;
    try {
      Close();
    } catch (const std::exception&) {
      // The program is killed with the AppProcess.
    }
  }

  int interval_ms() const { return interval_ms_; }

  void ClickStart() {
    cpu_at_click_ms_ = CpuMs(app_->pid());
    driver_.Click(window_, StartButtonCentre());
  }

  std::size_t Releases() const {
    const auto click = ClickTime();
    std::size_t n = 0;
    for (const KeyTransition& t : listener_.SpaceTransitions()) {
      n += !t.press && click && ServerSpan(*click, t.server_ms) >= 0;
    }
    return n;
  }

  void WaitForHolds(std::size_t holds) {
    const auto cycle = std::chrono::milliseconds(kCountdownMs + 2 * interval_ms_ + 200);
    const auto deadline = std::chrono::steady_clock::now() + cycle * holds + 30s;
    while (Releases() < holds) {
      if (std::chrono::steady_clock::now() > deadline || !app_->Running()) {
        throw std::runtime_error("interval " + std::to_string(interval_ms_) + ": only " +
                                 std::to_string(Releases()) + " of " + std::to_string(holds) +
                                 " holds came:\n" + app_->Stderr());
      }
      std::this_thread::sleep_for(100ms);
    }
  }

  void Close() {
    cpu_ms_ = CpuMs(app_->pid()) - cpu_at_click_ms_;
    driver_.RequestClose(window_);
    app_->WaitForExit(5s);
    trace_ = app_->Trace();
    app_.reset();
  }

  ProgramHolds Read(std::size_t holds) const {
    const Cycles cycles = ReadCycles(listener_.SpaceTransitions(), ClickTime(), holds);
    const auto traced = TracedHolds(trace_);
    ProgramHolds run{"Tollmere", interval_ms_, {}, {}, {}, cycles.out_of_order, std::nullopt};
    run.holds = SplitHolds(ServerHolds(cycles, traced.empty() ? MonotonicMs() : traced.back().up),
                           traced, 2.0 * interval_ms_);
    if (cycles.first_lead_in)
      run.countdowns.push_back(static_cast<double>(*cycles.first_lead_in - kCountdownMs));
    for (const std::int64_t lead_in : cycles.lead_ins)
      run.countdowns.push_back(static_cast<double>(lead_in - kCountdownMs));
    run.traced_countdowns = TracedCountdowns(trace_, kCountdownMs);
    if (run.traced_countdowns.size() > holds) run.traced_countdowns.resize(holds);
    if (!cycles.holds.empty()) run.cpu_ms_per_cycle = cpu_ms_ / static_cast<double>(holds);
    return run;
  }

  // The program's trace and the server's key and button events on one time
  // line: the server's clock is the same monotonic clock, in whole ms.
  std::string Timeline() const {
    std::vector<std::pair<double, std::string>> lines;
    for (const TraceEvent& e : app_ ? app_->Trace() : trace_)
      lines.push_back({e.ms, "trace  " + e.event + " " + e.arg});
    static const char* kKinds[] = {"key down", "key up", "button down", "button up"};
    for (const RawInput& in : listener_.Events()) {
      lines.push_back({static_cast<double>(in.server_ms),
                       std::string("server ") + kKinds[in.kind] + " " + std::to_string(in.detail)});
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string out;
    for (const auto& [ms, text] : lines) out += Format("%12.3f  ", ms) + text + "\n";
    return out;
  }

  // Server times of every key change of this run, to see how near another
  // instance came.
  std::vector<std::uint32_t> KeyTimes() const {
    std::vector<std::uint32_t> out;
    const auto click = ClickTime();
    for (const KeyTransition& t : listener_.SpaceTransitions()) {
      if (click && ServerSpan(*click, t.server_ms) >= 0) out.push_back(t.server_ms);
    }
    return out;
  }

 private:
  // Qt's button clicks on the release of the mouse button.
  std::optional<std::uint32_t> ClickTime() const {
    std::optional<std::uint32_t> out;
    for (const RawInput& in : listener_.Events()) {
      if (in.kind == RawInput::kButtonRelease && in.detail == 1) out = in.server_ms;
    }
    return out;
  }

  int interval_ms_;
  // Destroyed in reverse: the program, the driver, the listener, the server.
  XvfbServer xvfb_;
  RawListener listener_;
  Driver driver_;
  std::unique_ptr<AppProcess> app_;
  std::vector<TraceEvent> trace_;  // once it has ended
  double cpu_at_click_ms_ = 0;
  double cpu_ms_ = 0;  // from the click to the request to close
  unsigned long window_ = 0;
};

std::string IntervalList(const std::vector<int>& intervals) {
  std::string list;
  for (int interval : intervals) {
    if (!list.empty()) list += ", ";
    list += std::to_string(interval);
  }
  return list;
}

std::optional<std::int64_t> Closest(const std::vector<std::vector<std::uint32_t>>& times) {
  std::optional<std::int64_t> best;
  for (std::size_t a = 0; a < times.size(); ++a) {
    for (std::size_t b = a + 1; b < times.size(); ++b) {
      if (auto d = ClosestApproach(times[a], times[b]); d && (!best || *d < *best)) best = d;
    }
  }
  return best;
}

void RunTollmere(const Options& options, Phase& phase) {
  const std::size_t n = options.intervals.size();
  Progress("Tollmere, intervals " + IntervalList(options.intervals) + " ms " +
           (phase.side_by_side ? "side by side" : "one after another") + ": " +
           std::to_string(options.holds) + " cycles each");
  std::vector<std::unique_ptr<Instance>> instances(n);
  std::vector<ProgramHolds> runs(n);
  std::vector<std::vector<std::uint32_t>> times(n);
  ForEachInterval(n, phase.side_by_side, [&](std::size_t i) {
    instances[i] = std::make_unique<Instance>(options, options.intervals[i]);
    Instance& instance = *instances[i];
    instance.ClickStart();
    instance.WaitForHolds(options.holds);
    times[i] = instance.KeyTimes();
    instance.Close();
    runs[i] = instance.Read(options.holds);
    if (options.timelines) {
      std::fprintf(stderr, "--- interval %d ms\n%s", instance.interval_ms(),
                   instance.Timeline().c_str());
    }
    instances[i].reset();
  });
  phase.runs.insert(phase.runs.end(), runs.begin(), runs.end());
  if (!phase.side_by_side) return;
  phase.closest_ms = Closest(times);
  for (std::size_t a = 0; a < times.size(); ++a) {
    for (const std::uint32_t t : times[a]) {
      bool near = false;
      for (std::size_t b = 0; b < times.size() && !near; ++b) {
        const auto d = b == a ? std::nullopt : ClosestApproach({t}, times[b]);
        near = d && *d <= kNearMs;
      }
      phase.near_events += near;
      ++phase.key_events;
    }
  }
}

// Waits until the listener has seen `count` changes of the space bar.
void WaitForTransitions(RawListener& listener, std::size_t count) {
  const std::uint32_t space = listener.space_keycode();
  listener.WaitUntil(
      [&](const std::vector<RawInput>& events) {
        std::size_t n = 0;
        for (const RawInput& in : events) {
          n += in.detail == space &&
               (in.kind == RawInput::kKeyPress || in.kind == RawInput::kKeyRelease);
        }
        return n >= count;
      },
      2s);
}

// The floor, all its holds in one process, on a server of its own.
ProgramHolds RunFloor(const Options& options, int interval_ms) {
  XvfbServer xvfb;
  RawListener listener(xvfb.name());
  const auto traced =
      FloorProcess("tollmere-floor-xtest", options, interval_ms, {{"DISPLAY", xvfb.name()}})
          .Finish();
  WaitForTransitions(listener, 2 * options.holds);
  const Cycles cycles = ReadCycles(listener.SpaceTransitions(), std::nullopt);
  ProgramHolds run{"floor", interval_ms, {}, {}, {}, cycles.out_of_order, std::nullopt};
  run.holds = SplitHolds(ServerHolds(cycles, traced.empty() ? MonotonicMs() : traced.front().ms),
                         TracedHolds(traced), 2.0 * interval_ms);
  return run;
}

// `xdotool keydown space sleep S keyup space`, as a user of it would write
// the same hold, on a server of its own.
ProgramHolds RunXdotool(const Options& options, int interval_ms) {
  XvfbServer xvfb;
  RawListener listener(xvfb.name());
  const int hold = 2 * interval_ms;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", hold / 1000.0);
  for (std::size_t rep = 0; rep < options.holds; ++rep) {
    SpawnOptions spawn;
    spawn.argv = {"xdotool", "keydown", "space", "sleep", seconds, "keyup", "space"};
    spawn.env = {{"DISPLAY", xvfb.name()}};
    const pid_t pid = Spawn(spawn);
    const auto status = WaitForPid(pid, std::chrono::milliseconds(hold) + 10s);
    if (!status || *status != 0) {
      throw std::runtime_error("xdotool failed: " +
                               (status ? DescribeWaitStatus(*status) : std::string("timed out")));
    }
  }
  WaitForTransitions(listener, 2 * options.holds);
  const Cycles cycles = ReadCycles(listener.SpaceTransitions(), std::nullopt);
  ProgramHolds run{"xdotool", interval_ms, {}, {}, {}, cycles.out_of_order, std::nullopt};
  for (const std::int64_t h : cycles.holds)
    run.holds.push_back({static_cast<double>(h - hold), std::nullopt});
  return run;
}

void RunOthers(const Options& options, Phase& phase) {
  const std::size_t n = options.intervals.size();
  const std::string how = phase.side_by_side ? " side by side" : " one after another";
  for (const bool floor : {true, false}) {
    if (!floor && !OnPath("xdotool")) continue;
    Progress(std::string(floor ? "the floor" : "xdotool") + ": the same holds" + how + ", " +
             std::to_string(options.holds) + " each");
    std::vector<ProgramHolds> runs(n);
    ForEachInterval(n, phase.side_by_side, [&](std::size_t i) {
      runs[i] = floor ? RunFloor(options, options.intervals[i])
                      : RunXdotool(options, options.intervals[i]);
    });
    phase.runs.insert(phase.runs.end(), runs.begin(), runs.end());
  }
}

}  // namespace

FloorProcess::FloorProcess(const std::string& name, const Options& options, int interval_ms,
                           std::vector<EnvChange> env)
    : name_(name),
      out_(TempFile()),
      budget_((2 * interval_ms + kFloorGapMs + 100) * static_cast<int>(options.holds) + 10000) {
  SpawnOptions spawn;
  spawn.argv = {options.floor_dir + "/" + name, std::to_string(options.holds),
                std::to_string(interval_ms), std::to_string(kFloorGapMs)};
  spawn.env = std::move(env);
  spawn.stdout_fd = out_;
  pid_ = Spawn(spawn);
}

FloorProcess::~FloorProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    WaitForPid(pid_, 5s);
  }
  close(out_);
}

std::vector<TraceEvent> FloorProcess::Finish() {
  const auto status = WaitForPid(pid_, budget_);
  if (status) pid_ = 0;
  if (!status || *status != 0) {
    throw std::runtime_error(
        name_ + " failed: " + (status ? DescribeWaitStatus(*status) : std::string("timed out")));
  }
  const std::string text = ReadTail(out_, 1 << 20);
  std::vector<TraceEvent> trace;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t eol = std::min(text.find('\n', at), text.size());
    if (auto e = ParseTraceLine(std::string_view(text).substr(at, eol - at))) trace.push_back(*e);
    at = eol + 1;
  }
  return trace;
}

void ForEachInterval(std::size_t count, bool side_by_side,
                     const std::function<void(std::size_t)>& run) {
  if (!side_by_side) {
    for (std::size_t i = 0; i < count; ++i) run(i);
    return;
  }
  std::vector<std::exception_ptr> failures(count);
  const auto guarded = [&](std::size_t i) {
    try {
      run(i);
    } catch (...) {
      failures[i] = std::current_exception();
    }
  };
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < count; ++i) {
    threads.emplace_back([&, i] {
      std::this_thread::sleep_for(i * 333ms);
      guarded(i);
    });
  }
  for (std::thread& t : threads) t.join();
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
}

Phase RunPhase(const Options& options, bool loaded, bool side_by_side) {
  Phase phase;
  phase.server = "X11";
  phase.loaded = loaded;
  phase.side_by_side = side_by_side;
  WaitForQuietMachine();
  std::optional<CpuHog> hog;
  if (loaded) {
    hog.emplace();
    Progress("CPU hog: " + std::to_string(hog->threads()) + " spinning threads");
  }
  const auto cpu_before = CpuTimes::Now();
  phase.wake_late_ms = WakeLateness();
  RunTollmere(options, phase);
  RunOthers(options, phase);
  hog.reset();
  phase.busy = BusySince(cpu_before);
  return phase;
}

}  // namespace tollmere::bench
