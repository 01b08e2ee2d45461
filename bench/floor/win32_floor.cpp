// The Windows floor: a bare loop that sends the space bar with keybd_event at
// absolute deadlines, waiting as Tollmere's message loop does (a
// high-resolution waitable timer, or an ordinary one at a 1 ms timer period,
// beside the message queue), with no window, handlers or timers of its own.
// Each cycle: 250 ms after the last release, four 1000 ms ticks, the press,
// two intervals, the release.
//
// Usage: tollmere-floor-win32 CYCLES INTERVAL-MS
#include <windows.h>
// After windows.h.
#include <timeapi.h>

#include <cstdio>
#include <cstdlib>

namespace {

double NowMs() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / frequency;
}

void WaitUntil(HANDLE timer, double deadline_ms) {
  for (double now; (now = NowMs()) < deadline_ms;) {
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>((deadline_ms - now) * 10'000) - 1;
    SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
    MsgWaitForMultipleObjectsEx(1, &timer, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int cycles = argc == 3 ? std::atoi(argv[1]) : 0;
  const int interval = argc == 3 ? std::atoi(argv[2]) : 0;
  if (cycles < 1 || interval < 1) {
    std::fprintf(stderr, "usage: tollmere-floor-win32 CYCLES INTERVAL-MS\n");
    return 2;
  }
  constexpr DWORD kHighResolution = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
  HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, kHighResolution, TIMER_ALL_ACCESS);
  if (timer == nullptr) {
    timer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    timeBeginPeriod(1);
  }
  double deadline = NowMs();
  for (int cycle = 0; cycle < cycles; ++cycle) {
    deadline += 250;
    for (int tick = 0; tick < 4; ++tick) WaitUntil(timer, deadline += 1000);
    keybd_event(VK_SPACE, 0, 0, 0);
    WaitUntil(timer, deadline += interval);
    WaitUntil(timer, deadline += interval);
    keybd_event(VK_SPACE, 0, KEYEVENTF_KEYUP, 0);
  }
  return 0;
}
