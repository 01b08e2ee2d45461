#include <windows.h>

#include <string>
#include <vector>

#include "key_injection/backends/keybd_event_backend.h"
#include "key_injection/module1.h"
#include "control/command_line.h"
#include "window/win32/form1.h"
#include "runtime/fatal.h"
#include "tollmere_version.h"

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

std::vector<std::string> Arguments() {
  std::vector<std::string> out;
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (args == nullptr) return out;
  for (int i = 1; i < count; ++i) out.push_back(mw::Narrow(args[i]));
  LocalFree(args);
  return out;
}

enum class Otherwise { kSayNothing, kMessageBox, kErrorBox };

// A window program has no console of its own: the text goes to standard
// output or error when they lead somewhere (redirected, or the console of the
// command prompt that started it), else to a message box if asked for.
void Say(const std::string& text, bool error, Otherwise otherwise) {
  const DWORD which = error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
  HANDLE out = GetStdHandle(which);
  if (out == nullptr || out == INVALID_HANDLE_VALUE || GetFileType(out) == FILE_TYPE_UNKNOWN) {
    out = AttachConsole(ATTACH_PARENT_PROCESS) ? GetStdHandle(which) : nullptr;
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
      out = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                        nullptr);
    }
  }
  if (out != nullptr && out != INVALID_HANDLE_VALUE) {
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
      // The console prompt was printed already: start on a line of our own.
      const std::wstring wide = mw::Widen("\n" + text);
      WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
      WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
    return;
  }
  if (otherwise == Otherwise::kSayNothing) return;
  MessageBoxW(nullptr, mw::Widen(text).c_str(), L"Tollmere",
              MB_OK | (otherwise == Otherwise::kErrorBox ? MB_ICONERROR : MB_ICONINFORMATION));
}

// Hands the requests to the Tollmere window already open; false when there is none.
bool SendToRunningWindow(const std::vector<std::string>& requests, int& status) {
  HWND window = mw::FindForm1Window();
  if (window == nullptr) return false;
  status = 0;
  for (const std::string& request : requests) {
    COPYDATASTRUCT data{};
    data.dwData = mw::kRequestTag;
    data.cbData = static_cast<DWORD>(request.size());
    data.lpData = const_cast<char*>(request.data());
    DWORD_PTR answer = mw::kRequestIgnored;
    // A window that hangs must not hang this command too.
    if (SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                            SMTO_ABORTIFHUNG | SMTO_BLOCK, 5000, &answer) == 0) {
      // Closed just now: then this one opens a window of its own.
      if (&request == &requests.front() && !IsWindow(window)) return false;
      Say("tollmere: the open Tollmere window does not answer\n", true, Otherwise::kSayNothing);
      status = 1;
      return true;
    }
    if (static_cast<std::intptr_t>(answer) != mw::kRequestDone) {
      // A request is its option without the dashes.
      Say("tollmere: the open Tollmere window refused --" + request + "; it shows why\n", true,
          Otherwise::kSayNothing);
      status = 1;
    }
  }
  return true;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command) {
  const mw::CommandLine command_line = mw::ParseCommandLine(Arguments());
  if (!command_line.error.empty()) {
    Say("tollmere: " + command_line.error + "\n" + mw::Usage(), true, Otherwise::kErrorBox);
    return 2;
  }
  if (command_line.help) {
    Say(mw::Usage(), false, Otherwise::kMessageBox);
    return 0;
  }
  if (command_line.version) {
    Say("tollmere " TOLLMERE_VERSION "\n", false, Otherwise::kMessageBox);
    return 0;
  }
  // A plain start opens a window, as it always has; requests go to the window
  // already open, if there is one.
  const std::vector<std::string> requests = mw::EncodeRequests(command_line);
  if (!requests.empty()) {
    int status = 0;
    if (SendToRunningWindow(requests, status)) return status;
    if (command_line.action == mw::Action::kStop) {
      Say("tollmere: no Tollmere window is open; nothing to stop\n", false, Otherwise::kSayNothing);
      return 0;
    }
  }

  // For the accessibility annotations on the window's controls.
  const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
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
      // The command line's requests, as another process's would be.
      for (const std::string& bytes : requests) {
        if (const auto request = mw::DecodeRequest(bytes)) the_form.Perform(*request);
      }
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
  if (com) CoUninitialize();
  return fatal_status != 0 ? fatal_status : status;
}
