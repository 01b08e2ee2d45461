// tollmere-soak: runs Tollmere on a private Xvfb for many hold cycles in its
// self-repeating mode (the focus on its own window, so each held space
// presses Start and the release starts the next countdown), counts the
// space presses and releases the X server saw, samples the program's memory,
// and says whether anything leaked or got stuck.
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "harness/app_process.h"
#include "harness/driver.h"
#include "harness/raw_listener.h"
#include "harness/server_time.h"
#include "harness/x_connection.h"
#include "harness/xvfb_server.h"

namespace {

using namespace std::chrono_literals;
using namespace tollmere::e2e;
using Clock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "Usage: tollmere-soak [CYCLES [INTERVAL_MS]] [--tollmere PATH]\n"
    "Runs Tollmere on a private virtual X display for CYCLES (default 1000) hold\n"
    "cycles of INTERVAL_MS (default 20), each started by the previous one's\n"
    "keystroke; a cycle takes about 4 s + 2 x INTERVAL_MS. Prints the key counts,\n"
    "the program's memory (VmRSS) every 50 cycles, and a verdict; the exit status\n"
    "is 0 when it passes. SIGINT or SIGTERM stops it early with a report of what ran\n"
    "(Ctrl+C in a terminal also ends Tollmere and its X server at once).\n";

// Memory may settle during the first cycles; growth is judged after them.
constexpr int kSampleEvery = 50;
constexpr int kWarmUpCycles = 50;
constexpr long kAllowedGrowthKb = 1024;

volatile sig_atomic_t g_stop = 0;
void OnStop(int) { g_stop = 1; }

struct Options {
  int cycles = 1000;
  int interval_ms = 20;
  std::string binary = TOLLMERE_DEFAULT_BINARY;
};

int PositiveArg(const char* text, const char* what, long max) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || value < 1 || value > max) {
    throw std::invalid_argument(std::string("bad ") + what + " '" + text + "' (1 to " +
                                std::to_string(max) + ")\n" + kUsage);
  }
  return static_cast<int>(value);
}

Options ParseArgs(int argc, char** argv) {
  Options options;
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (arg == "--tollmere" && i + 1 < argc) {
      options.binary = argv[++i];
    } else if (positional == 0) {
      options.cycles = PositiveArg(argv[i], "cycle count", 1'000'000);
      ++positional;
    } else if (positional == 1) {
      options.interval_ms = PositiveArg(argv[i], "interval", 60'000);
      ++positional;
    } else {
      throw std::invalid_argument(std::string("unexpected argument '") + argv[i] + "'\n" + kUsage);
    }
  }
  return options;
}

// VmRSS of `pid` in kB; -1 if it cannot be read.
long RssKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// Space presses and releases as the X server's master keyboard saw them,
// whoever had the focus, and the hold lengths on the server's clock.
struct KeyCounts {
  long presses = 0, releases = 0;
  std::vector<double> holds_ms;
};

KeyCounts Count(const RawListener& listener) {
  KeyCounts out;
  std::uint32_t pressed_at = 0;
  for (const KeyTransition& t : listener.SpaceTransitions()) {
    if (t.press) {
      ++out.presses;
      pressed_at = t.server_ms;
    } else if (++out.releases == out.presses) {
      out.holds_ms.push_back(static_cast<double>(ServerSpan(pressed_at, t.server_ms)));
    }
  }
  return out;
}

// Whether the server has any key down now; nullopt if it is gone.
std::optional<bool> AnyKeyDown(const std::string& display_name) {
  try {
    XConnection x(display_name);
    char keys[32] = {};
    XQueryKeymap(x.get(), keys);
    if (x.lost()) return std::nullopt;
    return std::any_of(std::begin(keys), std::end(keys), [](char c) { return c != 0; });
  } catch (const std::runtime_error&) {
    return std::nullopt;
  }
}

struct Sample {
  int cycle;
  long rss_kb;
};

// Hold lengths on the program's own clock, from its trace: the server's
// figures alone cannot tell a late program from a starved server.
std::vector<double> TracedHolds(const AppProcess& app) {
  std::vector<double> out;
  double down = -1;
  for (const TraceEvent& e : app.Trace()) {
    if (e.event == "key-down" && e.arg == "32") down = e.ms;
    if (e.event == "key-up" && e.arg == "32" && down >= 0) {
      out.push_back(e.ms - down);
      down = -1;
    }
  }
  return out;
}

