#include "harness/win32/key_probe.h"

namespace tollmere::e2e::win32 {
namespace {

KeyProbe* g_probe = nullptr;

}  // namespace

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

bool PumpUntil(double ms, const std::function<bool()>& done) {
  const double until = NowMs() + ms;
  while (NowMs() < until) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  }
  return done();
}

void Pump(double ms) {
  PumpUntil(ms, [] { return false; });
}

std::wstring WindowsPath(const char* path) {
  std::wstring out = path[0] == '/' ? L"Z:" : L"";
  for (const char* p = path; *p; ++p) out += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return out;
}

bool Launch(const std::wstring& exe, const std::wstring& options, PROCESS_INFORMATION& pi) {
  std::wstring command = L"\"" + exe + L"\" " + options;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOWNOACTIVATE;
  pi = {};
  return CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi) != 0;
}

KeyProbe::KeyProbe() {
  g_probe = this;
  WNDCLASSW wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = L"TollmereKeyProbe";
  RegisterClassW(&wc);
  window_ = CreateWindowW(wc.lpszClassName, L"probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 400, 300,
                          300, 200, nullptr, nullptr, wc.hInstance, nullptr);
}

bool KeyProbe::TakeFocus() {
  SetForegroundWindow(window_);
  SetFocus(window_);
  return PumpUntil(3000,
                   [this] { return GetForegroundWindow() == window_ && GetFocus() == window_; });
}

double KeyProbe::StartCycle(HWND edit, HWND button, const wchar_t* interval, bool& focused) {
  SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(interval));
  focused = TakeFocus();
  events.clear();
  const double before = NowMs();
  SendMessageW(button, BM_CLICK, 0, 0);  // returns once the click was handled
  const double clicked = (before + NowMs()) / 2;
  focused = TakeFocus() && focused;
  return clicked;
}

std::size_t KeyProbe::Count(bool down) const {
  std::size_t n = 0;
  for (const KeyEvent& e : events) n += e.down == down;
  return n;
}

LRESULT CALLBACK KeyProbe::Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if ((message == WM_KEYDOWN || message == WM_KEYUP) && g_probe != nullptr &&
      wparam == g_probe->key) {
    // Bit 30: the key was already down, i.e. an autorepeat.
    if (message == WM_KEYDOWN && (lparam & (1 << 30)) != 0) {
      ++g_probe->repeats;
    } else {
      g_probe->events.push_back(
          {message == WM_KEYDOWN, NowMs(), static_cast<int>((lparam >> 16) & 0xff)});
    }
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace tollmere::e2e::win32
