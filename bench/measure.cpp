#include "measure.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <string_view>
#include <utility>

namespace tollmere::bench {
namespace {

// Nearest-rank percentile of sorted values.
double Rank(const std::vector<double>& sorted, double p) {
  const auto rank =
      static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
  return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

// Each `second` event of a trace with the latest `first` before it, taken
// once: key-down and its key-up, or a click and the key-down it led to.
std::vector<TimedHold> TracedPairs(const std::vector<e2e::TraceEvent>& trace,
                                   std::string_view first, std::string_view second) {
  // NaN for none: g++ 12 sees std::optional<double> as maybe uninitialised.
  std::vector<TimedHold> out;
  double start = std::nan("");
  for (const e2e::TraceEvent& e : trace) {
    if (e.event == first) {
      start = e.ms;
    } else if (e.event == second && !std::isnan(start)) {
      out.push_back({start, e.ms});
      start = std::nan("");
    }
  }
  return out;
}

}  // namespace

std::optional<Summary> Summarize(std::vector<double> values) {
  if (values.empty()) return std::nullopt;
  std::vector<double> abs(values.size());
  std::transform(values.begin(), values.end(), abs.begin(), [](double v) { return std::fabs(v); });
  std::sort(values.begin(), values.end());
  std::sort(abs.begin(), abs.end());
  Summary s;
  s.n = values.size();
  s.min = values.front();
  s.max = values.back();
  const std::size_t mid = values.size() / 2;
  s.median = values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
  s.p99 = Rank(values, 99);
  s.p99_abs = Rank(abs, 99);
  return s;
}

Cycles ReadCycles(const std::vector<KeyTransition>& transitions, std::optional<std::uint32_t> start,
                  std::size_t max_holds) {
  Cycles out;
  // The open press and the release before it, -1 for none (std::optional
  // here makes g++ 12 warn of uninitialised use).
  std::int64_t down = -1, up = -1;
  std::optional<std::int64_t> lead_in;  // the pause before the open press
  bool first = true, lead_in_from_start = false;
  for (const KeyTransition& t : transitions) {
    if (out.holds.size() >= max_holds) break;
    if (start && ServerSpan(*start, t.server_ms) < 0) continue;
    const bool was_first = std::exchange(first, false);
    if (t.press && down < 0) {
      down = t.server_ms;
      lead_in_from_start = was_first && start;
      lead_in.reset();
      if (lead_in_from_start) lead_in = ServerSpan(*start, t.server_ms);
      if (!lead_in_from_start && up >= 0) lead_in = ServerSpan(std::uint32_t(up), t.server_ms);
    } else if (!t.press && down >= 0) {
      out.holds.push_back(ServerSpan(std::uint32_t(down), t.server_ms));
      out.presses.push_back(std::uint32_t(down));
      if (lead_in && lead_in_from_start) out.first_lead_in = lead_in;
      if (lead_in && !lead_in_from_start) out.lead_ins.push_back(*lead_in);
      up = t.server_ms;
      down = -1;
    } else {
      // A second press with no release between, or a release with no press
      // (before the first press: the key was down before we looked): that
      // cycle is unreadable.
      if (t.press || !was_first) ++out.out_of_order;
      down = up = -1;
    }
  }
  return out;
}

std::vector<TimedHold> ServerHolds(const Cycles& cycles, double near_ms) {
  std::vector<TimedHold> out;
  const auto near = static_cast<std::uint32_t>(static_cast<std::int64_t>(near_ms));
  for (std::size_t i = 0; i < cycles.holds.size(); ++i) {
    const double down = near_ms + static_cast<double>(ServerSpan(near, cycles.presses[i]));
    out.push_back({down, down + static_cast<double>(cycles.holds[i])});
  }
  return out;
}

std::vector<TimedHold> TracedHolds(const std::vector<e2e::TraceEvent>& trace) {
  return TracedPairs(trace, "key-down", "key-up");
}

std::vector<double> TracedCountdowns(const std::vector<e2e::TraceEvent>& trace,
                                     double countdown_ms) {
  std::vector<double> out;
  for (const TimedHold& p : TracedPairs(trace, "click", "key-down"))
    out.push_back(p.up - p.down - countdown_ms);
  return out;
}

std::vector<HoldSplit> SplitHolds(const std::vector<TimedHold>& taken,
                                  const std::vector<TimedHold>& traced, double hold_ms) {
  std::vector<HoldSplit> out;
  for (const TimedHold& h : taken) {
    HoldSplit split{h.up - h.down - hold_ms, std::nullopt};
    double best = kPairMs;
    for (const TimedHold& t : traced) {
      if (const double d = std::fabs(t.down - h.down); d <= best) {
        best = d;
        split.program = t.up - t.down - hold_ms;
      }
    }
    out.push_back(split);
  }
  return out;
}

}  // namespace tollmere::bench
