// What Tollmere costs to start and to keep open: fork to first paint, peak
// memory and idle wake-ups, beside a bare Qt window's where that makes sense.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "bench.h"
#include "harness/app_process.h"
#include "harness/driver.h"
#include "harness/monotonic.h"
#include "harness/probe.h"
#include "harness/xvfb_server.h"

namespace tollmere::bench {
namespace {

constexpr auto kIdle = 10s;
constexpr const char* kBareTitle = "Bare Qt window";

// The sum of the numbers after `key` in a /proc status file.
long StatusSum(const std::filesystem::path& status, const std::string& key) {
  long total = 0;
  std::ifstream in(status);
  for (std::string line; std::getline(in, line);) {
    if (const auto at = line.find(key); at != std::string::npos)
      total += std::atol(line.c_str() + at + key.size());
  }
  return total;
}

// Voluntary and involuntary context switches of all of a process's threads.
long ContextSwitches(pid_t pid) {
  long total = 0;
  std::error_code ec;
  for (const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec))
    total += StatusSum(task.path() / "status", "ctxt_switches:");
  return total;
}

long WakeupsOver(pid_t pid, std::chrono::seconds span) {
  const long before = ContextSwitches(pid);
  std::this_thread::sleep_for(span);
  return ContextSwitches(pid) - before;
}

// The most resident memory the process has had, read before it ends.
long PeakRssKb(pid_t pid) {
  return StatusSum("/proc/" + std::to_string(pid) + "/status", "VmHWM:");
}

}  // namespace

Footprint RunFootprint(const Options& options) {
  Footprint out;
  WaitForQuietMachine();
  XvfbServer xvfb;
  Probe probe(xvfb.name());
  Driver driver(xvfb.name());
  probe.TakeFocus();
  const auto env = AppProcess::XEnvironment(xvfb.name());

  // Alternately, so that both see the same machine: fork to the first
  // paint, then closed as a window manager would.
  Progress("start-up to first paint: Tollmere and the bare Qt window alternately, " +
           std::to_string(options.starts) + " each after one untimed");
  const auto time_start = [&](const std::string& binary, const std::vector<std::string>& args,
                              const std::string& title) {
    const double fork_ms = MonotonicMs();
    AppProcess app(binary, env, args);
    const auto painted = app.WaitForTrace("first-paint", std::nullopt, 15s);
    Require(painted.has_value(), binary + " traced no first paint", &app);
    if (const unsigned long window = driver.WaitForWindow(title, 5s)) driver.RequestClose(window);
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

  Progress("peak memory over one cycle, then idle wake-ups in the background and focused");
  {
    AppProcess app(options.binary, env, {"--trace"});
    const unsigned long window = driver.WaitForWindow("Tollmere", 15s);
    Require(window != 0 && app.WaitForTrace("first-paint", std::nullopt, 5s).has_value(),
            "no Tollmere window", &app);
    // One short cycle, its keystroke going to the probe, so the peak covers
    // a hold as well as start-up.
    driver.Focus(window);
    driver.Type("20");
    app.WaitForTrace("interval", "20", 5s);
    driver.Click(window, StartButtonCentre());
    probe.TakeFocus();
    Require(app.WaitForTrace("caption", "Start", 10s).has_value(), "no end of cycle", &app);
    std::this_thread::sleep_for(1s);
    out.wakeups_background = WakeupsOver(app.pid(), kIdle);
    // In front, the caret in the interval box, nobody typing: the caret
    // blinks for a while, then rests.
    driver.Focus(window);
    driver.Click(window, IntervalBoxCentre());
    out.wakeups_focused = WakeupsOver(app.pid(), kIdle);
    std::this_thread::sleep_for(1s);
    out.wakeups_focused_later = WakeupsOver(app.pid(), kIdle);
    out.peak_rss_kb = PeakRssKb(app.pid());
    driver.RequestClose(window);
    app.WaitForExit(5s);
  }
  AppProcess bare(TOLLMERE_BARE_WINDOW, env);
  if (bare.WaitForTrace("first-paint", std::nullopt, 15s)) {
    std::this_thread::sleep_for(1s);
    out.bare_peak_rss_kb = PeakRssKb(bare.pid());
    if (const unsigned long window = driver.WaitForWindow(kBareTitle, 5s))
      driver.RequestClose(window);
  }
  bare.WaitForExit(5s);
  return out;
}

}  // namespace tollmere::bench
