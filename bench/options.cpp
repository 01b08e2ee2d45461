#include "options.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace tollmere::bench {
namespace {

constexpr const char* kUsage =
    "Usage: tollmere-bench [--tollmere PATH] [--doc PATH] [--readme PATH] [--holds N]\n"
    "                      [--starts N] [--intervals L] [--serial | --side-by-side]\n"
    "                      [--timelines] [--only PART] [--wayland-holds N] [--stops N]\n"
    "                      [--gnome-holds N]\n"
    "Measures Tollmere's hold and countdown timing (idle and with every core busy)\n"
    "against the floor (a bare C loop sending the same keys at absolute deadlines)\n"
    "and xdotool, its start-up time, peak memory and idle wake-ups, on private Xvfb\n"
    "servers; its timing against the floor and wtype on headless sway; and on a\n"
    "headless GNOME through the RemoteDesktop portal. Prints the results as Markdown.\n"
    "  --doc PATH   write them to that file, the whole of it\n"
    "  --readme PATH  put a summary (the goals and a link to the --doc file) in that\n"
    "               file's \"## Benchmark\" section\n"
    "  --holds N    holds per program, interval and condition (default 20)\n"
    "  --starts N   timed start-ups (default 15, after one untimed)\n"
    "  --intervals L  comma-separated intervals in ms (default 20,1000)\n"
    "  --serial     run the intervals only one after another\n"
    "  --side-by-side  run them only side by side, each on a server of its own\n"
    "  --timelines  print each run's trace and server events on one time line\n"
    "  --wayland-holds N  holds per program and interval on sway (default 15)\n"
    "  --stops N    holds ended by `tollmere --stop` (default 15)\n"
    "  --gnome-holds N  hold cycles per interval on GNOME, at 40 and 1000 ms\n"
    "               (default 15)\n"
    "  --only PART  run only this part: idle, loaded, footprint, wayland, gnome or\n"
    "               stop (repeatable)\n";

}  // namespace

Options ParseArgs(int argc, char** argv) {
  Options o;
  const auto count = [&](int& i, long least = 1) {
    if (i + 1 >= argc)
      throw std::invalid_argument(std::string(argv[i]) + " needs a number\n" + kUsage);
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
    } else if (arg == "--doc" && i + 1 < argc) {
      o.doc = argv[++i];
    } else if (arg == "--holds") {
      o.holds = count(i);
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
      o.side_by_side = false;
    } else if (arg == "--side-by-side") {
      o.serial = false;
    } else if (arg == "--timelines") {
      o.timelines = true;
    } else if (arg == "--wayland-holds") {
      o.wayland_holds = count(i);
    } else if (arg == "--stops") {
      o.stops = count(i);
    } else if (arg == "--gnome-holds") {
      o.gnome_holds = count(i);
    } else if (arg == "--only" && i + 1 < argc) {
      const std::string_view part = argv[++i];
      if (part != "idle" && part != "loaded" && part != "footprint" && part != "wayland" &&
          part != "gnome" && part != "stop") {
        throw std::invalid_argument(
            std::string("--only takes idle, loaded, footprint, wayland, gnome or stop, not ") +
            argv[i]);
      }
      if (!only_seen) o.idle = o.loaded = o.footprint = o.wayland = o.gnome = o.stop = false;
      only_seen = true;
      (part == "idle"        ? o.idle
       : part == "loaded"    ? o.loaded
       : part == "footprint" ? o.footprint
       : part == "wayland"   ? o.wayland
       : part == "gnome"     ? o.gnome
                             : o.stop) = true;
    } else {
      throw std::invalid_argument(std::string("unknown argument '") + argv[i] + "'\n" + kUsage);
    }
  }
  if (!o.serial && !o.side_by_side)
    throw std::invalid_argument("--serial and --side-by-side exclude each other");
  if (access(o.binary.c_str(), X_OK) != 0)
    throw std::runtime_error("no Tollmere program at " + o.binary);
  return o;
}

}  // namespace tollmere::bench
