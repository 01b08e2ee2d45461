#include "app/win32/console.h"

#include <windows.h>

#include <cstdio>

#include "runtime/trace.h"
#include "window/win32/form1.h"

namespace tollmere::app {

namespace {

using window::win32::Narrow;
using window::win32::Widen;

bool LeadsSomewhere(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

}  // namespace

std::vector<std::string> Arguments() {
  std::vector<std::string> out;
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (args == nullptr) return out;
  for (int i = 1; i < count; ++i) out.push_back(Narrow(args[i]));
  LocalFree(args);
  return out;
}

void Say(const std::string& text, bool error, Otherwise otherwise) {
  const DWORD which = error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE;
  HANDLE out = GetStdHandle(which);
  if (!LeadsSomewhere(out)) {
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
      const std::wstring wide = Widen("\n" + text);
      WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
      WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
    return;
  }
  if (otherwise == Otherwise::kSayNothing) return;
  MessageBoxW(nullptr, Widen(text).c_str(), L"Tollmere",
              MB_OK | (otherwise == Otherwise::kErrorBox ? MB_ICONERROR : MB_ICONINFORMATION));
}

void EnableTrace(bool on) {
  tollmere::runtime::EnableTrace(on);
  // Redirected, standard error works already: the C runtime took the handle
  // at start-up. Attached already (by Say) is as good as attaching now.
  if (!on || LeadsSomewhere(GetStdHandle(STD_ERROR_HANDLE))) return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED) return;
  if (std::freopen("CONOUT$", "w", stderr) != nullptr) std::setvbuf(stderr, nullptr, _IONBF, 0);
}

}  // namespace tollmere::app
