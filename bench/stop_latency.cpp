// How soon `tollmere --stop` from another process ends a hold: the running
// Tollmere takes the request over the session bus and releases the key.
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

#include "bench.h"
#include "harness/app_process.h"
#include "harness/monotonic.h"
#include "harness/probe.h"
#include "harness/session_bus.h"
#include "harness/xvfb_server.h"

namespace tollmere::bench {
namespace {

// From a CLOCK_MONOTONIC reading to a server timestamp: the server counts the
// same clock in whole milliseconds.
double MsUntil(double monotonic_ms, std::uint32_t server_ms) {
  const double whole = std::floor(monotonic_ms);
  return static_cast<double>(
             ServerSpan(static_cast<std::uint32_t>(std::int64_t(whole)), server_ms)) -
         (monotonic_ms - whole);
}

}  // namespace

StopLatency RunStopLatency(const Options& options) {
  StopLatency out;
  WaitForQuietMachine();
  Progress("stop from another process: " + std::to_string(options.stops) + " holds of " +
           std::to_string(2 * kStopIntervalMs) + " ms, `tollmere --stop` " +
           std::to_string(kStopAfterMs) + " ms into each");
  SessionBusDaemon bus;
  XvfbServer xvfb;
  RawListener listener(xvfb.name());
  Probe probe(xvfb.name());
  probe.TakeFocus();  // the holds go to the probe, not to "Start"

  std::vector<EnvChange> env = AppProcess::XEnvironment(xvfb.name());
  for (auto& [name, value] : env) {
    if (name == "DBUS_SESSION_BUS_ADDRESS") value = bus.address();
  }
  AppProcess app(options.binary, env);
  Require(app.WaitForTrace("first-paint", std::nullopt, 15s).has_value(), "no Tollmere window",
          &app);
  const auto run = [&](const std::vector<std::string>& args) {
    auto helper = std::make_unique<AppProcess>(options.binary, env, args);
    const ExitStatus status = helper->WaitForExit(10s);
    Require(status.Exited() && status.Code() == 0,
            "tollmere " + args.back() + " " + status.Describe(), helper.get());
    return helper;
  };
  run({"--interval=" + std::to_string(kStopIntervalMs)});

  for (std::size_t i = 0; i < options.stops; ++i) {
    // This cycle's key changes: exactly a press, then its release.
    const std::size_t before = listener.SpaceTransitions().size();
    run({"--start"});
    Require(WaitForSpace(listener, before + 1, kCountdownMs + 3000), "the hold did not begin",
            &app);
    const auto keys = listener.SpaceTransitions();
    Require(keys[before].press, "a release came before the press", &app);
    while (MsUntil(MonotonicMs(), keys[before].server_ms) > -kStopAfterMs)
      std::this_thread::sleep_for(1ms);

    const double started = MonotonicMs();
    const auto helper = run({"--trace", "--stop"});
    Require(WaitForSpace(listener, before + 2, 3000), "no release after --stop", &app);
    const auto after = listener.SpaceTransitions();
    Require(!after[before + 1].press, "a second press instead of the release", &app);
    const std::uint32_t up = after[before + 1].server_ms;
    out.from_start_ms.push_back(MsUntil(started, up));
    if (const auto call = helper->WaitForTrace("remote-call", "Stop", 0s))
      out.from_call_ms.push_back(MsUntil(call->ms, up));
    Require(app.WaitForTrace("caption", "Start", 2s, static_cast<int>(i) + 1).has_value(),
            "no \"Start\" after --stop", &app);
  }
  return out;
}

}  // namespace tollmere::bench
