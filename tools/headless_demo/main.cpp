// tollmere-demo: runs Tollmere on a private Xvfb, plays one hold cycle the
// way a user would and prints what happened when, with a screenshot taken
// during the countdown.
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "harness/app_process.h"
#include "harness/child_process.h"
#include "harness/driver.h"
#include "harness/monotonic.h"
#include "harness/probe.h"
#include "harness/xvfb_server.h"

namespace {

using namespace std::chrono_literals;
using namespace tollmere::e2e;

constexpr const char* kUsage =
    "Usage: tollmere-demo [INTERVAL_MS] [--tollmere PATH]\n"
    "Runs Tollmere on a private virtual X display, types INTERVAL_MS (default 500)\n"
    "into it, clicks Start and prints when the button and the space bar changed.\n";

struct Options {
  int interval_ms = 500;
  std::string binary = TOLLMERE_DEFAULT_BINARY;
};

Options ParseArgs(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    }
    if (arg == "--tollmere" && i + 1 < argc) {
      options.binary = argv[++i];
      continue;
    }
    char* end = nullptr;
    const long value = std::strtol(argv[i], &end, 10);
    if (end == argv[i] || *end != '\0' || value < 1 || value > 60000) {
      throw std::invalid_argument(std::string("bad argument '") + argv[i] +
                                  "': the interval is 1 to 60000 ms\n" + kUsage);
    }
    options.interval_ms = static_cast<int>(value);
  }
  if (access(options.binary.c_str(), X_OK) != 0) {
    throw std::runtime_error("no Tollmere program at " + options.binary + " (use --tollmere PATH)");
  }
  return options;
}

// Saves the program's window as PNG; returns the path.
std::string Screenshot(const std::string& display, unsigned long window) {
  char path[] = "/tmp/tollmere-demo-XXXXXX.png";
  const int fd = mkstemps(path, 4);
  if (fd < 0) throw std::runtime_error("cannot create a file for the screenshot");
  close(fd);
  char id[32];
  std::snprintf(id, sizeof id, "0x%lx", window);
  SpawnOptions options;
  options.argv = {"import", "-display", display, "-window", id, std::string("png:") + path};
  const pid_t pid = Spawn(options);
  const auto status = WaitForPid(pid, 15s);
  if (!status || *status != 0) {
    throw std::runtime_error("ImageMagick's import failed: " +
                             (status ? DescribeWaitStatus(*status) : std::string("timed out")));
  }
  return path;
}

struct Line {
  double ms;
  std::string text;
};

void PrintLine(const Line& line) {
  std::printf("  %7.3f s  %s\n", line.ms / 1000.0, line.text.c_str());
}

int Run(const Options& options) {
  const int interval = options.interval_ms;
  XvfbServer xvfb;
  std::printf("Tollmere demo on virtual X display %s (interval %d ms)\n", xvfb.name().c_str(),
              interval);
  std::fflush(stdout);

  // The recorder window has the focus, as some other program would when
  // Tollmere starts: its start-up keystroke goes there.
  Probe recorder(xvfb.name());
  Driver user(xvfb.name());
  recorder.TakeFocus();
  AppProcess app(options.binary, AppProcess::XEnvironment(xvfb.name()));

  const unsigned long window = user.WaitForWindow("Tollmere", 15s);
  if (window == 0) throw std::runtime_error("the Tollmere window did not appear:\n" + app.Stderr());
  if (!recorder.WaitForKeys(2, 5s)) throw std::runtime_error("no start-up keystroke arrived");
  std::printf("  start-up: one space press and release reached the focused window\n");

  user.Focus(window);
  user.Type(std::to_string(interval));
  if (!app.WaitForTrace("interval", std::to_string(interval), 5s)) {
    throw std::runtime_error("Tollmere did not take the interval:\n" + app.Stderr());
  }

  user.Click(window, StartButtonCentre());
  const double click_mono = MonotonicMs();
  const std::uint32_t click_server = recorder.ServerTime();
  const std::size_t mark = recorder.events().size();
  recorder.TakeFocus();

  // Show the countdown in progress; give the button a moment to repaint.
  std::string screenshot;
  if (app.WaitForTrace("caption", "Starting in 2", 5s)) {
    std::this_thread::sleep_for(150ms);
    screenshot = Screenshot(xvfb.name(), window);
  }

  if (!recorder.WaitForKeys(1, 10s, kSpaceKeysym, mark)) {
    throw std::runtime_error("no space key-down within 10 s of the click:\n" + app.Stderr());
  }
  if (!recorder.WaitForKeys(2, std::chrono::milliseconds(2 * interval) + 5s, kSpaceKeysym, mark)) {
    throw std::runtime_error("the space bar was not released:\n" + app.Stderr());
  }
  app.WaitForTrace("caption", "Start", 2s);
  const auto keys = recorder.Transitions(kSpaceKeysym, mark);

  // The program's trace gives the order; the recorder's server timestamps
  // give the key times.
  std::vector<Line> lines{{0, "clicked \"Start\""}};
  std::size_t key = 0;
  const auto trace = app.Trace();
  for (const TraceEvent& e : trace) {
    if (e.ms < click_mono) continue;  // the start-up keystroke, the typing
    if (e.event == "caption") {
      lines.push_back({e.ms - click_mono, "button shows \"" + e.arg + "\""});
    } else if ((e.event == "key-down" || e.event == "key-up") && key < keys.size()) {
      const double at = ServerSpan(click_server, keys[key].server_ms);
      char text[160];
      if (keys[key].press) {
        std::snprintf(text, sizeof text, "space DOWN   (countdown %.0f ms, expected 4000)", at);
      } else {
        const double held = ServerSpan(keys[0].server_ms, keys[key].server_ms);
        std::snprintf(text, sizeof text, "space UP     (held %.0f ms, expected %d, error %+.0f ms)",
                      held, 2 * interval, held - 2 * interval);
      }
      lines.push_back({at, text});
      ++key;
    }
  }
  for (const Line& line : lines) PrintLine(line);

  user.RequestClose(window);
  const ExitStatus status = app.WaitForExit(5s);
  const bool key_left_down = recorder.AnyKeyDown();
  std::printf("Closed the window: Tollmere %s; keys down: %s\n", status.Describe().c_str(),
              recorder.KeysDownText().c_str());
  if (!screenshot.empty()) std::printf("Screenshot: %s\n", screenshot.c_str());

  if (keys.size() != 2 || !keys[0].press || keys[1].press) {
    throw std::runtime_error("expected one press and one release, got " +
                             std::to_string(keys.size()) + " key changes");
  }
  if (!status.Exited() || status.Code() != 0)
    throw std::runtime_error("Tollmere did not exit cleanly");
  if (key_left_down) throw std::runtime_error("a key was left down");
  if (screenshot.empty()) throw std::runtime_error("the countdown never showed \"Starting in 2\"");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(ParseArgs(argc, argv));
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "tollmere-demo: %s\n", e.what());
    return 1;
  }
}
