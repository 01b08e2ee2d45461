#include "report.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <tuple>
#include <utility>

#include "format.h"
#include "measure.h"

namespace tollmere::bench {
namespace {

std::string Row(const std::vector<std::string>& cells) {
  std::string out = "|";
  for (const std::string& c : cells) out += " " + c + " |";
  return out + "\n";
}

std::string CpuModel() {
  std::ifstream in("/proc/cpuinfo");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("model name", 0) == 0) {
      const std::size_t colon = line.find(':');
      return colon == std::string::npos ? line : line.substr(colon + 2);
    }
  }
  return "unknown CPU";
}

std::string Condition(const Phase& p) { return p.loaded ? "loaded" : "idle"; }

std::string Megabytes(long kb) { return Format("%.1f MB", static_cast<double>(kb) / 1024.0); }

// ---------------------------------------------------------------- figures

std::string How(const Phase& p) { return p.side_by_side ? "side by side" : "one after another"; }

// The error of each hold end to end, on the program's side, and the rest:
// end to end − program side, for the holds that have both.
struct Split {
  std::vector<double> end_to_end, program, rest;
};

Split SplitOf(const std::vector<const ProgramHolds*>& runs) {
  Split out;
  for (const ProgramHolds* r : runs) {
    for (const HoldSplit& h : r->holds) {
      out.end_to_end.push_back(h.end_to_end);
      if (h.program) {
        out.program.push_back(*h.program);
        out.rest.push_back(h.end_to_end - *h.program);
      }
    }
  }
  return out;
}

// A phase's runs of one program, or of all programs when empty.
std::vector<const ProgramHolds*> RunsOf(const Phase& p, const std::string& program) {
  std::vector<const ProgramHolds*> out;
  for (const ProgramHolds& r : p.runs) {
    if (program.empty() || r.program == program) out.push_back(&r);
  }
  return out;
}

std::vector<std::string> Programs(const Phase& p) {
  std::vector<std::string> out;
  for (const ProgramHolds& r : p.runs) {
    if (std::find(out.begin(), out.end(), r.program) == out.end()) out.push_back(r.program);
  }
  return out;
}

// The phase the goals are read from: one server and condition, the intervals
// one after another where they ran so (each program alone on the machine),
// else side by side.
const Phase* GoalPhase(const Results& results, const std::string& server, bool loaded) {
  const Phase* found = nullptr;
  for (const Phase& p : results.phases) {
    if (p.server == server && p.loaded == loaded && (!found || !p.side_by_side)) {
      if (!found || found->side_by_side) found = &p;
    }
  }
  return found;
}

std::optional<double> P99(const std::vector<double>& v) {
  const auto s = Summarize(v);
  return s ? std::optional<double>(s->p99_abs) : std::nullopt;
}

// A goal, with what it is compared with: the floor for the holds, the bare
// Qt window for the footprint.
struct Goal {
  std::string what;
  std::string measured;
  std::string baseline;
  std::string ratio;
  bool met;
};

// Tollmere's processor time for one whole cycle (countdown and hold), the
// worst interval (2 s holds, where the server's key repeat reaches the
// button), measured the same way on the program as it was before the timing
// work of December 2026: no change may add to it.
constexpr double kCpuPerCycleMs = 18.3;

std::string Ratio(double value, double floor) {
  return floor > 0 ? Format("%.2f×", value / floor) : "–";
}

