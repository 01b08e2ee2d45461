// tollmere-bench: how exactly Tollmere holds the space bar and counts down,
// idle and with every core busy, against xdotool doing the same holds, and
// what it costs to start and to keep open. Every key time is the X server's
// own timestamp, read by an XInput 2 listener on the root window.
#include <sys/resource.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "cpu_hog.h"
#include "harness/app_process.h"
#include "harness/child_process.h"
#include "harness/driver.h"
#include "harness/monotonic.h"
#include "harness/probe.h"
#include "harness/xvfb_server.h"
#include "measure.h"
#include "raw_listener.h"
#include "wayland_holds.h"

namespace {

using namespace std::chrono_literals;
using namespace tollmere::e2e;
using tollmere::bench::ClosestApproach;
using tollmere::bench::CpuHog;
using tollmere::bench::Cycles;
using tollmere::bench::KeyTransition;
using tollmere::bench::RawInput;
using tollmere::bench::RawListener;
using tollmere::bench::ReadCycles;
using tollmere::bench::ReplaceSection;
using tollmere::bench::ServerSpan;
using tollmere::bench::Summarize;
using tollmere::bench::Summary;

constexpr const char* kUsage =
    "Usage: tollmere-bench [--tollmere PATH] [--readme PATH] [--holds N] [--anchors N]\n"
    "                      [--starts N] [--intervals L] [--serial] [--timelines] [--only PART]\n"
    "                      [--wayland-holds N]\n"
    "Measures Tollmere's hold and countdown timing (idle and with every core busy)\n"
    "against xdotool, its start-up time, peak memory and idle wake-ups, on private\n"
    "Xvfb servers, and its timing on headless sway. Prints the results as Markdown; with --readme, also puts them in\n"
    "that file's \"## Benchmark\" section.\n"
    "  --holds N    hold cycles per interval and condition (default 31)\n"
    "  --anchors N  xdotool holds per length and condition (default 30)\n"
    "  --starts N   timed start-ups (default 15, after one untimed)\n"
    "  --intervals L  comma-separated intervals in ms (default 20,500,1000)\n"
    "  --serial     run the intervals one after another, not side by side\n"
    "  --timelines  print each run's trace and server events on one time line\n"
    "  --wayland-holds N  hold cycles per interval on sway (default 30)\n"
    "  --only PART  run only this part: idle, loaded, footprint or wayland (repeatable)\n";

constexpr int kCountdownMs = 4000;
constexpr int kCountdownTicks = 4;
constexpr double kIdleSeconds = 10;
constexpr const char* kBareTitle = "Bare Qt window";
constexpr std::int64_t kNearMs = 3;  // key events of two runs this close may have met

struct Options {
  std::string binary = TOLLMERE_DEFAULT_BINARY;
  std::string readme;
  std::size_t holds = 31;
  std::size_t anchors = 30;
  std::size_t starts = 15;
  std::vector<int> intervals = {20, 500, 1000};
  bool serial = false;
  bool timelines = false;
  std::size_t wayland_holds = 30;
  bool idle = true, loaded = true, footprint = true, wayland = true;  // which parts to run
};


std::string Format(const char* fmt, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

void Progress(const std::string& text) {
  std::fprintf(stderr, "[bench %6.1f s] %s\n", MonotonicMs() / 1000.0, text.c_str());
}

// ---------------------------------------------------------------- cycles

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
    for (const TraceEvent& e : app_ ? app_->Trace() : trace_) lines.push_back({e.ms, "trace  " + e.event + " " + e.arg});
    static const char* kKinds[] = {"key down", "key up", "button down", "button up"};
    for (const RawInput& in : listener_.Events()) {
      lines.push_back({static_cast<double>(in.server_ms), std::string("server ") + kKinds[in.kind] + " " +
                                                              std::to_string(in.detail)});
    }
    std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
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

struct HoldRun {
  int interval_ms = 0;
  Cycles cycles;
};

struct Phase {
  bool loaded = false;
  std::vector<HoldRun> runs;
  std::map<int, std::vector<double>> anchor_errors;  // by hold length
  std::size_t anchor_out_of_order = 0;
  std::optional<std::int64_t> closest_ms;  // between two instances' key changes
  std::size_t key_events = 0;              // of all instances
  std::size_t near_events = 0;             // within kNearMs of another instance's
  std::optional<Summary> wake_late_ms;     // of a plain timed sleep, the scheduler's floor
  double busy_percent = 0;                 // of all cores over the phase
  double foreign_percent = 0;              // of that, by processes not ours
};

// Processor time in seconds: all cores busy, all cores in total (/proc/stat),
// and ours (this process and the children it has reaped: servers, programs).
struct CpuTimes {
  double busy = 0, total = 0, own = 0;
  static CpuTimes Now() {
    CpuTimes t;
    std::ifstream in("/proc/stat");
    std::string cpu;
    double user = 0, nice = 0, sys = 0, idle = 0, iowait = 0, irq = 0, softirq = 0, steal = 0;
    in >> cpu >> user >> nice >> sys >> idle >> iowait >> irq >> softirq >> steal;
    const double hz = static_cast<double>(sysconf(_SC_CLK_TCK));
    t.busy = (user + nice + sys + irq + softirq + steal) / hz;
    t.total = t.busy + (idle + iowait) / hz;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
      rusage ru{};
      getrusage(who, &ru);
      t.own += static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
               static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    }
    return t;
  }
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
      std::fprintf(stderr, "--- interval %d ms\n%s", instance.interval_ms(), instance.Timeline().c_str());
    }
  };
  if (options.serial) {
    for (int interval : options.intervals) {
      Progress("Tollmere, interval " + std::to_string(interval) + " ms: " + std::to_string(options.holds) +
               " cycles");
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
  for (int interval : options.intervals) list += (list.empty() ? "" : ", ") + std::to_string(interval);
  Progress("Tollmere, intervals " + list + " ms side by side: " + std::to_string(options.holds) + " cycles each");
  std::vector<std::unique_ptr<Instance>> instances;
  for (int interval : options.intervals) instances.push_back(std::make_unique<Instance>(options, interval));
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
              n += in.detail == space && (in.kind == RawInput::kKeyPress || in.kind == RawInput::kKeyRelease);
            }
            return n >= before + 2;
          },
          2s);
      const auto all = listener.SpaceTransitions();
      const std::vector<KeyTransition> mine(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
      const Cycles cycles = ReadCycles(mine, std::nullopt);
      phase.anchor_out_of_order += cycles.out_of_order + (cycles.holds.size() == 1 ? 0 : 1);
      if (cycles.holds.size() == 1) phase.anchor_errors[hold].push_back(static_cast<double>(cycles.holds[0] - hold));
    }
  }
}

