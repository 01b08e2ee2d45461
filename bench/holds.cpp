#include "holds.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "cpu_hog.h"
#include "format.h"
#include "harness/app_process.h"
#include "harness/child_process.h"
#include "harness/driver.h"
#include "harness/xvfb_server.h"
#include "machine.h"
#include "raw_listener.h"

namespace tollmere::bench {
namespace {

using namespace std::chrono_literals;
using namespace tollmere::e2e;

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

  void ClickStart() { driver_.Click(window_, StartButtonCentre()); }

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
    driver_.RequestClose(window_);
    app_->WaitForExit(5s);
    trace_ = app_->Trace();
    app_.reset();
  }

  Cycles Read(std::size_t holds) const {
    return ReadCycles(listener_.SpaceTransitions(), ClickTime(), holds);
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
  unsigned long window_ = 0;
};

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
  std::vector<HoldRun>& runs = phase.runs;
  const auto finish = [&](Instance& instance) {
    instance.Close();
    runs.push_back({instance.interval_ms(), instance.Read(options.holds)});
    if (options.timelines) {
      std::fprintf(stderr, "--- interval %d ms\n%s", instance.interval_ms(),
                   instance.Timeline().c_str());
    }
  };
  if (options.serial) {
    for (int interval : options.intervals) {
      Progress("Tollmere, interval " + std::to_string(interval) +
               " ms: " + std::to_string(options.holds) + " cycles");
      Instance instance(options, interval);
      instance.ClickStart();
      instance.WaitForHolds(options.holds);
      finish(instance);
    }
    return;
  }
  // Side by side, each on its own server, to keep the run short; started a
  // third of a second apart so that the 500 and 1000 ms runs, whose events
  // stay on a 1 s grid, never meet. The 20 ms run's cycle is 4.04 s, so it
  // drifts past the others: the report says how often events came close.
  std::string list;
  for (int interval : options.intervals)
    list += (list.empty() ? "" : ", ") + std::to_string(interval);
  Progress("Tollmere, intervals " + list + " ms side by side: " + std::to_string(options.holds) +
           " cycles each");
  std::vector<std::unique_ptr<Instance>> instances;
  for (int interval : options.intervals)
    instances.push_back(std::make_unique<Instance>(options, interval));
  const auto t0 = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < instances.size(); ++i) {
    std::this_thread::sleep_until(t0 + i * 333ms);
    instances[i]->ClickStart();
  }
  for (auto& instance : instances) instance->WaitForHolds(options.holds);
  std::vector<std::vector<std::uint32_t>> times;
  for (auto& instance : instances) {
    times.push_back(instance->KeyTimes());
    finish(*instance);
  }
  instances.clear();
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

// `xdotool keydown space sleep S keyup space`, as a user of it would write
// the same hold, on a server of its own.
void RunAnchor(const Options& options, Phase& phase) {
  if (options.anchors == 0) return;
  Progress("xdotool: the same holds, " + std::to_string(options.anchors) + " each");
  XvfbServer xvfb;
  RawListener listener(xvfb.name());
  for (std::size_t rep = 0; rep < options.anchors; ++rep) {
    for (int interval : options.intervals) {
      const int hold = 2 * interval;
      const std::size_t before = listener.SpaceTransitions().size();
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%.3f", hold / 1000.0);
      SpawnOptions spawn;
      spawn.argv = {"xdotool", "keydown", "space", "sleep", seconds, "keyup", "space"};
      spawn.env = {{"DISPLAY", xvfb.name()}};
      const pid_t pid = Spawn(spawn);
      const auto status = WaitForPid(pid, std::chrono::milliseconds(hold) + 10s);
      if (!status || *status != 0) {
        throw std::runtime_error("xdotool failed: " +
                                 (status ? DescribeWaitStatus(*status) : std::string("timed out")));
      }
      const std::uint32_t space = listener.space_keycode();
      listener.WaitUntil(
          [&](const std::vector<RawInput>& events) {
            std::size_t n = 0;
            for (const RawInput& in : events) {
              n += in.detail == space &&
                   (in.kind == RawInput::kKeyPress || in.kind == RawInput::kKeyRelease);
            }
            return n >= before + 2;
          },
          2s);
      const auto all = listener.SpaceTransitions();
      const std::vector<KeyTransition> mine(all.begin() + static_cast<std::ptrdiff_t>(before),
                                            all.end());
      const Cycles cycles = ReadCycles(mine, std::nullopt);
      phase.anchor_out_of_order += cycles.out_of_order + (cycles.holds.size() == 1 ? 0 : 1);
      if (cycles.holds.size() == 1)
        phase.anchor_errors[hold].push_back(static_cast<double>(cycles.holds[0] - hold));
    }
  }
}

}  // namespace

Phase RunPhase(const Options& options, bool loaded) {
  Phase phase;
  phase.loaded = loaded;
  WaitForQuietMachine();
  std::optional<CpuHog> hog;
  if (loaded) {
    hog.emplace();
    Progress("CPU hog: " + std::to_string(hog->threads()) + " spinning threads");
  }
  const auto cpu_before = CpuTimes::Now();
  phase.wake_late_ms = WakeLateness();
  RunTollmere(options, phase);
  RunAnchor(options, phase);
  hog.reset();
  const auto cpu_after = CpuTimes::Now();
  const double total = std::max(1.0, cpu_after.total - cpu_before.total);
  const double busy = cpu_after.busy - cpu_before.busy;
  phase.busy_percent = 100.0 * busy / total;
  phase.foreign_percent = 100.0 * std::max(0.0, busy - (cpu_after.own - cpu_before.own)) / total;
  return phase;
}

}  // namespace tollmere::bench
