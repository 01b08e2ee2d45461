#include "measure.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <string_view>

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
  bool down = false;  // a cycle is under way, pressed at down_at
  std::uint32_t down_at = 0;
  bool have_lead_in = false;  // the pause before that press is known
  bool lead_in_from_start = false;
  std::int64_t lead_in = 0;
  bool have_up = false;  // the cycle before was released at up_at
  std::uint32_t up_at = 0;
  bool first = true;
  for (const KeyTransition& t : transitions) {
    if (out.holds.size() >= max_holds) break;
    if (start && ServerSpan(*start, t.server_ms) < 0) continue;
    const bool was_first = first;
    first = false;
    if (t.press) {
      if (down) {
        // A second press with no release between: that cycle is unreadable.
        ++out.out_of_order;
        down = have_up = false;
        continue;
      }
      down = true;
      down_at = t.server_ms;
      lead_in_from_start = was_first && start.has_value();
      have_lead_in = lead_in_from_start || have_up;
      if (lead_in_from_start)
        lead_in = ServerSpan(*start, t.server_ms);
      else if (have_up)
        lead_in = ServerSpan(up_at, t.server_ms);
      continue;
    }
    if (!down) {
      // A release with no press: a press went missing, or (before the
      // first press) the key was down before we looked.
      if (!was_first) ++out.out_of_order;
      have_up = false;
      continue;
    }
    out.holds.push_back(ServerSpan(down_at, t.server_ms));
    out.presses.push_back(down_at);
    if (have_lead_in && lead_in_from_start)
      out.first_lead_in = lead_in;
    else if (have_lead_in)
      out.lead_ins.push_back(lead_in);
    down = false;
    have_up = true;
    up_at = t.server_ms;
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
