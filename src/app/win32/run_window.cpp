#include "app/win32/run_window.h"

#include <string>

#include "control/win32/hand_over.h"
#include "key_injection/module1.h"
#include "runtime/fatal.h"
#include "runtime/trace.h"

namespace tollmere::app {

namespace {

namespace rt = tollmere::runtime;
using window::win32::Form1;

void ReleaseHeldKeys() { key_injection::TheModule1().ReleaseHeldKeys(); }

void ShowFatalMessage(HWND owner, const rt::Error& error) {
  const std::wstring text = L"Tollmere has to stop.\n\n" +
                            window::win32::Widen(rt::Describe(error)) +
                            L"\n\nNo key is left held down.";
  MessageBoxW(IsWindowVisible(owner) ? owner : nullptr, text.c_str(), L"Tollmere",
              MB_OK | MB_ICONERROR);
}

// A crash of our own: the keys go up before Windows ends the process.
LONG WINAPI ReleaseOnCrash(EXCEPTION_POINTERS*) {
  ReleaseHeldKeys();
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

int RunWindow(HINSTANCE instance, int show_command, bool load_keystroke,
              const std::function<void(Form1&, const MessageLoop& loop)>& with_window) {
  SetUnhandledExceptionFilter(ReleaseOnCrash);
  const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  // The manifest makes the program DPI-aware: lengths follow the monitor's
  // DPI rather than being scaled up as a bitmap.
  HDC screen = GetDC(nullptr);
  const int dpi_x = GetDeviceCaps(screen, LOGPIXELSX);
  const int dpi_y = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);

  Form1* form = nullptr;
  int fatal_status = 0;
  rt::SetFatalPolicy({
      .cleanup =
          [&form] {
            if (form != nullptr) form->StopEverything();
            ReleaseHeldKeys();
          },
      .report =
          [&form](const rt::Error& error) {
            ShowFatalMessage(form ? form->Window() : nullptr, error);
          },
      .exit =
          [&fatal_status](int status) {
            fatal_status = status;
            PostQuitMessage(status);
          },
  });

  int status = 0;
  rt::RunHandler([&] {
    Form1 the_form(instance, control::kWindowClass, dpi_x, dpi_y);
    form = &the_form;
    the_form.FitToMonitor();
    // The policy must not reach a form that is gone, however this scope ends.
    struct Forget {
      Form1*& form;
      ~Forget() { form = nullptr; }
    } forget{form};
    if (load_keystroke) {
      rt::RunHandler([&the_form] { the_form.Form_Load(); });
    } else {
      rt::Trace("load-keystroke-skipped");
    }
    if (fatal_status == 0) {
      the_form.Show(show_command);
      with_window(the_form, [&the_form, &status] {
        // Waits on the window's timers as well as for messages: their ticks
        // run here, on time, rather than as WM_TIMER in steps of the system
        // clock's tick.
        window::win32::TimerQueue& timers = the_form.Timers();
        for (;;) {
          timers.Wait();
          MSG msg;
          while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
              status = static_cast<int>(msg.wParam);
              return;
            }
            // Tollmere's own keystrokes never edit the box: a held digit
            // would repeat into the interval of the very hold that sends it.
            if (the_form.OwnKeystrokeInBox(msg)) continue;
            // Tab and Shift+Tab between the box and the button.
            if (!IsDialogMessageW(the_form.Window(), &msg)) {
              TranslateMessage(&msg);
              DispatchMessageW(&msg);
            }
            // A tick falling due while messages keep coming is not put off.
            timers.RunDue();
          }
        }
      });
    }
    ReleaseHeldKeys();
  });
  ReleaseHeldKeys();
  if (com) CoUninitialize();
  return fatal_status != 0 ? fatal_status : status;
}

}  // namespace tollmere::app