struct Spread {
  double min = 0, mean = 0, max = 0;
  int off = 0;  // how many are further than 50 ms from the expected length
};

// Over all holds but the first, which is the start-up keystroke.
Spread SpreadOf(const std::vector<double>& holds, double expected) {
  Spread out;
  if (holds.size() < 2) return out;
  out.min = out.max = holds[1];
  double sum = 0;
  for (std::size_t i = 1; i < holds.size(); ++i) {
    out.min = std::min(out.min, holds[i]);
    out.max = std::max(out.max, holds[i]);
    sum += holds[i];
    out.off += holds[i] < expected - 50 || holds[i] > expected + 50;
  }
  out.mean = sum / static_cast<double>(holds.size() - 1);
  return out;
}

long CountTrace(const AppProcess& app, const std::string& event) {
  long n = 0;
  for (const TraceEvent& e : app.Trace()) n += e.event == event && e.arg == "32";
  return n;
}

int Run(const Options& options) {
  const int interval = options.interval_ms;
  const auto cycle_time = 4s + std::chrono::milliseconds(2 * interval);
  XvfbServer xvfb;
  RawListener listener(xvfb.name());
  Driver user(xvfb.name());
  std::printf("tollmere-soak on virtual X display %s: %d cycles of %d ms, about %.0f min\n",
              xvfb.name().c_str(), options.cycles, interval,
              options.cycles * std::chrono::duration<double>(cycle_time).count() / 60);
  std::fflush(stdout);

  AppProcess app(options.binary, AppProcess::XEnvironment(xvfb.name()));
  const unsigned long window = user.WaitForWindow("Tollmere", 15s);
  if (window == 0) throw std::runtime_error("the Tollmere window did not appear:\n" + app.Stderr());
  // The start-up keystroke is not a cycle.
  for (const auto until = Clock::now() + 5s; Count(listener).releases < 1 && Clock::now() < until;)
    std::this_thread::sleep_for(100ms);
  if (const KeyCounts c = Count(listener); c.presses != 1 || c.releases != 1) {
    throw std::runtime_error("no start-up keystroke seen");
  }

  user.Focus(window);
  user.Type(std::to_string(interval));
  if (!app.WaitForTrace("interval", std::to_string(interval), 5s)) {
    throw std::runtime_error("Tollmere did not take the interval:\n" + app.Stderr());
  }
  // The click also gives Start the focus, where the program's own space lands.
  user.Click(window, StartButtonCentre());

  std::vector<Sample> samples{{0, RssKb(app.pid())}};
  const auto started = Clock::now();
  auto last_progress = Clock::now();
  KeyCounts counts = Count(listener);
  long last_releases = counts.releases;
  std::string failure;
  auto cycles = [&] { return static_cast<int>(counts.releases - 1); };
  while (cycles() < options.cycles && !g_stop) {
    std::this_thread::sleep_for(200ms);
    counts = Count(listener);
    if (counts.releases != last_releases) {
      last_releases = counts.releases;
      last_progress = Clock::now();
      if (cycles() % kSampleEvery == 0 || cycles() == options.cycles) {
        samples.push_back({cycles(), RssKb(app.pid())});
        std::printf("  cycle %5d  %6.1f min  VmRSS %ld kB\n", cycles(),
                    std::chrono::duration<double>(Clock::now() - started).count() / 60,
                    samples.back().rss_kb);
        std::fflush(stdout);
      }
    }
    if (!app.Running()) {
      failure = "Tollmere ended during the soak";
      break;
    }
    if (Clock::now() - last_progress > cycle_time + 10s) {
      failure = "no cycle completed for " +
                std::to_string(
                    std::chrono::duration_cast<std::chrono::seconds>(cycle_time + 10s).count()) +
                " s (stuck after cycle " + std::to_string(cycles()) + ")";
      break;
    }
  }
  const double minutes = std::chrono::duration<double>(Clock::now() - started).count() / 60;
  if (samples.back().cycle != cycles() && app.Running())
    samples.push_back({cycles(), RssKb(app.pid())});

  // Closed between cycles: the next countdown has only just begun.
  ExitStatus status;
  if (app.Running()) user.RequestClose(window);
  status = app.WaitForExit(10s);
  std::this_thread::sleep_for(300ms);
  counts = Count(listener);
  const std::optional<bool> key_down = AnyKeyDown(xvfb.name());
  const long trace_downs = CountTrace(app, "key-down") - 1;
  const long trace_ups = CountTrace(app, "key-up") - 1;

  const long presses = counts.presses - 1, releases = counts.releases - 1;
  long rss_max = 0;
  for (const Sample& s : samples) rss_max = std::max(rss_max, s.rss_kb);
  // The growth after warm-up: from the sample at kWarmUpCycles if the run
  // went well past it, else from the first.
  Sample base = samples.front();
  for (const Sample& s : samples) {
    if (s.cycle == kWarmUpCycles && cycles() >= 2 * kWarmUpCycles) base = s;
  }
  const long growth = samples.back().rss_kb - base.rss_kb;

  const Spread server_hold = SpreadOf(counts.holds_ms, 2.0 * interval);
  const Spread program_hold = SpreadOf(TracedHolds(app), 2.0 * interval);
  std::printf("\ncycles    %d of %d in %.1f min%s\n", cycles(), options.cycles, minutes,
              g_stop ? " (interrupted)" : "");
  std::printf("presses   %ld (program traced %ld)\n", presses, trace_downs);
  std::printf("releases  %ld (program traced %ld)\n", releases, trace_ups);
  if (cycles() > 0) {
    // Informational: a busy machine stretches holds, and a starved X server
    // stamps a late press, which shortens the hold it shows.
    const std::pair<const char*, Spread> spreads[] = {{"server ", server_hold},
                                                      {"program", program_hold}};
    for (const auto& [clock, h] : spreads) {
      std::printf(
          "hold      %s clock: min %.0f / mean %.1f / max %.0f ms (expected %d); "
          "%d outside +-50 ms\n",
          clock, h.min, h.mean, h.max, 2 * interval, h.off);
    }
  }
  std::printf("VmRSS     first %ld kB (cycle %d), last %ld kB (cycle %d), max %ld kB\n",
              samples.front().rss_kb, samples.front().cycle, samples.back().rss_kb,
              samples.back().cycle, rss_max);
  std::printf("growth    %+ld kB since cycle %d (allowed < %ld kB)\n", growth, base.cycle,
              kAllowedGrowthKb);
  std::printf("exit      %s; keys down after: %s\n", status.Describe().c_str(),
              !key_down   ? "unknown (no X server)"
              : *key_down ? "yes"
                          : "none");

  std::vector<std::string> problems;
  if (!failure.empty()) problems.push_back(failure);
  if (presses != releases) problems.push_back("presses != releases");
  if (trace_downs != presses || trace_ups != releases) {
    problems.push_back("the program's trace disagrees with the server's count");
  }
  if (growth >= kAllowedGrowthKb)
    problems.push_back("memory grew by " + std::to_string(growth) + " kB");
  if (!status.Exited() || status.Code() != 0) problems.push_back("Tollmere did not exit cleanly");
  if (key_down.value_or(false)) problems.push_back("a key was left down");
  if (cycles() < options.cycles && !g_stop) problems.push_back("not all cycles ran");

  if (g_stop) {
    std::printf("verdict   INTERRUPTED after %d cycles%s\n", cycles(),
                presses == releases ? "; presses == releases so far" : "; presses != releases");
    return 130;
  }
  if (problems.empty()) {
    std::printf("verdict   PASS\n");
    return 0;
  }
  std::printf("verdict   FAIL:");
  for (const std::string& p : problems) std::printf(" %s;", p.c_str());
  std::printf("\n");
  if (!failure.empty()) std::printf("\nTollmere's stderr (last lines):\n");
  if (!failure.empty()) {
    const auto lines = app.StderrLines();
    for (std::size_t i = lines.size() > 20 ? lines.size() - 20 : 0; i < lines.size(); ++i) {
      std::printf("  %s\n", lines[i].c_str());
    }
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  struct sigaction stop = {};
  stop.sa_handler = OnStop;
  sigemptyset(&stop.sa_mask);
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGTERM, &stop, nullptr);
  try {
    return Run(ParseArgs(argc, argv));
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "tollmere-soak: %s\n", e.what());
    return 2;
  }
}