std::vector<Goal> Goals(const Results& results) {
  std::vector<Goal> goals;
  const auto label = [](const Phase& p) { return p.server + ", " + How(p); };
  // One measure's p99 for Tollmere and for the floor, and where it was taken.
  const auto against_floor = [&](const Phase& p, std::vector<double> Split::*measure) {
    return std::tuple{P99(SplitOf(RunsOf(p, "Tollmere")).*measure),
                      P99(SplitOf(RunsOf(p, "floor")).*measure),
                      Condition(p) + " (" + label(p) + ")"};
  };
  for (const bool loaded : {false, true}) {
    const Phase* p = GoalPhase(results, "X11", loaded);
    if (!p) continue;
    const auto [t, f, where] = against_floor(*p, &Split::program);
    const double limit = loaded ? 1 : 0.5;
    if (t && f) {
      goals.push_back({"hold, program side p99 ≤ " + Format("%.1f", limit) + " ms, " + where,
                       Format("%.2f ms", *t), Format("%.2f ms", *f), Ratio(*t, *f), *t <= limit});
    }
  }
  for (const char* server : {"X11", "sway"}) {
    for (const bool loaded : {false, true}) {
      const Phase* p = GoalPhase(results, server, loaded);
      if (!p) continue;
      const auto [t, f, where] = against_floor(*p, &Split::end_to_end);
      const double margin = loaded ? 2 : 1;
      if (t && f) {
        goals.push_back(
            {"hold, end to end p99 ≤ floor's + " + Format("%.0f", margin) + " ms, " + where,
             Format("%.1f ms", *t), Format("%.1f ms", *f), Ratio(*t, *f), *t <= *f + margin});
      }
    }
  }
  if (const Phase* p = GoalPhase(results, "X11", false)) {
    std::vector<double> taken;
    for (const ProgramHolds* r : RunsOf(*p, "Tollmere"))
      taken.insert(taken.end(), r->countdowns.begin(), r->countdowns.end());
    if (const auto t = P99(taken)) {
      goals.push_back({"countdown p99 per tick ≤ 1 ms, idle (" + label(*p) + ", X server's time)",
                       Format("%.2f ms", *t / kCountdownTicks), "", "", *t / kCountdownTicks <= 1});
    }
    std::vector<double> cpu;
    for (const ProgramHolds* r : RunsOf(*p, "Tollmere")) {
      if (r->cpu_ms_per_cycle) cpu.push_back(*r->cpu_ms_per_cycle);
    }
    if (const auto s = Summarize(cpu)) {
      goals.push_back({"processor time per cycle ≤ " + Format("%.1f", kCpuPerCycleMs) +
                           " ms, idle (" + label(*p) + ", worst interval)",
                       Format("%.1f ms", s->max), "", "", s->max <= kCpuPerCycleMs});
    }
  }
  if (results.footprint) {
    const Footprint& fp = *results.footprint;
    const auto paint = Summarize(fp.first_paint_ms);
    const auto bare = Summarize(fp.bare_first_paint_ms);
    if (paint && bare) {
      goals.push_back({"first paint ≤ 1.05 × the bare Qt window (medians)",
                       Format("%.1f ms", paint->median), Format("%.1f ms", bare->median),
                       Ratio(paint->median, bare->median), paint->median <= 1.05 * bare->median});
    }
    if (fp.peak_rss_kb) {
      goals.push_back({"peak RSS ≤ 30 MB", Megabytes(*fp.peak_rss_kb),
                       fp.bare_peak_rss_kb ? Megabytes(*fp.bare_peak_rss_kb) : "",
                       fp.bare_peak_rss_kb ? Ratio(static_cast<double>(*fp.peak_rss_kb),
                                                   static_cast<double>(*fp.bare_peak_rss_kb))
                                           : "",
                       *fp.peak_rss_kb <= 30 * 1024});
    }
    goals.push_back(
        {"no periodic wake-ups when idle (background / focused, caret at rest, per 10 s)",
         std::to_string(fp.wakeups_background) + " / " + std::to_string(fp.wakeups_focused_later),
         "", "", fp.wakeups_background <= 2 && fp.wakeups_focused_later <= 2});
  }
  if (results.stop) {
    if (const auto s = Summarize(results.stop->from_start_ms)) {
      goals.push_back({"stop → key-up median ≤ 20 ms (`tollmere --stop` started → key-up)",
                       Format("%.1f ms", s->median), "", "", s->median <= 20});
    }
  }
  return goals;
}

std::string RunCommand(double minutes, const std::string& what_it_writes) {
  return "```sh\nbash bench/run      # builds what it needs, runs everything (about " +
         Format("%.0f", std::ceil(minutes)) + " minutes), " + what_it_writes + "\n```\n\n";
}

std::string GoalsTable(const Results& results) {
  std::string md = Row({"goal", "Tollmere", "floor or bare window", "ratio", "met"});
  md += "|---|---:|---:|---:|:---:|\n";
  for (const Goal& g : Goals(results))
    md += Row({g.what, g.measured, g.baseline, g.ratio, g.met ? "yes" : "**no**"});
  return md;
}

// ---------------------------------------------------------------- sections

