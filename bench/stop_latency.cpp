#include "stop_latency.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>

#include "format.h"
#include "harness/app_process.h"
#include "harness/monotonic.h"
#include "harness/probe.h"
#include "harness/raw_listener.h"
#include "harness/session_bus.h"
#include "harness/xvfb_server.h"
#include "holds.h"
#include "machine.h"

namespace tollmere::bench {
namespace {

using namespace std::chrono_literals;
using namespace tollmere::e2e;

// From a CLOCK_MONOTONIC reading to a server timestamp: the server counts the
// same clock in whole milliseconds (wrapping at 32 bits).
double MsUntil(double monotonic_ms, std::uint32_t server_ms) {
  const double whole = std::floor(monotonic_ms);
  return static_cast<double>(
             ServerSpan(static_cast<std::uint32_t>(static_cast<std::uint64_t>(whole)), server_ms)) -
         (monotonic_ms - whole);
}

// The space bar's presses and releases among `events`, from the `from`th on.
std::vector<RawInput> SpaceChanges(const std::vector<RawInput>& events, unsigned keycode,
                                   std::size_t from) {
  std::vector<RawInput> out;
  for (const RawInput& in : events) {
    if ((in.kind == RawInput::kKeyPress || in.kind == RawInput::kKeyRelease) &&
        in.detail == keycode)
      out.push_back(in);
  }
  out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(std::min(from, out.size())));
  return out;
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
  if (!app.WaitForTrace("first-paint", std::nullopt, 15s))
    throw std::runtime_error("no Tollmere window:\n" + app.Stderr());
  const auto run = [&](const std::vector<std::string>& args) {
    auto helper = std::make_unique<AppProcess>(options.binary, env, args);
    const ExitStatus status = helper->WaitForExit(10s);
    if (!status.Exited() || status.Code() != 0) {
      throw std::runtime_error("tollmere " + args.back() + " " + status.Describe() + ":\n" +
                               helper->Stderr());
    }
    return helper;
  };
  run({"--interval=" + std::to_string(kStopIntervalMs)});

  for (std::size_t i = 0; i < options.stops; ++i) {
    const std::size_t before = listener.SpaceTransitions().size();
    run({"--start"});
    // This cycle's key changes: exactly a press, then its release.
    const auto changes = [&](std::size_t n) {
      return [&, n](const std::vector<RawInput>& events) {
        return SpaceChanges(events, listener.space_keycode(), before).size() >= n;
      };
    };
    if (!listener.WaitUntil(changes(1), std::chrono::milliseconds(kCountdownMs + 3000)))
      throw std::runtime_error("the hold did not begin:\n" + app.Stderr());
    const auto keys = listener.SpaceTransitions();
    if (!keys[before].press) throw std::runtime_error("a release came before the press");
    const std::uint32_t down = keys[before].server_ms;
    while (MsUntil(MonotonicMs(), down) > -kStopAfterMs) std::this_thread::sleep_for(1ms);

    const double started = MonotonicMs();
    const auto helper = run({"--trace", "--stop"});
    if (!listener.WaitUntil(changes(2), 3s))
      throw std::runtime_error("no release after --stop:\n" + app.Stderr());
    const auto after = listener.SpaceTransitions();
    if (after[before + 1].press) throw std::runtime_error("a second press instead of the release");
    const std::uint32_t up = after[before + 1].server_ms;
    out.from_start_ms.push_back(MsUntil(started, up));
    if (const auto call = helper->WaitForTrace("remote-call", "Stop", 0s))
      out.from_call_ms.push_back(MsUntil(call->ms, up));
    if (!app.WaitForTrace("caption", "Start", 2s, static_cast<int>(i) + 1))
      throw std::runtime_error("no \"Start\" after --stop:\n" + app.Stderr());
  }
  return out;
}

}  // namespace tollmere::bench
