#pragma once
// The Wine probes' common part: a window of this process that holds the
// focus and records the space-bar messages it is sent, with their times,
// and the program under test started beside it. Keystrokes injected under
// Wine stay inside Wine, so the observer is a Windows program too; the end-
// to-end test (tests/win32/) and the benchmark (bench/win32/) use it.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace tollmere::e2e::win32 {

struct KeyEvent {
  bool down;
  double at_ms;
  int scan;  // lParam's bits 16-23
};

// The performance counter in milliseconds: one clock for every process of
// the Wine session.
double NowMs();

// Runs the message loop for `ms`, or until `done` says so; its last answer.
bool PumpUntil(double ms, const std::function<bool()>& done);
void Pump(double ms);

// "/a/b" as "Z:\a\b"; a Windows path is kept.
std::wstring WindowsPath(const char* path);

// Starts `exe` with `options`, not activated: a queued key message goes to
// the focus at the time it is read, and the new window must not take it.
bool Launch(const std::wstring& exe, const std::wstring& options, PROCESS_INFORMATION& pi);

// The recording window; one per process.
class KeyProbe {
 public:
  KeyProbe();
  HWND Window() const { return window_; }
  // Takes the focus and waits until it has it.
  bool TakeFocus();
  std::size_t Count(bool down) const;
  // Puts `interval` in Tollmere's box, clicks Start and takes the focus back;
  // when the click was taken. The events so far are dropped.
  double StartCycle(HWND edit, HWND button, const wchar_t* interval, bool& focused);

  WPARAM key = VK_SPACE;         // the one recorded
  std::vector<KeyEvent> events;  // presses (not autorepeats) and releases
  int repeats = 0;               // autorepeat presses

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  HWND window_ = nullptr;
};

}  // namespace tollmere::e2e::win32