std::string Method(const Results& results) {
  utsname un{};
  uname(&un);
  return "Measured on " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores (" + CpuModel() +
         "), Linux " + un.release + ", " + results.when +
         ", each program on a private Xvfb or headless sway. " +
         "p99 is the nearest rank (with fewer than 100 samples, the largest). \"Loaded\": " +
         "the benchmark spins one thread per core at normal priority for the whole phase.\n\n";
}

std::string Cells(const std::vector<double>& v, bool with_n) {
  const auto s = Summarize(v);
  std::string out = with_n ? (s ? std::to_string(s->n) : "0") + " | " : "";
  if (!s) return out + "– | – | –";
  return out + Format("%+.2f", s->median) + " | " + Format("%+.2f", s->p99) + " | " +
         Format("%+.2f", s->max);
}

std::string HoldSection(const Results& results) {
  std::string md = "## Holds: key-up − key-down − 2 × interval (ms)\n\n";
  md +=
      "Each hold's error is split in two. **Program side**: from the deadline (the key-down's "
      "return plus the hold asked for) to the return of the call that sent the key-up, on the "
      "sending program's own CLOCK_MONOTONIC (Tollmere's `--trace`, the floor's own lines). "
      "**Rest**: end to end − program side, what the server or compositor took to take the key "
      "changes (on X11 it carries the ±1 ms rounding of the server's whole-millisecond stamps). "
      "**End to end**: on X11 the X server's own time stamps, read by an XInput 2 raw-event "
      "listener; on sway the receiving probe window's CLOCK_MONOTONIC at receipt. The floor is "
      "a bare C loop (`bench/floor/`) that sleeps with `clock_nanosleep` to an absolute "
      "deadline and then makes the same call as Tollmere's back end (XTest: flushed on the "
      "press, synced on the release; Wayland virtual keyboard: a round trip after each), "
      "pausing " +
      std::to_string(kFloorGapMs) +
      " ms between holds. xdotool and wtype are run "
      "as a user would (`xdotool keydown space sleep S keyup space`, `wtype -P space -s MS -p "
      "space`), a process per hold; they print no times, so they have no split. \"One after "
      "another\": each program's intervals run in turn, alone on the machine; \"side by side\": "
      "they run at once, each on a server of its own, so three servers and three programs "
      "share the two cores.\n\n";
  md += Row({"server", "condition", "intervals", "program", "hold", "n", "median", "p99", "max",
             "program side: median", "p99", "max", "rest: median", "p99", "max"});
  md += "|---|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
  for (const Phase& p : results.phases) {
    for (const std::string& program : Programs(p)) {
      const auto runs = RunsOf(p, program);
      const auto row = [&](const std::string& who, const std::string& hold,
                           const std::vector<const ProgramHolds*>& these) {
        const Split s = SplitOf(these);
        md += Row({p.server, Condition(p), How(p), who, hold, Cells(s.end_to_end, true),
                   Cells(s.program, false), Cells(s.rest, false)});
      };
      for (const ProgramHolds* r : runs)
        row(program, std::to_string(2 * r->interval_ms) + " ms", {r});
      if (runs.size() > 1) row("**" + program + "**", "all", runs);
    }
  }
  md += "\n";
  for (const Phase& p : results.phases) {
    if (!p.wake_late_ms) continue;
    md += "- scheduler floor, " + Condition(p) + ", " + How(p) +
          ": a plain 20 ms clock_nanosleep of the benchmark wakes " +
          Format("%.2f", p.wake_late_ms->median) + " ms late at the median, " +
          Format("%.2f", p.wake_late_ms->p99) +
          " ms at p99 (n = " + std::to_string(p.wake_late_ms->n) + ")\n";
  }
  md +=
      "- xdotool holds include its default 12 ms pause after each keystroke (`--delay`), which "
      "it takes between the key-down and the `sleep`.\n\n";
  return md;
}

std::string CountdownSection(const Results& results) {
  std::string md = "## Countdown: key-down − click − 4000 ms (ms)\n\n";
  md +=
      "Tollmere's cycles repeat by themselves: the release of the held space presses the "
      "focused button again (on X11 each run's first countdown starts with a real mouse click; "
      "on sway the probe presses the button each time). \"Taken\": the key-down as the X server "
      "or the probe took it, from the click as the server or the probe saw it. \"Traced\": "
      "Tollmere's own `click` and `key-down` trace lines.\n\n";
  md += Row({"server", "condition", "intervals", "taken: n", "median", "p99", "max",
             "p99 per tick (÷ 4)", "traced: median", "p99", "max", "p99 per tick"});
  md += "|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
  for (const Phase& p : results.phases) {
    std::vector<double> taken, traced;
    for (const ProgramHolds* r : RunsOf(p, "Tollmere")) {
      taken.insert(taken.end(), r->countdowns.begin(), r->countdowns.end());
      traced.insert(traced.end(), r->traced_countdowns.begin(), r->traced_countdowns.end());
    }
    const auto per_tick = [](const std::vector<double>& v) {
      const auto p99 = P99(v);
      return p99 ? Format("%.2f", *p99 / kCountdownTicks) : std::string("–");
    };
    md += Row({p.server, Condition(p), How(p), Cells(taken, true), per_tick(taken),
               Cells(traced, false), per_tick(traced)});
  }
  return md + "\n";
}

std::string FootprintSection(const Footprint& fp) {
  std::string md = "## Footprint\n\n";
  md += Row({"measure", "value"});
  md += "|---|---:|\n";
  const auto min_max = [](const Summary& s) {
    return Format("%.1f ms", s.median) + " (" + Format("%.1f", s.min) + "–" +
           Format("%.1f", s.max) + ")";
  };
  if (const auto paint = Summarize(fp.first_paint_ms)) {
    md += Row({"fork to first paint, median of " + std::to_string(paint->n) + " starts (min–max)",
               min_max(*paint)});
  }
  if (const auto bare = Summarize(fp.bare_first_paint_ms)) {
    md += Row({"the same for a bare Qt window with the same two controls, started alternately",
               min_max(*bare)});
  }
  if (fp.peak_rss_kb) {
    md += Row(
        {"peak RSS over start-up and one cycle (`/usr/bin/time -v`)", Megabytes(*fp.peak_rss_kb)});
  }
  if (fp.bare_peak_rss_kb)
    md += Row({"peak RSS of the bare Qt window", Megabytes(*fp.bare_peak_rss_kb)});
  md += Row(
      {"wake-ups in 10 s idle, window in the background", std::to_string(fp.wakeups_background)});
  md += Row({"wake-ups in the first 10 s after a click in the interval box (caret blinking)",
             std::to_string(fp.wakeups_focused)});
  md += Row({"wake-ups in the 10 s after those, window still focused (caret at rest)",
             std::to_string(fp.wakeups_focused_later)});
  md +=
      "\nWake-ups are the voluntary and involuntary context switches of all the program's threads "
      "(`/proc/PID/task/*/status`). The caret blinks for 10 s after the last input in the box, "
      "as on desktops that stop it.\n\n";
  return md;
}

std::string StopSection(const StopLatency& stop) {
  std::string md = "## Stop from another process (ms)\n\n";
  md += "A hold of " + std::to_string(2 * kStopIntervalMs) +
        " ms, started with `tollmere --start`; " + std::to_string(kStopAfterMs) +
        " ms into it `tollmere --stop` is run, which hands the request to the running Tollmere "
        "over a private session bus. From the moment the benchmark starts that process, and "
        "from the moment it sends its D-Bus call (its --trace line), to the key-up on the X "
        "server's clock.\n\n";
  md += Row({"from", "n", "min", "median", "p99", "max"});
  md += "|---|---:|---:|---:|---:|---:|\n";
  const auto row = [&](const std::string& what, const std::vector<double>& v) {
    std::vector<std::string> r = {what};
    if (const auto s = Summarize(v)) {
      r.push_back(std::to_string(s->n));
      for (const double x : {s->min, s->median, s->p99, s->max}) r.push_back(Format("%.1f", x));
    } else {
      r.insert(r.end(), {"0", "", "", "", ""});
    }
    md += Row(r);
  };
  row("`tollmere --stop` started", stop.from_start_ms);
  row("its D-Bus call sent", stop.from_call_ms);
  return md + "\n";
}

// One row of a "measure | hold | n | min | median | p99 | max" table (ms).
std::string MeasureRow(const std::string& what, const std::string& hold,
                       const std::vector<double>& values) {
  std::vector<std::string> r = {what, hold};
  if (const auto s = Summarize(values)) {
    r.push_back(std::to_string(s->n));
    for (const double x : {s->min, s->median, s->p99, s->max}) r.push_back(Format("%+.1f", x));
  } else {
    r.insert(r.end(), {"0", "", "", "", ""});
  }
  return Row(r);
}

std::string GnomeSection(const Results& results) {
  std::string md = "## GNOME: headless mutter, the RemoteDesktop portal (ms)\n\n";
  if (!results.gnome_skipped.empty()) return md + "Not measured: " + results.gnome_skipped + "\n\n";
  md +=
      "One headless mutter with its own session bus and xdg-desktop-portal-gnome; Tollmere runs "
      "with `--backend=portal`, its \"Remote desktop\" dialog answered once, and a probe window "
      "has the focus. Each cycle is started by `tollmere --interval=I --start` from a second "
      "process, and the probe's window receives the hold. \"At the probe\" times are the "
      "probe's CLOCK_MONOTONIC at receipt; \"traced\" ones are Tollmere's own --trace times on "
      "the same clock, taken as its press or release call to the portal returns. Idle machine; "
      "intervals one after another.\n\n";
  md += Row({"measure", "hold", "n", "min", "median", "p99", "max"});
  md += "|---|---:|---:|---:|---:|---:|---:|\n";
  const auto row = [&](const std::string& what, const std::string& hold,
                       const std::vector<double>& v) { md += MeasureRow(what, hold, v); };
  const auto append = [](std::vector<double>& to, const std::vector<double>& from) {
    to.insert(to.end(), from.begin(), from.end());
  };
  std::vector<double> holds, traced, presses, releases;
  for (const GnomeRun& run : results.gnome) {
    append(holds, run.hold_errors);
    append(traced, run.traced_hold_errors);
    append(presses, run.press_delays);
    append(releases, run.release_delays);
    row("hold error at the probe", std::to_string(2 * run.interval_ms) + " ms", run.hold_errors);
  }
  row("**hold error at the probe**", "all", holds);
  for (const GnomeRun& run : results.gnome) {
    row("hold error traced", std::to_string(2 * run.interval_ms) + " ms", run.traced_hold_errors);
  }
  row("**hold error traced**", "all", traced);
  row("key-down: probe − traced", "all", presses);
  row("key-up: probe − traced", "all", releases);
  return md + "\n";
}

std::string Notes(const Results& results) {
  std::string notes;
  for (const Phase& p : results.phases) {
    notes += "- " + p.server + ", " + Condition(p) + ", " + How(p) + ": all cores " +
             Format("%.0f", p.busy.percent) + " % busy, " + Format("%.0f", p.busy.foreign_percent) +
             " % by other processes than the benchmark's" +
             (p.busy.foreign_percent >= 10 ? " (enough to disturb these figures)" : "");
    if (p.side_by_side && p.closest_ms) {
      notes += "; " + std::to_string(p.near_events) + " of Tollmere's " +
               std::to_string(p.key_events) + " key events came within " + std::to_string(kNearMs) +
               " ms of another of its runs' (closest " + std::to_string(*p.closest_ms) + " ms)";
    }
    std::size_t disorder = 0;
    for (const ProgramHolds& r : p.runs) disorder += r.out_of_order;
    if (disorder > 0)
      notes += "; " + std::to_string(disorder) + " key changes out of order, left out";
    notes += ".\n";
  }
  return "Notes:\n\n" + notes;
}

}  // namespace

std::string Now() {
  const std::time_t now = std::time(nullptr);
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
  return buf;
}

std::string FullReport(const Options& options, const Results& results) {
  std::string md = "# Benchmark\n\n";
  md += RunCommand(results.minutes, "rewrites this file and the README's summary");
  md += Method(results);
  md += HoldSection(results);
  md += CountdownSection(results);
  if (results.footprint) md += FootprintSection(*results.footprint);
  if (options.wayland && !results.wayland_skipped.empty())
    md += "Sway was not measured: " + results.wayland_skipped + "\n\n";
  if (options.gnome) md += GnomeSection(results);
  if (results.stop) md += StopSection(*results.stop);
  md += "## Goals\n\n" + GoalsTable(results) + "\n";
  md += Notes(results);
  return md;
}

std::string ReadmeSummary(const Results& results, const std::string& doc_link) {
  std::string md = "## Benchmark\n\n";
  md += RunCommand(results.minutes, "updates this section and " + doc_link);
  md += GoalsTable(results) + "\n";
  md += "Measured on " + results.when + "; every figure, the machine and the method: [" + doc_link +
        "](" + doc_link + ").\n";
  return md;
}

}  // namespace tollmere::bench
