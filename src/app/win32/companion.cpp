// tollmere.com, the console companion of tollmere.exe. cmd and PowerShell
// run a .com before an .exe of the same name (PATHEXT), and wait for a
// console program where they would not for a window program: so
// `tollmere --stop` in a script waits for the answer, its messages reach the
// console or the pipe, and %ERRORLEVEL% or $LASTEXITCODE is its status.
// It starts tollmere.exe from its own folder with the same arguments and
// standard handles, and returns its exit status.
#include <windows.h>

#include <string>

namespace {

// As a shell reports a program ended by Ctrl+C.
constexpr DWORD kInterrupted = 130;
HANDLE g_interrupted = nullptr;

// Ctrl+C and Ctrl+Break end the wait, not tollmere.exe: its window goes on,
// and puts its key up itself when its hold ends or it closes.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  SetEvent(g_interrupted);
  return TRUE;
}

// The command line after the program's name, as typed: parsed arguments
// joined again would be quoted differently. The name ends as the C runtime
// ends it: at the closing quote, or else at the first blank.
const wchar_t* ArgumentsOf(const wchar_t* line) {
  if (*line == L'"') {
    do ++line;
    while (*line != L'\0' && *line != L'"');
    if (*line == L'"') ++line;
  } else {
    while (*line != L'\0' && *line != L' ' && *line != L'\t') ++line;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  return line;
}

std::wstring WindowProgram() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return L"tollmere.exe";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L"\\/") + 1) + L"tollmere.exe";
}

HANDLE Inherited(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  return handle;
}

void SayError(const std::wstring& text) {
  const std::wstring line = L"tollmere: " + text + L"\n";
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD written = 0;
  if (WriteConsoleW(err, line.data(), static_cast<DWORD>(line.size()), &written, nullptr)) return;
  // Redirected: UTF-8, as tollmere.exe writes.
  const int size = static_cast<int>(line.size());
  std::string bytes(static_cast<std::size_t>(size) * 3, '\0');
  const int n = WideCharToMultiByte(CP_UTF8, 0, line.data(), size, bytes.data(),
                                    static_cast<int>(bytes.size()), nullptr, nullptr);
  WriteFile(err, bytes.data(), static_cast<DWORD>(n > 0 ? n : 0), &written, nullptr);
}

}  // namespace

int main() {
  g_interrupted = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);

  const std::wstring program = WindowProgram();
  std::wstring command = L"\"" + program + L"\" " + ArgumentsOf(GetCommandLineW());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = Inherited(STD_INPUT_HANDLE);
  startup.hStdOutput = Inherited(STD_OUTPUT_HANDLE);
  startup.hStdError = Inherited(STD_ERROR_HANDLE);
  PROCESS_INFORMATION child{};
  if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                      nullptr, nullptr, &startup, &child)) {
    SayError(L"cannot start " + program + L" (error " + std::to_wstring(GetLastError()) + L")");
    return 1;
  }
  // The user started this program, so the window it brings forward may
  // come to the front.
  AllowSetForegroundWindow(child.dwProcessId);
  ResumeThread(child.hThread);
  CloseHandle(child.hThread);

  const HANDLE either[] = {child.hProcess, g_interrupted};
  if (WaitForMultipleObjects(2, either, FALSE, INFINITE) != WAIT_OBJECT_0) {
    SayError(L"no longer waiting; the Tollmere window stays open");
    return kInterrupted;
  }
  DWORD status = 1;
  GetExitCodeProcess(child.hProcess, &status);
  // Scripts are promised 0, 1 or 2; anything else is tollmere.exe ended by
  // something outside it.
  if (status > 2) {
    SayError(L"tollmere.exe ended unexpectedly (status " + std::to_wstring(status) + L")");
    return 1;
  }
  return static_cast<int>(status);
}
