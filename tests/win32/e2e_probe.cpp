// End-to-end test of tollmere.exe under Wine. Keystrokes injected by the
// program stay inside Wine, so the observer is a window of this process: it
// holds the focus, starts the program, drives its window with messages and
// records the space-bar messages it is sent, with their times.
//
// Usage: win32_e2e_probe PATH-TO-TOLLMERE.EXE [--backend=scancode]
// (a Unix path is taken as Z:); with the option, only start-up and closing,
// checking the scan code the keys carry.
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "harness/win32/key_probe.h"

namespace {

using namespace tollmere::e2e::win32;

int g_failures = 0;
KeyProbe* g_probe = nullptr;

void Check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok  " : "FAIL", what);
  if (!ok) ++g_failures;
}

void CheckNear(double actual, double expected, double tolerance, const char* what) {
  std::printf("%s: %s: %.1f ms (expected %.0f +- %.0f)\n",
              std::fabs(actual - expected) <= tolerance ? "ok  " : "FAIL", what, actual, expected,
              tolerance);
  if (std::fabs(actual - expected) > tolerance) ++g_failures;
}

// Clicks Start with `interval` in the box and gives the focus back to the
// probe; returns when the click was taken.
double StartCycle(HWND edit, HWND button, const wchar_t* interval) {
  bool focused = false;
  const double clicked = g_probe->StartCycle(edit, button, interval, focused);
  Check(focused, "probe has the focus before and after the click");
  return clicked;
}

std::vector<PROCESS_INFORMATION> g_started;  // in the order started

// Starts tollmere.exe with `options`, `count` at once, and runs the probe's
// messages until `done` holds, `ms` at most; whether it came to hold.
bool StartUntil(const std::wstring& exe, const wchar_t* options, int count, double ms,
                const std::function<bool()>& done) {
  for (int i = 0; i < count; ++i) {
    if (!Launch(exe, options, g_started.emplace_back()))
      std::printf("      cannot start %ls (error %lu)\n", exe.c_str(), GetLastError());
  }
  return PumpUntil(ms, done);
}

// Whether the `i`-th started (-1: the last) has ended with status 0.
bool EndedWith0(int i) {
  const PROCESS_INFORMATION& p = i < 0 ? g_started.back() : g_started.at(i);
  DWORD code = STILL_ACTIVE;
  return GetExitCodeProcess(p.hProcess, &code) && code == 0;
}

// Ends those started that are still running, and says how it went.
int Finish() {
  for (const PROCESS_INFORMATION& p : g_started) {
    if (WaitForSingleObject(p.hProcess, 5000) != WAIT_OBJECT_0) TerminateProcess(p.hProcess, 3);
    CloseHandle(p.hProcess);
    CloseHandle(p.hThread);
  }
  std::printf("%s\n", g_failures == 0 ? "PASS" : "FAILED");
  return g_failures == 0 ? 0 : 1;
}

// How many Tollmere windows are open; `marked`: the one that takes requests.
int CountWindows(HWND* marked = nullptr) {
  int n = 0;
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"TollmereForm1", nullptr)) != nullptr;) {
    ++n;
    if (marked != nullptr && GetPropW(w, L"Tollmere.TakesRequests") != nullptr) *marked = w;
  }
  return n;
}

// Runs tollmere.com (beside tollmere.exe) with `options` to its end, its
// output and errors in `output`; its exit status, or STILL_ACTIVE.
DWORD RunCompanion(const std::wstring& exe, const wchar_t* options, std::string& output) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  if (!CreatePipe(&read, &write, &inherit, 1 << 16)) return STILL_ACTIVE;
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  std::wstring command = L"\"" + exe.substr(0, exe.size() - 4) + L".com\" " + options;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = write;
  PROCESS_INFORMATION pi{};
  const bool started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &si, &pi) != 0;
  CloseHandle(write);
  DWORD exit_code = STILL_ACTIVE;
  output.clear();
  const auto drain = [&] {
    char buffer[4096];
    DWORD got = 0;
    while (PeekNamedPipe(read, nullptr, 0, nullptr, &got, nullptr) && got > 0 &&
           ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got > 0)
      output.append(buffer, got);
  };
  if (started) {
    PumpUntil(10000, [&] {
      drain();
      return GetExitCodeProcess(pi.hProcess, &exit_code) && exit_code != STILL_ACTIVE;
    });
    drain();
    if (exit_code == STILL_ACTIVE) TerminateProcess(pi.hProcess, 3);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  CloseHandle(read);
  std::printf("      tollmere.com %ls: status %lu: %s", options, exit_code, output.c_str());
  return exit_code;
}

}  // namespace

