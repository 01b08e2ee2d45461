// The results as Markdown tables, with a line or two of method each.
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <fstream>

#include "bench.h"

namespace tollmere::bench {
namespace {

using Cells = std::vector<std::string>;

std::string Table(const Cells& header, const std::vector<Cells>& rows) {
  const auto line = [](const Cells& cells) {
    std::string out = "|";
    for (const std::string& c : cells) out += " " + c + " |";
    return out + "\n";
  };
  std::string out = line(header) + line(Cells(header.size(), "---"));
  for (const Cells& row : rows) out += line(row);
  return out + "\n";
}

Cells operator+(Cells a, const Cells& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// n (with `with_n`), median, p99 and max.
Cells Stats(const std::vector<double>& v, bool with_n = true, const char* fmt = "%+.2f") {
  const auto s = Summarize(v);
  Cells out;
  if (with_n) out.push_back(std::to_string(v.size()));
  for (const double x : {s ? s->median : 0, s ? s->p99 : 0, s ? s->max : 0})
    out.push_back(s ? Format(fmt, x) : "–");
  return out;
}

std::optional<double> P99(const std::vector<double>& v) {
  const auto s = Summarize(v);
  return s ? std::optional(s->p99_abs) : std::nullopt;
}

std::string Where(const Phase& p) { return p.server + ", " + (p.loaded ? "loaded" : "idle"); }

// Each hold's error end to end, on the program's side, and the rest.
struct Split {
  std::vector<double> end_to_end, program, rest, countdowns, traced_countdowns;
};
Split SplitOf(const Phase& p, const std::string& program, int interval_ms = 0) {
  Split out;
  for (const ProgramHolds& r : p.runs) {
    if (r.program != program || (interval_ms != 0 && r.interval_ms != interval_ms)) continue;
    for (const HoldSplit& h : r.holds) {
      out.end_to_end.push_back(h.end_to_end);
      if (h.program)
        out.program.push_back(*h.program), out.rest.push_back(h.end_to_end - *h.program);
    }
    out.countdowns.insert(out.countdowns.end(), r.countdowns.begin(), r.countdowns.end());
    out.traced_countdowns.insert(out.traced_countdowns.end(), r.traced_countdowns.begin(),
                                 r.traced_countdowns.end());
  }
  return out;
}

std::vector<Cells> Goals(const Results& results) {
  std::vector<Cells> goals;
  const auto add = [&](const std::string& what, double value, std::optional<double> base, bool met,
                       const char* fmt = "%.2f ms") {
    goals.push_back({what, Format(fmt, value), base ? Format(fmt, *base) : "",
                     base && *base > 0 ? Format("%.2f×", value / *base) : "",
                     met ? "yes" : "**no**"});
  };
  for (const Phase& p : results.phases) {
    const Split t = SplitOf(p, "Tollmere"), f = SplitOf(p, "floor");
    const double limit = p.loaded ? 1 : 0.5, margin = p.loaded ? 2 : 1;
    if (p.server == "X11" && P99(t.program) && P99(f.program)) {
      add("hold, program side p99 ≤ " + Format("%.1f", limit) + " ms, " + Where(p), *P99(t.program),
          P99(f.program), *P99(t.program) <= limit);
    }
    if (P99(t.end_to_end) && P99(f.end_to_end)) {
      add("hold, end to end p99 ≤ floor's + " + Format("%.0f", margin) + " ms, " + Where(p),
          *P99(t.end_to_end), P99(f.end_to_end), *P99(t.end_to_end) <= *P99(f.end_to_end) + margin);
    }
    // Another key repeated, beside the floor's holds and pauses as long:
    // [0] Tollmere's, [1] the floor's.
    std::vector<double> holds[2], gaps[2];
    for (const ProgramHolds& r : p.runs) {
      const int i = r.program == kRepeatsProgram ? 0 : r.program == "floor" ? 1 : -1;
      if (i < 0 || r.interval_ms != kRepeatCases[1].interval_ms) continue;
      for (const HoldSplit& h : r.holds) holds[i].push_back(h.end_to_end);
      gaps[i].insert(gaps[i].end(), r.gaps.begin(), r.gaps.end());
    }
    for (const std::vector<double>* v : {holds, gaps}) {
      if (!P99(v[0]) || !P99(v[1])) continue;
      add(std::string(kRepeatsProgram) + (v == holds ? ": hold" : ": gap") + " p99 ≤ floor's + " +
              Format("%.0f", margin) + " ms, " + Where(p),
          *P99(v[0]), P99(v[1]), *P99(v[0]) <= *P99(v[1]) + margin);
    }
    if (p.server == "X11" && !p.loaded && P99(t.countdowns)) {
      const double tick = *P99(t.countdowns) / kCountdownTicks;
      add("countdown p99 per tick ≤ 1 ms, " + Where(p) + ", X server's time", tick, std::nullopt,
          tick <= 1);
    }
  }
  if (const auto& fp = results.footprint) {
    const auto paint = Summarize(fp->first_paint_ms), bare = Summarize(fp->bare_first_paint_ms);
    if (paint && bare) {
      add("first paint ≤ 1.05 × the bare Qt window (medians of " + std::to_string(paint->n) +
              " starts each, alternating)",
          paint->median, bare->median, paint->median <= 1.05 * bare->median, "%.1f ms");
    }
    if (fp->peak_rss_kb) {
      add("peak RSS ≤ 30 MB", double(*fp->peak_rss_kb) / 1024,
          fp->bare_peak_rss_kb ? std::optional(double(*fp->bare_peak_rss_kb) / 1024) : std::nullopt,
          *fp->peak_rss_kb <= 30 * 1024, "%.1f MB");
    }
    goals.push_back(
        {"no periodic wake-ups when idle (background / focused, caret at rest, per 10 s)",
         std::to_string(fp->wakeups_background) + " / " + std::to_string(fp->wakeups_focused_later),
         "", "", fp->wakeups_background <= 2 && fp->wakeups_focused_later <= 2 ? "yes" : "**no**"});
  }
  if (results.stop) {
    if (const auto s = Summarize(results.stop->from_start_ms)) {
      add("stop → key-up median ≤ 20 ms (`tollmere --stop` started → key-up)", s->median,
          std::nullopt, s->median <= 20, "%.1f ms");
    }
  }
  return goals;
}

// The cores, the processor's name, the kernel and when.
std::string Machine() {
  utsname un{};
  uname(&un);
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string cpu;
  while (std::getline(cpuinfo, cpu) && cpu.rfind("model name", 0) != 0) {
  }
  char when[64];
  const std::time_t now = std::time(nullptr);
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
  return std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores (" +
         cpu.substr(std::min(cpu.size(), cpu.find(':') + 2)) + "), Linux " + un.release + ", " +
         when;
}

}  // namespace

std::string Report(const Results& results) {
  std::string md = "# Benchmark\n\n```sh\nbash bench/run   # builds it, runs it (about " +
                   Format("%.0f", results.minutes + 0.5) +
                   " minutes) and rewrites this file; --help for the parts\n```\n\n" +
                   "Measured on " + Machine() +
                   ". p99 is the nearest rank (with fewer than 100 samples, the largest); " +
                   "\"loaded\": a spinning thread per core for the whole phase.\n\n";

  md +=
      "## Holds: key-up − key-down − 2 × interval (ms)\n\n"
      "End to end: on X11 the X server's time stamps (an XInput 2 raw listener), on sway a "
      "probe window's clock at receipt. Program side: from the deadline to the return of the "
      "call that sent the key-up, on the sender's own clock (Tollmere's --trace, the floor's "
      "lines); rest: the difference. The floor (`bench/floor/`) is a bare C loop making the "
      "same calls at absolute deadlines, " +
      std::to_string(kFloorGapMs) +
      " ms apart; each interval on a server of its own. xdotool and wtype (--peers) run a process "
      "per hold, as a user would; xdotool's include its default 12 ms pause after a keystroke.\n\n";
  std::vector<Cells> rows;
  for (const Phase& p : results.phases) {
    for (const ProgramHolds& r : p.runs) {
      const Split s = SplitOf(p, r.program, r.interval_ms);
      rows.push_back(Cells{Where(p), r.program, std::to_string(2 * r.interval_ms)} +
                     Stats(s.end_to_end) + Stats(s.program, false) + Stats(s.rest, false));
    }
  }
  md += Table({"where", "program", "hold", "n", "median", "p99", "max", "program side: median",
               "p99", "max", "rest: median", "p99", "max"},
              rows);

  md += std::string("## Gaps: key-down − the key-up before − the gap (ms)\n\n") +
        "Between the holds above that follow each other: " + kRepeatsProgram +
        " is `tollmere --key=A --repeat=N --gap=G --interval=I --countdown=0 --start` with the "
        "focus on a probe window, the floor its pause after each hold; the X server's time "
        "stamps.\n\n";
  rows.clear();
  for (const Phase& p : results.phases) {
    for (const ProgramHolds& r : p.runs) {
      if (!r.gaps.empty())
        rows.push_back(Cells{Where(p), r.program, std::to_string(2 * r.interval_ms),
                             std::to_string(r.gap_ms)} +
                       Stats(r.gaps));
    }
  }
  md += Table({"where", "program", "hold", "gap", "n", "median", "p99", "max"}, rows);

  md +=
      "## Countdown: key-down − click − 4000 ms (ms)\n\n"
      "Taken: the key-down as the X server or the probe took it, from the click as it saw it; "
      "traced: Tollmere's own click and key-down. A tick is a quarter of it.\n\n";
  rows.clear();
  for (const Phase& p : results.phases) {
    const Split s = SplitOf(p, "Tollmere");
    const auto tick = [](const std::vector<double>& v) {
      return P99(v) ? Format("%.2f", *P99(v) / kCountdownTicks) : "–";
    };
    rows.push_back(Cells{Where(p)} + Stats(s.countdowns) + Cells{tick(s.countdowns)} +
                   Stats(s.traced_countdowns, false) + Cells{tick(s.traced_countdowns)});
  }
  md += Table({"where", "taken: n", "median", "p99", "max", "p99 per tick", "traced: median", "p99",
               "max", "p99 per tick"},
              rows);

  if (const auto& fp = results.footprint) {
    md +=
        "## Start-up, memory and wake-ups\n\nFirst paint: fork to the first paint, Tollmere "
        "and a bare Qt window with the same controls (`bench/bare_window.cpp`) started "
        "alternately in one run. Peak RSS: VmHWM after start-up and one cycle. "
        "Wake-ups: the context switches of all the program's threads in 10 s.\n\n";
    const auto mb = [](std::optional<long> kb) {
      return kb ? Format("%.1f MB", double(*kb) / 1024) : "–";
    };
    const auto paint = [](const std::vector<double>& v) {
      const auto s = Summarize(v);
      return s ? Format("%.1f", s->median) + " (" + Format("%.1f", s->min) + "–" +
                     Format("%.1f", s->max) + ")"
               : "–";
    };
    md += Table(
        {"measure", "Tollmere", "bare Qt window"},
        {Cells{"first paint, median (min–max), ms", paint(fp->first_paint_ms),
               paint(fp->bare_first_paint_ms)},
         Cells{"peak RSS", mb(fp->peak_rss_kb), mb(fp->bare_peak_rss_kb)},
         Cells{"wake-ups, in the background", std::to_string(fp->wakeups_background), ""},
         Cells{"wake-ups, focused, caret blinking", std::to_string(fp->wakeups_focused), ""},
         Cells{"wake-ups, focused, caret at rest", std::to_string(fp->wakeups_focused_later), ""}});
  }

  if (const auto& stop = results.stop) {
    md += "## Stop from another process (ms)\n\nA " + std::to_string(2 * kStopIntervalMs) +
          " ms hold started with `tollmere --start`, and " + std::to_string(kStopAfterMs) +
          " ms into it `tollmere --stop`, to the key-up on the X server's clock.\n\n";
    md += Table({"from", "n", "median", "p99", "max"},
                {Cells{"`tollmere --stop` started"} + Stats(stop->from_start_ms, true, "%.1f"),
                 Cells{"its D-Bus call sent"} + Stats(stop->from_call_ms, true, "%.1f")});
  }

  if (!results.wayland_skipped.empty())
    md += "Sway was not measured: " + results.wayland_skipped + "\n\n";
  if (!results.gnome_skipped.empty()) {
    md += "GNOME was not measured: " + results.gnome_skipped + "\n\n";
  } else if (!results.gnome.empty()) {
    md +=
        "## GNOME: headless mutter, the RemoteDesktop portal (ms)\n\nEach cycle started by "
        "`tollmere --interval=I --start`; at the probe: its clock at receipt; traced: "
        "Tollmere's --trace as each portal call returned.\n\n";
    rows.clear();
    for (const GnomeRun& run : results.gnome) {
      const std::string hold = std::to_string(2 * run.interval_ms);
      rows.push_back(Cells{"hold error at the probe", hold} + Stats(run.hold_errors));
      rows.push_back(Cells{"hold error traced", hold} + Stats(run.traced_hold_errors));
      rows.push_back(Cells{"key-down: probe − traced", hold} + Stats(run.press_delays));
      rows.push_back(Cells{"key-up: probe − traced", hold} + Stats(run.release_delays));
    }
    md += Table({"measure", "hold", "n", "median", "p99", "max"}, rows);
  }

  md += "## Goals\n\n" +
        Table({"goal", "Tollmere", "floor or bare window", "ratio", "met"}, Goals(results));

  md += "## Notes\n\n";
  for (const Phase& p : results.phases) {
    md += "- " + Where(p) + ": all cores " + Format("%.0f", p.busy.percent) + " % busy, " +
          Format("%.0f", p.busy.foreign_percent) + " % by other processes";
    std::size_t disorder = 0;
    for (const ProgramHolds& r : p.runs) disorder += r.out_of_order;
    if (disorder > 0) md += "; " + std::to_string(disorder) + " key changes out of order, left out";
    md += ".\n";
  }
  return md;
}

}  // namespace tollmere::bench
