#include "wayland_holds.h"

#include <linux/input-event-codes.h>

#include <chrono>
#include <csignal>
#include <exception>
#include <memory>
#include <stdexcept>
#include <thread>

#include "harness/app_process.h"
#if TOLLMERE_BENCH_WAYLAND
#include "harness/wayland/headless_sway.h"
#include "harness/wayland/wayland_probe.h"
#endif

namespace tollmere::bench {
#if !TOLLMERE_BENCH_WAYLAND
std::string WaylandUnavailable() {
  return "this build has no Wayland test harness (libwayland-dev missing).";
}
std::vector<WaylandRun> RunWaylandHolds(const std::string&, std::size_t, const std::vector<int>&) {
  return {};
}
#else
namespace {

using namespace std::chrono_literals;
using e2e::AppProcess;
using e2e::HeadlessSway;
using e2e::MonotonicMs;
using e2e::WaylandProbe;

constexpr double kCountdownMs = 4000;

void Require(bool ok, const std::string& what, const AppProcess* app) {
  if (!ok) throw std::runtime_error(what + (app ? "; the program said:\n" + app->Stderr() : ""));
}

WaylandRun RunOne(const std::string& binary, std::size_t holds, int interval_ms) {
  WaylandRun run{interval_ms, {}, {}};
  HeadlessSway sway;
  WaylandProbe probe(sway);
  Require(probe.WaitForFocus(5s), "the probe never got the focus", nullptr);
  AppProcess app(binary, sway.ClientEnvironment());
  Require(probe.WaitForKeys(2, 10s), "no keystroke at start-up", &app);
  Require(app.WaitForTrace("first-paint", std::nullopt, 10s).has_value(), "no window", &app);
  for (int i = 0; i < 50 && probe.HasFocus(); ++i) probe.Pump(100ms);
  probe.TypeText(std::to_string(interval_ms));
  Require(app.WaitForTrace("interval", std::to_string(interval_ms), 3s).has_value(),
          "interval not taken", &app);
  probe.Type(KEY_TAB, true);
  probe.Type(KEY_TAB, false);

  const auto hold_timeout =
      std::chrono::milliseconds(static_cast<int>(kCountdownMs) + 2 * interval_ms + 3000);
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
    const auto keys = probe.Transitions(KEY_SPACE, mark);
    Require(keys[0].press && !keys[1].press, "key changes out of order", &app);
    run.countdown_errors.push_back(keys[0].ms - click - kCountdownMs);
    run.hold_errors.push_back(keys[1].ms - keys[0].ms - 2.0 * interval_ms);
    Require(app.WaitForTrace("caption", "Start", 2s, static_cast<int>(cycle) + 1).has_value(),
            "the button did not come back", &app);
  }
  app.Signal(SIGTERM);
  app.WaitForExit(5s);
  return run;
}

}  // namespace

std::string WaylandUnavailable() { return HeadlessSway::Unavailable(); }

std::vector<WaylandRun> RunWaylandHolds(const std::string& binary, std::size_t holds,
                                        const std::vector<int>& intervals) {
  std::vector<WaylandRun> runs(intervals.size());
  std::vector<std::exception_ptr> failures(intervals.size());
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < intervals.size(); ++i) {
    threads.emplace_back([&, i] {
      try {
        std::this_thread::sleep_for(i * 333ms);  // off each other's second grid
        runs[i] = RunOne(binary, holds, intervals[i]);
      } catch (...) {
        failures[i] = std::current_exception();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
  return runs;
}

#endif
}  // namespace tollmere::bench