// Other work on the machine skews every figure here, so each part waits, up
// to a limit, until other processes have left the processors nearly idle for
// a few seconds. What they used during the part is reported all the same.
void WaitForQuietMachine() {
  const auto give_up = std::chrono::steady_clock::now() + 5min;
  for (;;) {
    const CpuTimes before = CpuTimes::Now();
    std::this_thread::sleep_for(3s);
    const CpuTimes after = CpuTimes::Now();
    const double foreign = 100.0 * std::max(0.0, (after.busy - before.busy) - (after.own - before.own)) /
                           std::max(1e-3, after.total - before.total);
    if (foreign < 10) return;
    if (std::chrono::steady_clock::now() > give_up) {
      Progress("the machine stayed busy (" + Format("%.0f", foreign) + " % by other processes); measuring anyway");
      return;
    }
    Progress("waiting for a quiet machine: other processes use " + Format("%.0f", foreign) + " % of it");
  }
}

// How late a plain absolute clock_nanosleep wakes up under the same
// conditions: what the scheduler alone costs any program, before Qt, X or
// Tollmere add anything.
std::optional<Summary> WakeLateness() {
  std::vector<double> late;
  for (int i = 0; i < 200; ++i) {
    timespec due{};
    clock_gettime(CLOCK_MONOTONIC, &due);
    due.tv_nsec += 20'000'000;
    if (due.tv_nsec >= 1'000'000'000) {
      due.tv_nsec -= 1'000'000'000;
      ++due.tv_sec;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
    }
    late.push_back(MonotonicMs() - (static_cast<double>(due.tv_sec) * 1e3 + static_cast<double>(due.tv_nsec) / 1e6));
  }
  return Summarize(late);
}

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

