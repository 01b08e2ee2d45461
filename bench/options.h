#pragma once
// What to measure and where to write it, from the command line.

#include <cstddef>
#include <string>
#include <vector>

namespace tollmere::bench {

struct Options {
  std::string binary = TOLLMERE_DEFAULT_BINARY;
  std::string readme;                          // gets the summary in its "## Benchmark" section
  std::string doc;                             // gets the full results, the whole file
  std::string floor_dir = TOLLMERE_FLOOR_DIR;  // where the floor programs are
  std::size_t holds = 20;
  std::size_t starts = 15;
  // The shortest and a long hold: 40 ms and 2 s.
  std::vector<int> intervals = {20, 1000};
  // How the intervals run: one after another, side by side, or both.
  bool serial = true, side_by_side = true;
  bool timelines = false;
  std::size_t wayland_holds = 15;
  std::size_t stops = 15;
  std::size_t gnome_holds = 15;
  // Short and long; one after another on one desktop, so few.
  std::vector<int> gnome_intervals = {40, 1000};
  // Which parts to run.
  bool idle = true, loaded = true, footprint = true, wayland = true, stop = true, gnome = true;
};

// Throws on a bad argument or when there is no program at the path given;
// --help prints the usage and exits.
Options ParseArgs(int argc, char** argv);

}  // namespace tollmere::bench