int main(int argc, char** argv) {
  const bool scancode = argc == 3 && std::string(argv[2]) == "--backend=scancode";
  if (argc != 2 && !scancode) {
    std::fprintf(stderr, "usage: win32_e2e_probe PATH-TO-TOLLMERE.EXE [--backend=scancode]\n");
    return 2;
  }
  setvbuf(stdout, nullptr, _IONBF, 0);

  KeyProbe probe;
  g_probe = &probe;
  if (probe.Window() == nullptr || !probe.TakeFocus()) {
    std::printf("FAIL: the probe window cannot take the focus\n");
    return 1;
  }

  // Start-up: the program's load-time keystroke, before its window shows.
  const std::wstring exe = WindowsPath(argv[1]);
  HWND tollmere = nullptr;
  Check(StartUntil(exe, scancode ? L"--backend=scancode" : L"", 1, 30000,
                   [&tollmere] {
                     return (tollmere = FindWindowW(L"TollmereForm1", L"Tollmere")) != nullptr;
                   }),
        "the Tollmere window appears");
  if (tollmere == nullptr) return Finish();
  Pump(300);
  Check(g_probe->events.size() == 2 && g_probe->events[0].down && !g_probe->events[1].down,
        "start-up: one space-bar press, then one release");
  std::printf("      start-up messages: %zu down, %zu up; scan codes", g_probe->Count(true),
              g_probe->Count(false));
  for (const KeyEvent& e : g_probe->events) std::printf(" 0x%02x", e.scan);
  std::printf("\n");
  if (scancode) {
    const std::vector<KeyEvent>& events = g_probe->events;
    Check(events.size() == 2 && events[0].scan == 0x39 && events[1].scan == 0x39,
          "scancode: both carry the space bar's scan code, 0x39");
    Check(GetAsyncKeyState(VK_SPACE) >= 0, "scancode: the space bar is up");
    PostMessageW(tollmere, WM_CLOSE, 0, 0);
    Check(PumpUntil(5000, [] { return EndedWith0(0); }),
          "scancode: the program exits with status 0");
    return Finish();
  }

  HWND edit = FindWindowExW(tollmere, nullptr, L"Edit", nullptr);
  HWND button = FindWindowExW(tollmere, nullptr, L"Button", nullptr);
  Check(edit != nullptr && button != nullptr, "the interval box and the button are found");
  if (edit == nullptr || button == nullptr) return Finish();

  // tollmere.com hands the arguments over as typed and returns the status.
  std::string said;
  Check(RunCompanion(exe, L"\"--interval=1 000\"", said) == 0 && CountWindows() == 1,
        "companion: a quoted interval is taken, no other window opens");
  wchar_t typed[64] = {};
  SendMessageW(edit, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(typed));
  Check(std::wstring(typed) == L"1 000", "companion: the box has the interval as typed");
  Check(RunCompanion(exe, L"--interval=-5", said) == 1 && said.find("refused") != said.npos,
        "companion: a refused request gives status 1 and why");
  Check(RunCompanion(exe, L"", said) == 0 && CountWindows() == 1,
        "a second plain start brings the first forward, opens no window");

  // A cycle with 500 ms: down 4 s after the click, up two intervals later.
  double clicked = StartCycle(edit, button, L"500");
  PumpUntil(8000, [] { return g_probe->events.size() >= 2; });
  Pump(300);
  Check(g_probe->Count(true) == 1 && g_probe->Count(false) == 1,
        "cycle: one press and one release");
  if (g_probe->events.size() >= 2 && g_probe->events[0].down && !g_probe->events[1].down) {
    CheckNear(g_probe->events[0].at_ms - clicked, 4000, 50, "cycle: key-down after the click");
    CheckNear(g_probe->events[1].at_ms - g_probe->events[0].at_ms, 1000, 50, "cycle: held for");
  }
  wchar_t caption[64] = {};
  GetWindowTextW(button, caption, 64);
  Check(std::wstring(caption) == L"Start", "cycle: the button says Start again");

  // A second tollmere.exe --stop during a hold has the open one put the key
  // up at once, and ends with 0.
  clicked = StartCycle(edit, button, L"60000");
  PumpUntil(6000, [] { return !g_probe->events.empty(); });
  Check(g_probe->events.size() == 1 && g_probe->events[0].down, "--stop: the hold has begun");
  Check(StartUntil(exe, L"--stop", 1, 10000, [] { return EndedWith0(-1); }),
        "--stop: it exits with status 0");
  PumpUntil(2000, [] { return g_probe->events.size() >= 2; });
  Check(g_probe->events.size() == 2 && !g_probe->events[1].down, "--stop: the key is put up");
  GetWindowTextW(button, caption, 64);
  Check(std::wstring(caption) == L"Start", "--stop: the button says Start again");

  // Closing the window during a hold puts the key up; the program ends with 0.
  clicked = StartCycle(edit, button, L"2000");
  PumpUntil(6000, [] { return !g_probe->events.empty(); });
  Check(g_probe->events.size() == 1 && g_probe->events[0].down, "close: the hold has begun");
  const double closed = NowMs();
  PostMessageW(tollmere, WM_CLOSE, 0, 0);
  PumpUntil(2000, [] { return g_probe->events.size() >= 2; });
  Check(g_probe->events.size() == 2 && !g_probe->events[1].down, "close: the key is put up");
  for (const KeyEvent& e : g_probe->events)
    std::printf("      %s at %.1f ms\n", e.down ? "down" : "up", e.at_ms - clicked);
  if (g_probe->events.size() == 2)
    CheckNear(g_probe->events[1].at_ms - closed, 0, 50, "close: key-up after WM_CLOSE");
  Check(PumpUntil(5000, [] { return EndedWith0(0); }), "close: the program exits with status 0");
  Check(g_probe->repeats == 0, "no autorepeat messages");

  // With no window open, --stop opens none and ends with 0.
  Check(StartUntil(exe, L"--stop", 1, 10000, [] { return EndedWith0(-1); }) &&
            FindWindowW(L"TollmereForm1", nullptr) == nullptr,
        "--stop with none open: status 0, no window");
  Check(
      RunCompanion(exe, L"--stop", said) == 0 && said.find("no Tollmere was running") != said.npos,
      "companion: --stop with none open says so, status 0");
  Check(RunCompanion(exe, L"--bogus", said) == 2 && said.find("--new-window") != said.npos,
        "companion: an unknown option gives status 2 and the help");

  // Any key, held until stopped: A goes down at once and up at --stop.
  g_probe->key = 'A';
  g_probe->events.clear();
  StartUntil(exe, L"--key=A --countdown=0 --hold=until-stopped --start", 1, 10000,
             [] { return !g_probe->events.empty(); });
  const int held = static_cast<int>(g_started.size()) - 1;
  Check(StartUntil(exe, L"--stop", 1, 10000, [] { return EndedWith0(-1); }),
        "--key=A: --stop exits with status 0");
  PumpUntil(2000, [] { return g_probe->events.size() >= 2; });
  Check(g_probe->events.size() == 2 && g_probe->events[0].down && !g_probe->events[1].down,
        "--key=A --hold=until-stopped: A down, then up at --stop");
  PostMessageW(FindWindowW(L"TollmereForm1", nullptr), WM_CLOSE, 0, 0);
  Check(PumpUntil(5000, [held] { return EndedWith0(held); }), "--key=A: the window closes");

  // Two plain starts at once: one window, the other start brings it forward
  // and ends with 0.
  const int first = static_cast<int>(g_started.size());
  const auto one_window = [first] {
    return CountWindows() == 1 && EndedWith0(first) != EndedWith0(first + 1);
  };
  StartUntil(exe, L"", 2, 20000, one_window);
  Pump(500);
  Check(one_window(), "two starts at once: one window");

  // One opened with --new-window takes the requests once the first closes.
  HWND marked = nullptr;
  Check(StartUntil(exe, L"--new-window", 1, 10000, [] { return CountWindows() == 2; }),
        "--new-window opens another");
  CountWindows(&marked);
  PostMessageW(marked, WM_CLOSE, 0, 0);
  Check(PumpUntil(5000, [&] { return CountWindows(&marked) == 1 && IsWindow(marked); }),
        "--new-window: it takes over when the first closes");
  Check(RunCompanion(exe, L"", said) == 0 && CountWindows() == 1,
        "--new-window: a plain start then brings it forward");

  // Opened during a hold, --new-window sends no start-up keystroke, whose
  // release would end that hold.
  const auto space_down = [] { return GetAsyncKeyState(VK_SPACE) < 0; };
  RunCompanion(exe, L"--countdown=0 --hold=until-stopped --start", said);
  Check(PumpUntil(3000, space_down), "latch: the space bar is down");
  Check(StartUntil(exe, L"--new-window", 1, 10000, [] { return CountWindows() == 2; }),
        "--new-window opens another during the hold");
  Pump(1000);
  Check(space_down(), "--new-window during a hold: the space bar stays down");

  // One hung window does not keep --stop from the others, and is reported.
  std::thread([] {
    WNDCLASSW hung{};
    hung.lpfnWndProc = DefWindowProcW;
    hung.hInstance = GetModuleHandleW(nullptr);
    hung.lpszClassName = L"TollmereForm1";
    RegisterClassW(&hung);
    HWND w = CreateWindowW(L"TollmereForm1", L"hung", 0, 0, 0, 1, 1, nullptr, nullptr,
                           hung.hInstance, nullptr);
    SetPropW(w, L"Tollmere.TakesRequests", w);
    Sleep(INFINITE);
  }).detach();
  Check(PumpUntil(2000, [] { return CountWindows() == 3; }), "a hung window of the class opens");
  Check(RunCompanion(exe, L"--stop", said) == 1 && said.find("answer") != said.npos,
        "--stop with a hung window: status 1, and says so");
  Check(PumpUntil(2000, [&] { return !space_down(); }), "--stop with a hung window: key up");
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"TollmereForm1", L"Tollmere")) != nullptr;)
    PostMessageW(w, WM_CLOSE, 0, 0);
  return Finish();
}
