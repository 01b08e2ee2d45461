// tollmere-wine-bench: Tollmere's holds and countdown ticks on Windows (run
// under Wine), beside the Windows floor (bench/floor/win32_floor.cpp). A
// probe window of this process holds the focus and times the space-bar
// messages it gets; both programs send them with keybd_event. Prints a
// Markdown section; progress goes to stderr.
//
// Usage: tollmere-wine-bench [--holds N] [--intervals L] FLOOR.EXE [NAME=]TOLLMERE.EXE...
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "harness/win32/key_probe.h"

namespace {

using namespace tollmere::e2e::win32;

struct Run {
  std::string program;
  int interval = 0;
  std::vector<double> holds;       // key-up − key-down at the probe
  std::vector<double> countdowns;  // key-down − its start − 4000
};

struct Stats {
  double median = 0, p99 = 0, max = 0;
};

// Nearest rank; with fewer than 100 samples p99 is the largest.
std::optional<Stats> Summarize(std::vector<double> v) {
  if (v.empty()) return std::nullopt;
  std::sort(v.begin(), v.end());
  const std::size_t mid = v.size() / 2;
  const double median = v.size() % 2 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
  const std::size_t rank = (99 * v.size() + 99) / 100;
  return Stats{median, v[std::min(rank, v.size()) - 1], v.back()};
}

std::string Cell(double v, const char* fmt = "%+.2f") {
  char buf[32];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

void Progress(const std::string& text) { std::fprintf(stderr, "[wine bench] %s\n", text.c_str()); }

// Holds and countdowns of the key events, press and release in turn; `start`
// is when each countdown began, from a press's index.
void Collect(Run& run, const std::vector<KeyEvent>& events, double start) {
  if (events.size() == 2 && events[0].down && !events[1].down) {
    run.holds.push_back(events[1].at_ms - events[0].at_ms);
    run.countdowns.push_back(events[0].at_ms - start - 4000);
  }
}

// Tollmere's cycles: the interval typed in, Start clicked; each one's press
// and release at the probe.
bool MeasureTollmere(KeyProbe& probe, const std::string& name, const std::wstring& exe,
                     const std::vector<int>& intervals, int holds, std::vector<Run>& runs) {
  PROCESS_INFORMATION pi{};
  if (!Launch(exe, L"", pi)) {
    Progress("cannot start it: error " + std::to_string(GetLastError()));
    return false;
  }
  // The window is there before its controls are.
  HWND window = nullptr, edit = nullptr, button = nullptr;
  PumpUntil(30000, [&] {
    window = FindWindowW(L"TollmereForm1", nullptr);
    edit = FindWindowExW(window, nullptr, L"Edit", nullptr);
    button = FindWindowExW(window, nullptr, L"Button", nullptr);
    return edit != nullptr && button != nullptr;
  });
  if (edit == nullptr || button == nullptr) {
    Progress("its window did not appear");
    TerminateProcess(pi.hProcess, 3);
    return false;
  }
  Pump(500);
  for (const int interval : intervals) {
    Run run{name, interval, {}, {}};
    for (int i = 0; i < holds; ++i) {
      bool focused = false;
      const double clicked =
          probe.StartCycle(edit, button, std::to_wstring(interval).c_str(), focused);
      if (!focused) Progress("the probe lost the focus");
      PumpUntil(4000 + 2 * interval + 3000, [&probe] { return probe.events.size() >= 2; });
      Pump(200);
      Collect(run, probe.events, clicked);
    }
    Progress(name + " " + std::to_string(interval) + " ms: " + std::to_string(run.holds.size()) +
             " holds");
    runs.push_back(std::move(run));
  }
  PostMessageW(window, WM_CLOSE, 0, 0);
  PumpUntil(5000, [&pi] { return WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; });
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return true;
}

// The floor's cycles: one run of it per interval; a countdown starts 250 ms
// after the release before it.
bool MeasureFloor(KeyProbe& probe, const std::wstring& exe, const std::vector<int>& intervals,
                  int holds, std::vector<Run>& runs) {
  for (const int interval : intervals) {
    if (!probe.TakeFocus()) Progress("the probe lost the focus");
    probe.events.clear();
    PROCESS_INFORMATION pi{};
    const std::wstring args = std::to_wstring(holds + 1) + L" " + std::to_wstring(interval);
    if (!Launch(exe, args, pi)) return false;
    PumpUntil((holds + 1) * (4300.0 + 2 * interval) + 5000,
              [&pi] { return WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; });
    Pump(200);
    TerminateProcess(pi.hProcess, 3);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    Run run{"floor", interval, {}, {}};
    const std::vector<KeyEvent>& e = probe.events;
    for (std::size_t i = 2; i + 1 < e.size(); i += 2)
      Collect(run, {e[i], e[i + 1]}, e[i - 1].at_ms + 250);
    Progress("floor " + std::to_string(interval) + " ms: " + std::to_string(run.holds.size()) +
             " holds");
    runs.push_back(std::move(run));
  }
  return true;
}

std::string Report(const std::vector<Run>& runs) {
  std::string out =
      "| program | hold | n | hold error: median | p99 | max | countdown error: median | p99 | "
      "max | p99 per tick |\n| --- | --- | --- | --- | --- | --- | --- | --- | --- | --- |\n";
  for (const Run& run : runs) {
    std::vector<double> errors;
    for (const double h : run.holds) errors.push_back(h - 2 * run.interval);
    const auto h = Summarize(errors);
    const auto c = Summarize(run.countdowns);
    if (!h || !c) continue;
    out += "| " + run.program + " | " + std::to_string(2 * run.interval) + " | " +
           std::to_string(run.holds.size()) + " | " + Cell(h->median) + " | " + Cell(h->p99) +
           " | " + Cell(h->max) + " | " + Cell(c->median) + " | " + Cell(c->p99) + " | " +
           Cell(c->max) + " | " + Cell(c->p99 / 4, "%.2f") + " |\n";
  }
  out +=
      "\n| program | hold | median hold, ms | floor's | ratio |\n| --- | --- | --- | --- | --- |\n";
  for (const Run& run : runs) {
    if (run.program == "floor") continue;
    for (const Run& floor : runs) {
      if (floor.program != "floor" || floor.interval != run.interval) continue;
      const auto t = Summarize(run.holds);
      const auto f = Summarize(floor.holds);
      if (t && f)
        out += "| " + run.program + " | " + std::to_string(2 * run.interval) + " | " +
               Cell(t->median, "%.2f") + " | " + Cell(f->median, "%.2f") + " | " +
               Cell(t->median / f->median, "%.3f") + "× |\n";
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  int holds = 10;
  std::vector<int> intervals = {20, 1000};
  std::vector<std::string> programs;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--holds" || arg == "--intervals") && i + 1 < argc) {
      if (arg == "--holds") {
        holds = std::atoi(argv[++i]);
      } else {
        intervals.clear();
        std::istringstream list(argv[++i]);
        for (std::string item; std::getline(list, item, ',');)
          intervals.push_back(std::atoi(item.c_str()));
      }
    } else {
      programs.push_back(arg);
    }
  }
  const bool bad_interval =
      std::any_of(intervals.begin(), intervals.end(), [](int v) { return v < 1 || v > 60000; });
  if (programs.size() < 2 || holds < 1 || intervals.empty() || bad_interval) {
    std::fprintf(stderr,
                 "usage: tollmere-wine-bench [--holds N] [--intervals L] FLOOR.EXE "
                 "[NAME=]TOLLMERE.EXE...\n");
    return 2;
  }
  KeyProbe probe;
  if (probe.Window() == nullptr || !probe.TakeFocus()) {
    std::fprintf(stderr, "tollmere-wine-bench: the probe window cannot take the focus\n");
    return 1;
  }
  std::vector<Run> runs;
  for (std::size_t i = 1; i < programs.size(); ++i) {
    const std::size_t eq = programs[i].find('=');
    const std::string name = eq == std::string::npos ? "Tollmere" : programs[i].substr(0, eq);
    const std::string path = eq == std::string::npos ? programs[i] : programs[i].substr(eq + 1);
    if (!MeasureTollmere(probe, name, WindowsPath(path.c_str()), intervals, holds, runs)) {
      std::fprintf(stderr, "tollmere-wine-bench: cannot run %s\n", path.c_str());
      return 1;
    }
  }
  if (!MeasureFloor(probe, WindowsPath(programs[0].c_str()), intervals, holds, runs)) {
    std::fprintf(stderr, "tollmere-wine-bench: cannot run %s\n", programs[0].c_str());
    return 1;
  }
  std::fputs(Report(runs).c_str(), stdout);
  return 0;
}
