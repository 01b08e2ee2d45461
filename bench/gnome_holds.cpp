#include "gnome_holds.h"

#include <linux/input-event-codes.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <optional>

#include "harness/app_process.h"
#if TOLLMERE_BENCH_GNOME
#include "harness/gnome/headless_gnome.h"
#include "harness/wayland/wayland_probe.h"
#endif

namespace tollmere::bench {
#if !TOLLMERE_BENCH_GNOME
std::string GnomeUnavailable() {
  return "this build has no GNOME test harness (libwayland-dev or xkbcommon missing).";
}
std::vector<GnomeRun> RunGnomeHolds(const std::string&, std::size_t, const std::vector<int>&) {
  return {};
}
#else
namespace {

using namespace std::chrono_literals;
using e2e::AppProcess;
using e2e::GnomeCannotStart;
using e2e::HeadlessGnome;
using e2e::TraceEvent;
using e2e::WaylandProbe;

constexpr int kCountdownMs = 4000;

void Require(bool ok, const std::string& what, const AppProcess* app) {
  if (!ok) throw std::runtime_error(what + (app ? "; the program said:\n" + app->Stderr() : ""));
}

int CountTrace(const AppProcess& app, const std::string& event) {
  int n = 0;
  for (const TraceEvent& e : app.Trace()) n += e.event == event;
  return n;
}

}  // namespace

std::string GnomeUnavailable() { return HeadlessGnome::Unavailable(); }

std::vector<GnomeRun> RunGnomeHolds(const std::string& binary, std::size_t holds,
                                    const std::vector<int>& intervals) {
  std::unique_ptr<HeadlessGnome> gnome;
  try {
    gnome = std::make_unique<HeadlessGnome>();
  } catch (const GnomeCannotStart& e) {
    throw GnomeNotMeasured(e.what());
  }
  const auto env = gnome->ClientEnvironment();
  AppProcess app(binary, env, {"--trace", "--backend=portal"});
  Require(gnome->ApproveRemoteDesktopDialog(),
          "the portal's dialog was not answered:\n" + gnome->Log(), &app);
  Require(app.WaitForTrace("first-paint", std::nullopt, 10s).has_value(), "no window", &app);
  // mutter focuses the newest window, and the program's keys go to the focus.
  WaylandProbe probe(gnome->socket_path());
  Require(probe.WaitForFocus(5s), "mutter did not focus the probe", &app);

  std::vector<GnomeRun> runs;
  for (const int interval_ms : intervals) {
    GnomeRun run{interval_ms, {}, {}, {}, {}};
    const auto hold_timeout = std::chrono::milliseconds(kCountdownMs + 2 * interval_ms + 3000);
    for (std::size_t cycle = 0; cycle < holds; ++cycle) {
      const std::size_t mark = probe.events().size();
      const int downs = CountTrace(app, "key-down");
      const int ups = CountTrace(app, "key-up");
      int starts = 0;
      for (const TraceEvent& e : app.Trace()) starts += e.event == "caption" && e.arg == "Start";
      // A second tollmere hands the request to the running one over the bus,
      // as a launcher or a shortcut would.
      AppProcess remote(binary, env, {"--interval=" + std::to_string(interval_ms), "--start"});
      const e2e::ExitStatus status = remote.WaitForExit(5s);
      Require(status.Exited() && status.Code() == 0,
              "`tollmere --start` failed: " + status.Describe() + "\n" + remote.Stderr(), &app);
      Require(probe.WaitForKeys(2, hold_timeout, KEY_SPACE, mark), "no hold at the probe", &app);
      const auto keys = probe.Transitions(KEY_SPACE, mark);
      Require(keys[0].press && !keys[1].press, "key changes out of order", &app);
      run.hold_errors.push_back(keys[1].ms - keys[0].ms - 2.0 * interval_ms);

      const auto down = app.WaitForTrace("key-down", std::nullopt, 2s, downs + 1);
      const auto up = app.WaitForTrace("key-up", std::nullopt, 2s, ups + 1);
      Require(down && up, "no key-down and key-up in the trace", &app);
      run.traced_hold_errors.push_back(up->ms - down->ms - 2.0 * interval_ms);
      run.press_delays.push_back(keys[0].ms - down->ms);
      run.release_delays.push_back(keys[1].ms - up->ms);
      Require(app.WaitForTrace("caption", "Start", 3s, starts + 1).has_value(),
              "the button did not come back", &app);
    }
    runs.push_back(std::move(run));
  }
  app.Signal(SIGTERM);
  app.WaitForExit(5s);
  return runs;
}

#endif
}  // namespace tollmere::bench
