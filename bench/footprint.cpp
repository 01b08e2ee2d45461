#include "footprint.h"

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "format.h"
#include "harness/app_process.h"
#include "harness/driver.h"
#include "harness/monotonic.h"
#include "harness/probe.h"
#include "harness/xvfb_server.h"
#include "machine.h"

namespace tollmere::bench {
namespace {

using namespace std::chrono_literals;
using namespace tollmere::e2e;

constexpr double kIdleSeconds = 10;
constexpr const char* kBareTitle = "Bare Qt window";

long ContextSwitches(pid_t pid) {
  long total = 0;
  const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
    std::ifstream in(task.path() / "status");
    std::string line;
    while (std::getline(in, line)) {
      for (const std::string_view key :
           {"voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:"}) {
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

}  // namespace

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
    if (pid <= 0 || window == 0)
      throw std::runtime_error("cannot find the program under /usr/bin/time");
    // One short cycle, its keystroke going to the probe, so the peak covers
    // a hold as well as start-up.
    driver.Focus(window);
    driver.Type("20");
    app.WaitForTrace("interval", "20", 5s);
    driver.Click(window, StartButtonCentre());
    probe.TakeFocus();
    if (!app.WaitForTrace("caption", "Start", 10s))
      throw std::runtime_error("the cycle did not end");
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
      if (const unsigned long window = driver.WaitForWindow(kBareTitle, 5s))
        driver.RequestClose(window);
    }
    bare.WaitForExit(5s);
  }
  out.bare_peak_rss_kb = read_peak_rss(rss_path);
  std::remove(rss_path);
  return out;
}

}  // namespace tollmere::bench
