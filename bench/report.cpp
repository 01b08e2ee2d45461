#include "report.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <ctime>
#include <fstream>
#include <map>
#include <utility>

#include "format.h"
#include "measure.h"

namespace tollmere::bench {
namespace {

std::string Ms(double v) {
  // Whole milliseconds show as such; medians of an even count may be halves.
  return std::fabs(v - std::round(v)) < 1e-9 ? Format("%+.0f", v) : Format("%+.1f", v);
}

std::string Row(const std::vector<std::string>& cells) {
  std::string out = "|";
  for (const std::string& c : cells) out += " " + c + " |";
  return out + "\n";
}

std::string SummaryCells(const std::optional<Summary>& s) {
  if (!s) return "0 | – | – | – | –";
  return std::to_string(s->n) + " | " + Ms(s->min) + " | " + Ms(s->median) + " | " + Ms(s->p99) +
         " | " + Ms(s->max);
}

std::vector<double> ToDouble(const std::vector<std::int64_t>& v, double offset = 0,
                             double scale = 1) {
  std::vector<double> out;
  for (std::int64_t x : v) out.push_back((static_cast<double>(x) - offset) / scale);
  return out;
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

std::vector<double> HoldErrors(const HoldRun& r) {
  return ToDouble(r.cycles.holds, 2.0 * r.interval_ms);
}

std::vector<double> PooledHoldErrors(const Phase& p) {
  std::vector<double> all;
  for (const HoldRun& r : p.runs) {
    const auto errors = HoldErrors(r);
    all.insert(all.end(), errors.begin(), errors.end());
  }
  return all;
}

// Countdown errors of a phase's runs, by what started the countdown.
struct CountdownErrors {
  std::vector<double> by_key;    // the release of the held space
  std::vector<double> by_mouse;  // each run's first, a real click
};

CountdownErrors Countdowns(const Phase& p) {
  CountdownErrors out;
  for (const HoldRun& r : p.runs) {
    const auto errors = ToDouble(r.cycles.lead_ins, kCountdownMs);
    out.by_key.insert(out.by_key.end(), errors.begin(), errors.end());
    if (r.cycles.first_lead_in)
      out.by_mouse.push_back(static_cast<double>(*r.cycles.first_lead_in - kCountdownMs));
  }
  return out;
}

struct Goal {
  std::string what;
  std::string measured;
  bool met;
};

std::vector<Goal> Goals(const Results& results) {
  std::vector<Goal> goals;
  for (const Phase& p : results.phases) {
    if (const auto pooled = Summarize(PooledHoldErrors(p))) {
      const double limit = p.loaded ? 3 : 1;
      goals.push_back({"hold error p99, " + Condition(p) + " ≤ " + Format("%.0f", limit) + " ms",
                       Format("%.0f ms", pooled->p99_abs), pooled->p99_abs <= limit});
    }
  }
  for (const Phase& p : results.phases) {
    if (p.loaded) continue;
    CountdownErrors c = Countdowns(p);
    c.by_key.insert(c.by_key.end(), c.by_mouse.begin(), c.by_mouse.end());
    if (const auto s = Summarize(c.by_key)) {
      goals.push_back({"countdown error per tick ≤ 1 ms (idle, p99)",
                       Format("%.2f ms", s->p99_abs / kCountdownTicks),
                       s->p99_abs / kCountdownTicks <= 1});
    }
  }
  if (results.footprint) {
    const Footprint& fp = *results.footprint;
    if (const auto paint = Summarize(fp.first_paint_ms)) {
      goals.push_back(
          {"first paint ≤ 50 ms (median)", Format("%.1f ms", paint->median), paint->median <= 50});
    }
    if (fp.peak_rss_kb) {
      goals.push_back(
          {"peak RSS ≤ 30 MB", Megabytes(*fp.peak_rss_kb), *fp.peak_rss_kb <= 30 * 1024});
    }
    goals.push_back(
        {"no periodic wake-ups when idle (background / focused, caret at rest, per 10 s)",
         std::to_string(fp.wakeups_background) + " / " + std::to_string(fp.wakeups_focused_later),
         fp.wakeups_background <= 2 && fp.wakeups_focused_later <= 2});
  }
  if (results.stop) {
    if (const auto s = Summarize(results.stop->from_start_ms)) {
      goals.push_back({"stop → key-up median ≤ 20 ms (`tollmere --stop` started → key-up)",
                       Format("%.1f ms", s->median), s->median <= 20});
    }
  }
  return goals;
}

std::string RunCommand(double minutes, const std::string& what_it_writes) {
  return "```sh\nbash bench/run      # builds what it needs, runs everything (about " +
         Format("%.0f", std::ceil(minutes)) + " minutes), " + what_it_writes + "\n```\n\n";
}

std::string GoalsTable(const Results& results) {
  std::string md = Row({"goal", "measured", "met"});
  md += "|---|---:|:---:|\n";
  for (const Goal& g : Goals(results)) md += Row({g.what, g.measured, g.met ? "yes" : "**no**"});
  return md;
}

// ---------------------------------------------------------------- sections

std::string Method(const Results& results) {
  utsname un{};
  uname(&un);
  return "Measured on " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores (" + CpuModel() +
         "), Linux " + un.release + ", " + results.when +
         ", each program on a private Xvfb. Key and click " +
         "times are the X server's own timestamps, read by an XInput 2 raw-event listener on the "
         "root " +
         "window; they are whole milliseconds, so a difference of two carries up to ±1 ms of "
         "rounding. " +
         "p99 is the nearest rank (with fewer than 100 samples, the largest). \"Loaded\": " +
         "the benchmark spins one thread per core at normal priority for the whole phase.\n\n";
}

std::string HoldSection(const Results& results) {
  std::string md = "## Hold: key-up − key-down − 2 × interval (ms)\n\n";
  md += Row({"condition", "program", "hold", "n", "min", "median", "p99", "max"});
  md += "|---|---|---:|---:|---:|---:|---:|---:|\n";
  std::map<bool, double> tollmere_p99, anchor_p99;
  for (const Phase& p : results.phases) {
    const std::string cond = Condition(p);
    for (const HoldRun& r : p.runs) {
      md += Row({cond, "Tollmere", std::to_string(2 * r.interval_ms) + " ms",
                 SummaryCells(Summarize(HoldErrors(r)))});
    }
    const auto pooled = Summarize(PooledHoldErrors(p));
    md += Row({cond, "**Tollmere**", "all", SummaryCells(pooled)});
    std::vector<double> anchor_all;
    for (const auto& [hold, errors] : p.anchor_errors) {
      anchor_all.insert(anchor_all.end(), errors.begin(), errors.end());
      md += Row({cond, "xdotool", std::to_string(hold) + " ms", SummaryCells(Summarize(errors))});
    }
    const auto anchor_pooled = Summarize(anchor_all);
    md += Row({cond, "**xdotool**", "all", SummaryCells(anchor_pooled)});
    if (pooled) tollmere_p99[p.loaded] = pooled->p99_abs;
    if (anchor_pooled) anchor_p99[p.loaded] = anchor_pooled->p99_abs;
  }
  md += "\n";
  for (const Phase& p : results.phases) {
    if (!tollmere_p99.count(p.loaded) || !anchor_p99.count(p.loaded)) continue;
    const double t = tollmere_p99[p.loaded];
    const double a = anchor_p99[p.loaded];
    md += "- p99 ratio, " + Condition(p) + ": xdotool " + Format("%.0f", a) + " ms / Tollmere " +
          Format("%.0f", t) + " ms = " +
          (t >= 1 ? Format("%.1f×", a / t)
                  : Format("≥ %.0f× (Tollmere below the 1 ms resolution)", a)) +
          "\n";
  }
  for (const Phase& p : results.phases) {
    if (!p.wake_late_ms) continue;
    md += "- scheduler floor, " + Condition(p) +
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
      "In the repeating cycles the click is the release of the held space, which presses the "
      "focused button; each run's first countdown starts with a real mouse click.\n\n";
  md += Row({"condition", "started by", "n", "min", "median", "p99", "max", "p99 per tick (÷ 4)"});
  md += "|---|---|---:|---:|---:|---:|---:|---:|\n";
  for (const Phase& p : results.phases) {
    const CountdownErrors c = Countdowns(p);
    for (const auto& [label, values] :
         {std::pair{"space release", c.by_key}, std::pair{"mouse click", c.by_mouse}}) {
      const auto s = Summarize(values);
      md += Row({Condition(p), label, SummaryCells(s),
                 s ? Format("%.2f", s->p99_abs / kCountdownTicks) : "–"});
    }
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

std::string WaylandSection(const Results& results) {
  std::string md = "## Wayland: headless sway, the virtual-keyboard back end (ms)\n\n";
  if (!results.wayland_skipped.empty())
    return md + "Not measured: " + results.wayland_skipped + "\n\n";
  md +=
      "Each cycle: sway focuses Tollmere, the probe's own virtual keyboard presses \"Start\", the "
      "focus goes back to the probe, whose window receives the hold. Times are the probe's "
      "CLOCK_MONOTONIC at receipt (virtual keyboards carry no trustworthy timestamps); the click "
      "is when sway had taken the probe's space release. Idle machine; intervals side by side, "
      "each on its own sway.\n\n";
  md += Row({"measure", "hold", "n", "min", "median", "p99", "max"});
  md += "|---|---:|---:|---:|---:|---:|---:|\n";
  const auto row = [&](const std::string& what, const std::string& hold,
                       const std::vector<double>& v) { md += MeasureRow(what, hold, v); };
  std::vector<double> holds, countdowns;
  for (const auto& run : results.wayland) {
    holds.insert(holds.end(), run.hold_errors.begin(), run.hold_errors.end());
    countdowns.insert(countdowns.end(), run.countdown_errors.begin(), run.countdown_errors.end());
    row("hold error", std::to_string(2 * run.interval_ms) + " ms", run.hold_errors);
  }
  row("**hold error**", "all", holds);
  row("countdown error", "all", countdowns);
  return md + "\n";
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

std::string Notes(const Options& options, const Results& results) {
  std::string notes;
  for (const Phase& p : results.phases) {
    notes += std::string("- ") + (p.loaded ? "Loaded" : "Idle") + " phase: all cores " +
             Format("%.0f", p.busy_percent) + " % busy, " + Format("%.0f", p.foreign_percent) +
             " % by other processes than the benchmark's" +
             (p.foreign_percent >= 10 ? " (enough to disturb these figures)" : "");
    if (!options.serial && p.closest_ms) {
      notes +=
          "; the intervals ran side by side on separate servers: " + std::to_string(p.near_events) +
          " of their " + std::to_string(p.key_events) + " key events came within " +
          std::to_string(kNearMs) + " ms of another run's (closest " +
          std::to_string(*p.closest_ms) + " ms)";
    }
    std::size_t disorder = p.anchor_out_of_order;
    for (const HoldRun& r : p.runs) disorder += r.cycles.out_of_order;
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
  if (options.wayland) md += WaylandSection(results);
  if (options.gnome) md += GnomeSection(results);
  if (results.stop) md += StopSection(*results.stop);
  md += "## Goals\n\n" + GoalsTable(results) + "\n";
  md += Notes(options, results);
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
