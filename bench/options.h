#pragma once
// What to measure and where to write it, from the command line.

#include <cstddef>
#include <string>
#include <vector>

namespace tollmere::bench {

struct Options {
  std::string binary = TOLLMERE_DEFAULT_BINARY;
  std::string readme;  // gets the summary in its "## Benchmark" section
  std::string doc;     // gets the full results, the whole file
  std::size_t holds = 31;
  std::size_t anchors = 30;
  std::size_t starts = 15;
  std::vector<int> intervals = {20, 500, 1000};
  bool serial = false;
  bool timelines = false;
  std::size_t wayland_holds = 30;
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