// ---------------------------------------------------------------- footprint

struct Footprint {
  std::vector<double> first_paint_ms;
  std::vector<double> bare_first_paint_ms;  // a bare Qt window, for the floor
  std::optional<long> peak_rss_kb;
  std::optional<long> bare_peak_rss_kb;
  long wakeups_background = -1;
  long wakeups_focused = -1;       // the 10 s after a click in the interval box
  long wakeups_focused_later = -1;  // the 10 s after those
};

long ContextSwitches(pid_t pid) {
  long total = 0;
  const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
    std::ifstream in(task.path() / "status");
    std::string line;
    while (std::getline(in, line)) {
      for (const std::string_view key : {"voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:"}) {
        if (line.rfind(key, 0) == 0) total += std::atol(line.c_str() + key.size());
      }
    }
  }
  return total;
}

pid_t ChildOf(pid_t parent) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t paren = stat.rfind(')');
    if (paren == std::string::npos) continue;
    std::istringstream rest(stat.substr(paren + 2));
    char state = 0;
    pid_t ppid = 0;
    rest >> state >> ppid;
    if (ppid == parent) return static_cast<pid_t>(std::stol(name));
  }
  return -1;
}

long WakeupsOver(pid_t pid, double seconds) {
  const long before = ContextSwitches(pid);
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  return ContextSwitches(pid) - before;
}

