// Hold cycles on one headless GNOME, the keys going through the
// RemoteDesktop portal, read by a probe window with its own monotonic clock,
// which is also the clock of the program's --trace times.
#include <linux/input-event-codes.h>

#include <chrono>
#include <csignal>
#include <memory>

#include "bench.h"
#include "harness/app_process.h"
#if TOLLMERE_BENCH_GNOME
#include "harness/gnome/headless_gnome.h"
#include "harness/wayland/wayland_probe.h"
#endif

namespace tollmere::bench {
#if !TOLLMERE_BENCH_GNOME
std::vector<GnomeRun> RunGnomeHolds(const Options&, std::string& skipped) {
  skipped = "this build has no GNOME test harness.";
  return {};
}
#else
namespace {

int CountTrace(const AppProcess& app, const std::string& event, const std::string& arg = "") {
  int n = 0;
  for (const TraceEvent& e : app.Trace()) n += e.event == event && (arg.empty() || e.arg == arg);
  return n;
}

}  // namespace

std::vector<GnomeRun> RunGnomeHolds(const Options& options, std::string& skipped) {
  if (!(skipped = HeadlessGnome::Unavailable()).empty()) return {};
  WaitForQuietMachine();
  Progress("GNOME: headless mutter, the RemoteDesktop portal, " +
           std::to_string(options.gnome_holds) + " cycles per interval");
  std::unique_ptr<HeadlessGnome> gnome;
  try {
    gnome = std::make_unique<HeadlessGnome>();
  } catch (const GnomeCannotStart& e) {
    skipped = std::string("mutter could not start here: ") + e.what();
    return {};
  }
  const auto env = gnome->ClientEnvironment();
  AppProcess app(options.binary, env, {"--trace", "--backend=portal"});
  Require(gnome->ApproveRemoteDesktopDialog(),
          "the portal's dialog was not answered:\n" + gnome->Log(), &app);
  Require(app.WaitForTrace("first-paint", std::nullopt, 10s).has_value(), "no window", &app);
  // mutter focuses the newest window, and the program's keys go to the focus.
  WaylandProbe probe(gnome->socket_path());
  Require(probe.WaitForFocus(5s), "mutter did not focus the probe", &app);

  std::vector<GnomeRun> runs;
  for (const int interval_ms : options.gnome_intervals) {
    GnomeRun run;
    run.interval_ms = interval_ms;
    const double hold = 2.0 * interval_ms;
    for (std::size_t cycle = 0; cycle < options.gnome_holds; ++cycle) {
      const std::size_t mark = probe.events().size();
      const int downs = CountTrace(app, "key-down"), ups = CountTrace(app, "key-up");
      const int starts = CountTrace(app, "caption", "Start");
      // A second tollmere hands the request to the running one over the bus,
      // as a launcher or a shortcut would.
      AppProcess remote(options.binary, env,
                        {"--interval=" + std::to_string(interval_ms), "--start"});
      const ExitStatus status = remote.WaitForExit(5s);
      Require(status.Exited() && status.Code() == 0, "`tollmere --start` " + status.Describe(),
              &app);
      Require(probe.WaitForKeys(2,
                                std::chrono::milliseconds(kCountdownMs + 3000) +
                                    std::chrono::milliseconds(int(hold)),
                                KEY_SPACE, mark),
              "no hold at the probe", &app);
      const auto keys = probe.Transitions(KEY_SPACE, mark);
      Require(keys[0].press && !keys[1].press, "key changes out of order", &app);
      const auto down = app.WaitForTrace("key-down", std::nullopt, 2s, downs + 1);
      const auto up = app.WaitForTrace("key-up", std::nullopt, 2s, ups + 1);
      Require(down && up, "no key-down and key-up in the trace", &app);
      run.hold_errors.push_back(keys[1].ms - keys[0].ms - hold);
      run.traced_hold_errors.push_back(up->ms - down->ms - hold);
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
