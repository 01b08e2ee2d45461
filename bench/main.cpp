// tollmere-bench: how exactly Tollmere holds the space bar and counts down,
// idle and with every core busy, beside the floor (a bare C loop sending the
// same keys at absolute deadlines); what it costs to start and to keep open,
// beside a bare Qt window; and how soon a hold ends on request from another
// process. On X11 every key time is the X server's own timestamp; on sway
// and GNOME a probe window's clock at receipt.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <sstream>
#include <string_view>
#include <utility>

#include "bench.h"
#include "harness/monotonic.h"

namespace tollmere::bench {

namespace {

constexpr const char* kUsage =
    "Usage: tollmere-bench [--tollmere PATH] [--doc PATH] [--holds N] [--starts N]\n"
    "         [--intervals L] [--peers] [--only PART]...\n"
    "         [--wayland-holds N] [--stops N] [--gnome-holds N]\n"
    "Measures Tollmere's holds and countdowns against the floor on Xvfb (idle and\n"
    "loaded), on headless sway and on headless GNOME; its start-up, memory and idle\n"
    "wake-ups against a bare Qt window; and `tollmere --stop`. Prints Markdown.\n"
    "  --doc PATH       also write the report to that file\n"
    "  --holds N        holds per program, interval and condition on X11 (20)\n"
    "  --starts N       timed start-ups of each, alternating (31, after one untimed)\n"
    "  --intervals L    comma-separated intervals in ms (20,1000)\n"
    "  --peers          measure xdotool (X11) and wtype (sway) holds as well\n"
    "  --only PART      idle, loaded, footprint, wayland, gnome or stop (repeatable)\n"
    "  --wayland-holds N, --stops N, --gnome-holds N   counts for those parts (15)\n";

}  // namespace

std::string Format(const char* fmt, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

void Progress(const std::string& text) {
  std::fprintf(stderr, "[bench %6.1f s] %s\n", e2e::MonotonicMs() / 1000.0, text.c_str());
}

void Require(bool ok, const std::string& what, const e2e::AppProcess* app) {
  if (!ok) throw std::runtime_error(what + (app ? "; the program said:\n" + app->Stderr() : ""));
}

Options ParseArgs(int argc, char** argv) {
  Options o;
  const std::pair<std::string_view, std::size_t*> counts[] = {{"--holds", &o.holds},
                                                              {"--starts", &o.starts},
                                                              {"--stops", &o.stops},
                                                              {"--wayland-holds", &o.wayland_holds},
                                                              {"--gnome-holds", &o.gnome_holds}};
  bool only_seen = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(std::string(arg) + " needs a value");
      return argv[++i];
    };
    const auto count = std::find_if(std::begin(counts), std::end(counts),
                                    [&](const auto& c) { return c.first == arg; });
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (count != std::end(counts)) {
      const std::string v = value();
      if (std::atol(v.c_str()) < 1) throw std::invalid_argument("bad count '" + v + "'");
      *count->second = static_cast<std::size_t>(std::atol(v.c_str()));
    } else if (arg == "--tollmere" || arg == "--doc") {
      (arg == "--doc" ? o.doc : o.binary) = value();
    } else if (arg == "--intervals") {
      o.intervals.clear();
      std::istringstream list(value());
      for (std::string item; std::getline(list, item, ',');) {
        const int v = std::atoi(item.c_str());
        if (v < 1 || v > 60000) throw std::invalid_argument("bad interval '" + item + "'");
        o.intervals.push_back(v);
      }
    } else if (arg == "--peers") {
      o.peers = true;
    } else if (arg == "--only") {
      const std::string part = value();
      if (!Options().parts.contains(part))
        throw std::invalid_argument("no part '" + part + "'\n" + kUsage);
      if (!std::exchange(only_seen, true)) o.parts.clear();
      o.parts.insert(part);
    } else {
      throw std::invalid_argument(std::string("unknown argument '") + argv[i] + "'\n" + kUsage);
    }
  }
  if (access(o.binary.c_str(), X_OK) != 0)
    throw std::runtime_error("no Tollmere program at " + o.binary);
  return o;
}

}  // namespace tollmere::bench

int main(int argc, char** argv) {
  using namespace tollmere::bench;
  try {
    const Options options = ParseArgs(argc, argv);
    const double t0 = tollmere::e2e::MonotonicMs();
    Results results;
    for (const bool loaded : {false, true}) {
      if (options.parts.contains(loaded ? "loaded" : "idle"))
        results.phases.push_back(RunPhase(options, loaded));
    }
    if (options.parts.contains("footprint")) results.footprint = RunFootprint(options);
    if (options.parts.contains("stop")) results.stop = RunStopLatency(options);
    if (options.parts.contains("wayland")) {
      if (auto phase = RunWaylandPhase(options, results.wayland_skipped))
        results.phases.push_back(std::move(*phase));
    }
    if (options.parts.contains("gnome"))
      results.gnome = RunGnomeHolds(options, results.gnome_skipped);
    results.minutes = (tollmere::e2e::MonotonicMs() - t0) / 60000.0;

    const std::string report = Report(results);
    std::fputs(report.c_str(), stdout);
    if (!options.doc.empty()) {
      if (!(std::ofstream(options.doc) << report))
        throw std::runtime_error("cannot write " + options.doc);
      Progress("wrote the report to " + options.doc);
    }
    return 0;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "tollmere-bench: %s\n", e.what());
    return 1;
  }
}