Footprint RunFootprint(const Options& options) {
  Footprint out;
  WaitForQuietMachine();
  XvfbServer xvfb;
  Probe probe(xvfb.name());
  Driver driver(xvfb.name());
  probe.TakeFocus();

  Progress("start-up to first paint: " + std::to_string(options.starts) +
           " starts after one untimed, each followed by one of a bare Qt window");
  // Fork to the first paint, then closed as a window manager would.
  const auto time_start = [&](const std::string& binary, const std::vector<std::string>& args,
                              const std::string& title) {
    const double fork_ms = MonotonicMs();
    AppProcess app(binary, AppProcess::XEnvironment(xvfb.name()), args);
    const auto painted = app.WaitForTrace("first-paint", std::nullopt, 15s);
    if (!painted) throw std::runtime_error(binary + " traced no first paint:\n" + app.Stderr());
    const unsigned long window = driver.WaitForWindow(title, 5s);
    if (window != 0) driver.RequestClose(window);
    app.WaitForExit(5s);
    return painted->ms - fork_ms;
  };
  for (std::size_t i = 0; i <= options.starts; ++i) {
    const double tollmere = time_start(options.binary, {"--trace"}, "Tollmere");
    const double bare = time_start(TOLLMERE_BARE_WINDOW, {}, kBareTitle);
    if (i == 0) continue;
    out.first_paint_ms.push_back(tollmere);
    out.bare_first_paint_ms.push_back(bare);
  }

  // Peak resident memory as /usr/bin/time reports it for a whole run.
  const auto read_peak_rss = [](const char* path) -> std::optional<long> {
    std::ifstream in(path);
    std::string line;
    constexpr std::string_view kKey = "Maximum resident set size (kbytes):";
    while (std::getline(in, line)) {
      if (const std::size_t at = line.find(kKey); at != std::string::npos) {
        return std::atol(line.c_str() + at + kKey.size());
      }
    }
    return std::nullopt;
  };

  Progress("peak memory over one cycle, then idle wake-ups, " + std::to_string(int(kIdleSeconds)) +
           " s in the background and " + std::to_string(int(kIdleSeconds)) + " s focused");
  char rss_path[] = "/tmp/tollmere-bench-time-XXXXXX";
  const int fd = mkstemp(rss_path);
  if (fd < 0) throw std::runtime_error("cannot create a temporary file");
  close(fd);
  {
    AppProcess app("/usr/bin/time", AppProcess::XEnvironment(xvfb.name()),
                   {"-v", "-o", rss_path, options.binary, "--trace"});
    if (!app.WaitForTrace("first-paint", std::nullopt, 15s)) {
      throw std::runtime_error("no first-paint trace under /usr/bin/time:\n" + app.Stderr());
    }
    const pid_t pid = ChildOf(app.pid());
    const unsigned long window = driver.WaitForWindow("Tollmere", 5s);
    if (pid <= 0 || window == 0) throw std::runtime_error("cannot find the program under /usr/bin/time");
    // One short cycle, its keystroke going to the probe, so the peak covers
    // a hold as well as start-up.
    driver.Focus(window);
    driver.Type("20");
    app.WaitForTrace("interval", "20", 5s);
    driver.Click(window, StartButtonCentre());
    probe.TakeFocus();
    if (!app.WaitForTrace("caption", "Start", 10s)) throw std::runtime_error("the cycle did not end");
    std::this_thread::sleep_for(1s);
    out.wakeups_background = WakeupsOver(pid, kIdleSeconds);
    // The window in front, the caret in the interval box, nobody typing:
    // the caret blinks for a while, then rests.
    driver.Focus(window);
    driver.Click(window, IntervalBoxCentre());
    out.wakeups_focused = WakeupsOver(pid, kIdleSeconds);
    std::this_thread::sleep_for(1s);
    out.wakeups_focused_later = WakeupsOver(pid, kIdleSeconds);
    driver.RequestClose(window);
    app.WaitForExit(5s);
  }
  out.peak_rss_kb = read_peak_rss(rss_path);
  {
    AppProcess bare("/usr/bin/time", AppProcess::XEnvironment(xvfb.name()),
                    {"-v", "-o", rss_path, TOLLMERE_BARE_WINDOW});
    if (bare.WaitForTrace("first-paint", std::nullopt, 15s)) {
      std::this_thread::sleep_for(1s);
      if (const unsigned long window = driver.WaitForWindow(kBareTitle, 5s)) driver.RequestClose(window);
    }
    bare.WaitForExit(5s);
  }
  out.bare_peak_rss_kb = read_peak_rss(rss_path);
  std::remove(rss_path);
  return out;
}

// ---------------------------------------------------------------- report

std::string Ms(double v) {
  // Whole milliseconds show as such; medians of an even count may be halves.
  return std::fabs(v - std::round(v)) < 1e-9 ? Format("%+.0f", v) : Format("%+.1f", v);
}

std::string Row(const std::vector<std::string>& cells) {
  std::string out = "|";
  for (const std::string& c : cells) out += " " + c + " |";
  return out + "\n";
}

std::string SummaryCells(const std::optional<Summary>& s) {
  if (!s) return "0 | – | – | – | –";
  return std::to_string(s->n) + " | " + Ms(s->min) + " | " + Ms(s->median) + " | " + Ms(s->p99) + " | " +
         Ms(s->max);
}

std::vector<double> ToDouble(const std::vector<std::int64_t>& v, double offset = 0, double scale = 1) {
  std::vector<double> out;
  for (std::int64_t x : v) out.push_back((static_cast<double>(x) - offset) / scale);
  return out;
}

