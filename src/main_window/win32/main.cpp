#include <windows.h>

#include "key_injection/keybd_event_backend.h"
#include "key_injection/module1.h"
#include "main_window/win32/form1_win32.h"
#include "runtime/fatal.h"

namespace {

namespace mw = tollmere::main_window;
namespace ki = tollmere::key_injection;
namespace rt = tollmere::runtime;

void ReleaseHeldKeys() { ki::TheModule1().ReleaseHeldKeys(); }

void ShowFatalMessage(HWND owner, const rt::Error& error) {
  const std::wstring text = L"Tollmere has to stop.\n\n" + mw::Widen(rt::Describe(error)) +
                            L"\n\nNo key is left held down.";
  MessageBoxW(IsWindowVisible(owner) ? owner : nullptr, text.c_str(), L"Tollmere",
              MB_OK | MB_ICONERROR);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command) {
  // Lengths follow the system DPI rather than being scaled up as a bitmap.
  SetProcessDPIAware();
  HDC screen = GetDC(nullptr);
  const int dpi_x = GetDeviceCaps(screen, LOGPIXELSX);
  const int dpi_y = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);

  ki::InstallModule1([] { return ki::OpenKeybdEventBackend(); });

  mw::Form1* form = nullptr;
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
    mw::Form1 the_form(instance, dpi_x, dpi_y);
    form = &the_form;
    // The policy must not reach a form that is gone, however this scope ends.
    struct Forget {
      mw::Form1*& form;
      ~Forget() { form = nullptr; }
    } forget{form};
    rt::RunHandler([&the_form] { the_form.Form_Load(); });
    if (fatal_status == 0) {
      the_form.Show(show_command);
      MSG msg;
      while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // Tab and Shift+Tab between the box and the button.
        if (IsDialogMessageW(the_form.Window(), &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      status = static_cast<int>(msg.wParam);
    }
    ReleaseHeldKeys();
  });
  ReleaseHeldKeys();
  return fatal_status != 0 ? fatal_status : status;
}
