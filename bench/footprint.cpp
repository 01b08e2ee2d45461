// What Tollmere costs to start and to keep open: fork to first paint, peak
// memory and idle wake-ups, beside a bare Qt window's where that makes sense.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
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

using namespace std::chrono_literals;
using namespace tollmere::e2e;

constexpr auto kIdle = 10s;
constexpr const char* kBareTitle = "Bare Qt window";

// Voluntary and involuntary context switches of all of a process's threads.
long ContextSwitches(pid_t pid) {
  long total = 0;
  std::error_code ec;
  for (const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::ifstream in(task.path() / "status");
    for (std::string line; std::getline(in, line);) {
      if (line.find("ctxt_switches:") != std::string::npos)
        total += std::atol(line.c_str() + line.find(':') + 1);
    }
  }
  return total;
}

long WakeupsOver(pid_t pid, std::chrono::seconds span) {
  const long before = ContextSwitches(pid);
  std::this_thread::sleep_for(span);
  return ContextSwitches(pid) - before;
}

// The program /usr/bin/time started.
pid_t ChildOf(pid_t parent) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    std::ifstream in(entry.path() / "stat");
    std::string stat;
    if (!std::getline(in, stat) || stat.rfind(')') == std::string::npos) continue;
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    char state = 0;
    pid_t ppid = 0;
    if (rest >> state >> ppid && ppid == parent) return std::atoi(entry.path().filename().c_str());
  }
  return -1;
}

// Peak resident memory as `/usr/bin/time -v` wrote it.
std::optional<long> PeakRssKb(const std::string& path) {
  std::ifstream in(path);
  const std::string key = "Maximum resident set size (kbytes):";
  for (std::string line; std::getline(in, line);) {
    if (const auto at = line.find(key); at != std::string::npos)
      return std::atol(line.c_str() + at + key.size());
  }
  return std::nullopt;
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
    if (!painted) throw std::runtime_error(binary + " traced no first paint:\n" + app.Stderr());
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
  char rss_path[] = "/tmp/tollmere-bench-time-XXXXXX";
  const int fd = mkstemp(rss_path);
  if (fd < 0) throw std::runtime_error("cannot create a temporary file");
  close(fd);
  {
    AppProcess app("/usr/bin/time", env, {"-v", "-o", rss_path, options.binary, "--trace"});
    if (!app.WaitForTrace("first-paint", std::nullopt, 15s))
      throw std::runtime_error("no first paint under /usr/bin/time:\n" + app.Stderr());
    const pid_t pid = ChildOf(app.pid());
    const unsigned long window = driver.WaitForWindow("Tollmere", 5s);
    if (pid <= 0 || window == 0) throw std::runtime_error("no program under /usr/bin/time");
    // One short cycle, its keystroke going to the probe, so the peak covers
    // a hold as well as start-up.
    driver.Focus(window);
    driver.Type("20");
    app.WaitForTrace("interval", "20", 5s);
    driver.Click(window, StartButtonCentre());
    probe.TakeFocus();
    if (!app.WaitForTrace("caption", "Start", 10s)) throw std::runtime_error("no end of cycle");
    std::this_thread::sleep_for(1s);
    out.wakeups_background = WakeupsOver(pid, kIdle);
    // In front, the caret in the interval box, nobody typing: the caret
    // blinks for a while, then rests.
    driver.Focus(window);
    driver.Click(window, IntervalBoxCentre());
    out.wakeups_focused = WakeupsOver(pid, kIdle);
    std::this_thread::sleep_for(1s);
    out.wakeups_focused_later = WakeupsOver(pid, kIdle);
    driver.RequestClose(window);
    app.WaitForExit(5s);
  }
  out.peak_rss_kb = PeakRssKb(rss_path);
  {
    AppProcess bare("/usr/bin/time", env, {"-v", "-o", rss_path, TOLLMERE_BARE_WINDOW});
    if (bare.WaitForTrace("first-paint", std::nullopt, 15s)) {
      std::this_thread::sleep_for(1s);
      if (const unsigned long window = driver.WaitForWindow(kBareTitle, 5s))
        driver.RequestClose(window);
    }
    bare.WaitForExit(5s);
  }
  out.bare_peak_rss_kb = PeakRssKb(rss_path);
  std::remove(rss_path);
  return out;
}

}  // namespace tollmere::bench