std::string CpuModel() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("model name", 0) == 0) {
      const std::size_t colon = line.find(':');
      return colon == std::string::npos ? line : line.substr(colon + 2);
    }
  }
  return "unknown CPU";
}

std::string Today() {
  const std::time_t now = std::time(nullptr);
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
  return buf;
}

struct Goal {
  std::string what;
  std::string measured;
  bool met;
};

std::string Report(const Options& options, const std::vector<Phase>& phases,
                   const std::optional<Footprint>& footprint,
                   const std::vector<tollmere::bench::WaylandRun>& wayland, const std::string& wayland_skipped,
                   double minutes) {
  std::string md;
  utsname un{};
  uname(&un);
  md += "## Benchmark\n\n";
  md += "```sh\nbash bench/run      # builds what it needs, runs everything (about " +
        Format("%.0f", std::ceil(minutes)) + " minutes), updates this section\n```\n\n";
  md += "Measured on " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores (" + CpuModel() +
        "), Linux " + un.release + ", " + Today() + ", each program on a private Xvfb. Key and click " +
        "times are the X server's own timestamps, read by an XInput 2 raw-event listener on the root " +
        "window; they are whole milliseconds, so a difference of two carries up to ±1 ms of rounding. " +
        "p99 is the nearest rank (with fewer than 100 samples, the largest). \"Loaded\": " +
        "the benchmark spins one thread per core at normal priority for the whole phase.\n\n";

  std::vector<Goal> goals;
  std::map<bool, double> tollmere_p99, anchor_p99;

  md += "### Hold: key-up − key-down − 2 × interval (ms)\n\n";
  md += Row({"condition", "program", "hold", "n", "min", "median", "p99", "max"});
  md += "|---|---|---:|---:|---:|---:|---:|---:|\n";
  for (const Phase& p : phases) {
    const std::string cond = p.loaded ? "loaded" : "idle";
    std::vector<double> all;
    for (const HoldRun& r : p.runs) {
      const auto errors = ToDouble(r.cycles.holds, 2.0 * r.interval_ms);
      all.insert(all.end(), errors.begin(), errors.end());
      md += Row({cond, "Tollmere", std::to_string(2 * r.interval_ms) + " ms", SummaryCells(Summarize(errors))});
    }
    const auto pooled = Summarize(all);
    md += Row({cond, "**Tollmere**", "all", SummaryCells(pooled)});
    std::vector<double> anchor_all;
    for (const auto& [hold, errors] : p.anchor_errors) {
      anchor_all.insert(anchor_all.end(), errors.begin(), errors.end());
      md += Row({cond, "xdotool", std::to_string(hold) + " ms", SummaryCells(Summarize(errors))});
    }
    const auto anchor_pooled = Summarize(anchor_all);
    md += Row({cond, "**xdotool**", "all", SummaryCells(anchor_pooled)});
    if (pooled) tollmere_p99[p.loaded] = pooled->p99_abs;
    if (anchor_pooled) anchor_p99[p.loaded] = anchor_pooled->p99_abs;
    if (pooled) {
      const double limit = p.loaded ? 3 : 1;
      goals.push_back({"hold error p99, " + cond + " ≤ " + Format("%.0f", limit) + " ms",
                       Format("%.0f ms", pooled->p99_abs), pooled->p99_abs <= limit});
    }
  }
  md += "\n";
  for (const Phase& p : phases) {
    if (!tollmere_p99.count(p.loaded) || !anchor_p99.count(p.loaded)) continue;
    const double t = tollmere_p99[p.loaded];
    const double a = anchor_p99[p.loaded];
    md += std::string("- p99 ratio, ") + (p.loaded ? "loaded" : "idle") + ": xdotool " + Format("%.0f", a) +
          " ms / Tollmere " + Format("%.0f", t) + " ms = " +
          (t >= 1 ? Format("%.1f×", a / t) : Format("≥ %.0f× (Tollmere below the 1 ms resolution)", a)) +
          "\n";
  }
  for (const Phase& p : phases) {
    if (!p.wake_late_ms) continue;
    md += std::string("- scheduler floor, ") + (p.loaded ? "loaded" : "idle") +
          ": a plain 20 ms clock_nanosleep of the benchmark wakes " + Format("%.2f", p.wake_late_ms->median) +
          " ms late at the median, " + Format("%.2f", p.wake_late_ms->p99) + " ms at p99 (n = " +
          std::to_string(p.wake_late_ms->n) + ")\n";
  }
  md += "- xdotool holds include its default 12 ms pause after each keystroke (`--delay`), which it takes "
        "between the key-down and the `sleep`.\n\n";

  md += "### Countdown: key-down − click − 4000 ms (ms)\n\n";
  md += "In the repeating cycles the click is the release of the held space, which presses the focused "
        "button; each run's first countdown starts with a real mouse click.\n\n";
  md += Row({"condition", "started by", "n", "min", "median", "p99", "max", "p99 per tick (÷ 4)"});
  md += "|---|---|---:|---:|---:|---:|---:|---:|\n";
  for (const Phase& p : phases) {
    const std::string cond = p.loaded ? "loaded" : "idle";
    std::vector<double> by_key, by_mouse;
    for (const HoldRun& r : p.runs) {
      const auto errors = ToDouble(r.cycles.lead_ins, kCountdownMs);
      by_key.insert(by_key.end(), errors.begin(), errors.end());
      if (r.cycles.first_lead_in) by_mouse.push_back(static_cast<double>(*r.cycles.first_lead_in - kCountdownMs));
    }
    for (const auto& [label, values] : {std::pair{"space release", by_key}, std::pair{"mouse click", by_mouse}}) {
      const auto s = Summarize(values);
      md += Row({cond, label, SummaryCells(s), s ? Format("%.2f", s->p99_abs / kCountdownTicks) : "–"});
    }
    std::vector<double> both = by_key;
    both.insert(both.end(), by_mouse.begin(), by_mouse.end());
    if (const auto s = Summarize(both); s && !p.loaded) {
      goals.push_back({"countdown error per tick ≤ 1 ms (idle, p99)", Format("%.2f ms", s->p99_abs / kCountdownTicks),
                       s->p99_abs / kCountdownTicks <= 1});
    }
  }
  md += "\n";

  if (footprint) {
  const Footprint& fp = *footprint;
  md += "### Footprint\n\n";
  md += Row({"measure", "value"});
  md += "|---|---:|\n";
  const auto paint = Summarize(fp.first_paint_ms);
  if (paint) {
    md += Row({"fork to first paint, median of " + std::to_string(paint->n) + " starts (min–max)",
               Format("%.1f ms", paint->median) + " (" + Format("%.1f", paint->min) + "–" +
                   Format("%.1f", paint->max) + ")"});
    goals.push_back({"first paint ≤ 50 ms (median)", Format("%.1f ms", paint->median), paint->median <= 50});
  }
  if (const auto bare = Summarize(fp.bare_first_paint_ms)) {
    md += Row({"the same for a bare Qt window with the same two controls, started alternately",
               Format("%.1f ms", bare->median) + " (" + Format("%.1f", bare->min) + "–" +
                   Format("%.1f", bare->max) + ")"});
  }
  if (fp.peak_rss_kb) {
    md += Row({"peak RSS over start-up and one cycle (`/usr/bin/time -v`)",
               Format("%.1f MB", static_cast<double>(*fp.peak_rss_kb) / 1024.0)});
    goals.push_back({"peak RSS ≤ 30 MB", Format("%.1f MB", static_cast<double>(*fp.peak_rss_kb) / 1024.0),
                     *fp.peak_rss_kb <= 30 * 1024});
  }
  if (fp.bare_peak_rss_kb) {
    md += Row({"peak RSS of the bare Qt window",
               Format("%.1f MB", static_cast<double>(*fp.bare_peak_rss_kb) / 1024.0)});
  }
  md += Row({"wake-ups in 10 s idle, window in the background", std::to_string(fp.wakeups_background)});
  md += Row({"wake-ups in the first 10 s after a click in the interval box (caret blinking)",
             std::to_string(fp.wakeups_focused)});
  md += Row({"wake-ups in the 10 s after those, window still focused (caret at rest)",
             std::to_string(fp.wakeups_focused_later)});
  goals.push_back({"no periodic wake-ups when idle (background / focused, caret at rest, per 10 s)",
                   std::to_string(fp.wakeups_background) + " / " + std::to_string(fp.wakeups_focused_later),
                   fp.wakeups_background <= 2 && fp.wakeups_focused_later <= 2});
  md += "\nWake-ups are the voluntary and involuntary context switches of all the program's threads "
        "(`/proc/PID/task/*/status`). The caret blinks for 10 s after the last input in the box, as on "
        "desktops that stop it.\n\n";
  }

  if (options.wayland) {
    md += "### Wayland: headless sway, the virtual-keyboard back end (ms)\n\n";
    if (!wayland_skipped.empty()) {
      md += "Not measured: " + wayland_skipped + "\n\n";
    } else {
      md += "Each cycle: sway focuses Tollmere, the probe's own virtual keyboard presses \"Start\", the "
            "focus goes back to the probe, whose window receives the hold. Times are the probe's "
            "CLOCK_MONOTONIC at receipt (virtual keyboards carry no trustworthy timestamps); the click "
            "is when sway had taken the probe's space release. Idle machine; intervals side by side, "
            "each on its own sway.\n\n";
      md += Row({"measure", "hold", "n", "min", "median", "p99", "max"});
      md += "|---|---:|---:|---:|---:|---:|---:|\n";
      std::vector<double> holds, countdowns;
      const auto cells = [](const std::optional<Summary>& s) {
        return s ? std::vector<std::string>{std::to_string(s->n), Format("%+.1f", s->min), Format("%+.1f", s->median),
                                            Format("%+.1f", s->p99), Format("%+.1f", s->max)}
                 : std::vector<std::string>{"0", "", "", "", ""};
      };
      const auto row = [&](const std::string& what, const std::string& hold, const std::vector<double>& v) {
        std::vector<std::string> r = {what, hold};
        for (const std::string& c : cells(Summarize(v))) r.push_back(c);
        md += Row(r);
      };
      for (const auto& run : wayland) {
        holds.insert(holds.end(), run.hold_errors.begin(), run.hold_errors.end());
        countdowns.insert(countdowns.end(), run.countdown_errors.begin(), run.countdown_errors.end());
        row("hold error", std::to_string(2 * run.interval_ms) + " ms", run.hold_errors);
      }
      row("**hold error**", "all", holds);
      row("countdown error", "all", countdowns);
      md += "\n";
    }
  }

  md += "### Goals\n\n";
  md += Row({"goal", "measured", "met"});
  md += "|---|---:|:---:|\n";
  for (const Goal& g : goals) md += Row({g.what, g.measured, g.met ? "yes" : "**no**"});
  md += "\n";

  std::string notes;
  for (const Phase& p : phases) {
    const std::string cond = p.loaded ? "Loaded" : "Idle";
    notes += "- " + cond + " phase: all cores " + Format("%.0f", p.busy_percent) + " % busy, " +
             Format("%.0f", p.foreign_percent) + " % by other processes than the benchmark's" +
             (p.foreign_percent >= 10 ? " (enough to disturb these figures)" : "");
    if (!options.serial && p.closest_ms) {
      notes += "; the intervals ran side by side on separate servers: " + std::to_string(p.near_events) +
               " of their " + std::to_string(p.key_events) + " key events came within " + std::to_string(kNearMs) +
               " ms of another run's (closest " + std::to_string(*p.closest_ms) + " ms)";
    }
    std::size_t disorder = p.anchor_out_of_order;
    for (const HoldRun& r : p.runs) disorder += r.cycles.out_of_order;
    if (disorder > 0) notes += "; " + std::to_string(disorder) + " key changes out of order, left out";
    notes += ".\n";
  }
  md += "Notes:\n\n" + notes;
  return md;
}

Options ParseArgs(int argc, char** argv) {
  Options o;
  const auto count = [&](int& i, long least = 1) {
    if (i + 1 >= argc) throw std::invalid_argument(std::string(argv[i]) + " needs a number\n" + kUsage);
    const long v = std::strtol(argv[++i], nullptr, 10);
    if (v < least) throw std::invalid_argument(std::string("bad count '") + argv[i] + "'");
    return static_cast<std::size_t>(v);
  };
  bool only_seen = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (arg == "--tollmere" && i + 1 < argc) {
      o.binary = argv[++i];
    } else if (arg == "--readme" && i + 1 < argc) {
      o.readme = argv[++i];
    } else if (arg == "--holds") {
      o.holds = count(i);
    } else if (arg == "--anchors") {
      o.anchors = count(i, 0);
    } else if (arg == "--starts") {
      o.starts = count(i);
    } else if (arg == "--intervals" && i + 1 < argc) {
      o.intervals.clear();
      std::istringstream list(argv[++i]);
      for (std::string item; std::getline(list, item, ',');) {
        const int v = std::atoi(item.c_str());
        if (v < 1 || v > 60000) throw std::invalid_argument("bad interval '" + item + "'");
        o.intervals.push_back(v);
      }
    } else if (arg == "--serial") {
      o.serial = true;
    } else if (arg == "--timelines") {
      o.timelines = true;
    } else if (arg == "--wayland-holds") {
      o.wayland_holds = count(i);
    } else if (arg == "--only" && i + 1 < argc) {
      const std::string_view part = argv[++i];
      if (part != "idle" && part != "loaded" && part != "footprint" && part != "wayland") {
        throw std::invalid_argument(std::string("--only takes idle, loaded, footprint or wayland, not ") +
                                    argv[i]);
      }
      if (!only_seen) o.idle = o.loaded = o.footprint = o.wayland = false;
      only_seen = true;
      (part == "idle" ? o.idle : part == "loaded" ? o.loaded : part == "footprint" ? o.footprint : o.wayland) =
          true;
    } else {
      throw std::invalid_argument(std::string("unknown argument '") + argv[i] + "'\n" + kUsage);
    }
  }
  if (access(o.binary.c_str(), X_OK) != 0) throw std::runtime_error("no Tollmere program at " + o.binary);
  return o;
}

int Run(const Options& options) {
  const double t0 = MonotonicMs();
  std::vector<Phase> phases;
  if (options.idle) phases.push_back(RunPhase(options, false));
  if (options.loaded) phases.push_back(RunPhase(options, true));
  std::optional<Footprint> fp;
  if (options.footprint) fp = RunFootprint(options);
  std::vector<tollmere::bench::WaylandRun> wayland;
  std::string wayland_skipped;
  if (options.wayland) {
    wayland_skipped = tollmere::bench::WaylandUnavailable();
    if (wayland_skipped.empty()) {
      WaitForQuietMachine();
      Progress("Wayland: intervals side by side on headless sway, " + std::to_string(options.wayland_holds) +
               " cycles each");
      wayland = tollmere::bench::RunWaylandHolds(options.binary, options.wayland_holds, options.intervals);
    }
  }
  const std::string md =
      Report(options, phases, fp, wayland, wayland_skipped, (MonotonicMs() - t0) / 60000.0);
  std::fputs(md.c_str(), stdout);
  if (!options.readme.empty()) {
    std::ifstream in(options.readme);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(options.readme) << ReplaceSection(text, "## Benchmark", md);
    Progress("wrote the results to " + options.readme);
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
