#include "app/win32/console.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "key_injection/module1.h"
#include "runtime/trace.h"
#include "window/win32/dialog_template.h"
#include "window/win32/form1.h"

namespace tollmere::app {

namespace {

using window::win32::Narrow;
using window::win32::Widen;

bool LeadsSomewhere(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// Attached to the console of the prompt that started it, the window would
// end on a Ctrl+C or Ctrl+Break typed there for another program; it goes
// on, and its hold puts the key up as always. Closing the console, logging
// off or shutting down end the process once this returns: keys up first.
BOOL WINAPI ReleaseOnConsoleEnd(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  key_injection::TheModule1().ReleaseHeldKeys();
  return FALSE;
}

bool AttachToParentConsole() {
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return false;
  SetConsoleCtrlHandler(ReleaseOnConsoleEnd, TRUE);
  return true;
}

// Whether the console's cursor is past the start of a line, as after the
// prompt that a shell printed when it did not wait for this program.
bool MidLine(HANDLE console) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  return GetConsoleScreenBufferInfo(console, &info) && info.dwCursorPosition.X > 0;
}

constexpr int kTextBoxId = 100;
constexpr int kDialogFontPoints = 9;

// The text window's template, made in memory: a read-only box and OK. Their
// places are set when it opens, from the text's size.
std::vector<WORD> TextWindowTemplate() {
  using window::win32::DialogTemplate;
  return DialogTemplate(
      0, 100, 100, kDialogFontPoints,
      {{WS_TABSTOP | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL, 0, 0, 10,
        10, kTextBoxId, 0x0081, L""},
       {WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0, 10, 10, IDOK, 0x0080, L"OK"}});
}

// Sizes the box to the text in a fixed-pitch font, within the screen (the
// box scrolls the rest), puts OK below it and the window in the middle.
void LayOutTextWindow(HWND dialog, const wchar_t* text) {
  HWND box = GetDlgItem(dialog, kTextBoxId);
  HWND ok = GetDlgItem(dialog, IDOK);
  HDC dc = GetDC(dialog);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  HFONT font = CreateFontW(-MulDiv(kDialogFontPoints, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                           FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"Consolas");
  SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(font));
  SendMessageW(box, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  const HGDIOBJ old = SelectObject(dc, font);
  RECT need{};
  DrawTextW(dc, text, -1, &need, DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(dialog, dc);

  const auto px = [dpi](int at96) { return MulDiv(at96, dpi, 96); };
  RECT screen{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &screen, 0);
  const DWORD style = static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE));
  RECT frame{0, 0, 0, 0};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  const int margin = px(10);
  const int button_w = px(88);
  const int button_h = px(26);
  // The box's border, inner margins and scroll bar around the text.
  const int box_w = std::min<int>(
      need.right + 2 * metrics.tmAveCharWidth + GetSystemMetrics(SM_CXVSCROLL) + px(4),
      screen.right - screen.left - (frame.right - frame.left) - 2 * margin);
  const int box_h = std::min<int>(
      need.bottom + metrics.tmHeight / 2,
      screen.bottom - screen.top - (frame.bottom - frame.top) - 3 * margin - button_h);
  const int client_w = box_w + 2 * margin;
  const int client_h = box_h + 3 * margin + button_h;
  MoveWindow(box, margin, margin, box_w, box_h, FALSE);
  SetWindowTextW(box, text);
  PostMessageW(box, WM_VSCROLL, SB_TOP, 0);  // once the dialog has settled
  MoveWindow(ok, client_w - margin - button_w, 2 * margin + box_h, button_w, button_h, FALSE);
  const int outer_w = client_w + frame.right - frame.left;
  const int outer_h = client_h + frame.bottom - frame.top;
  SetWindowPos(dialog, nullptr, screen.left + (screen.right - screen.left - outer_w) / 2,
               screen.top + (screen.bottom - screen.top - outer_h) / 2, outer_w, outer_h,
               SWP_NOZORDER);
  SetFocus(ok);
}

INT_PTR CALLBACK TextWindowProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      LayOutTextWindow(dialog, reinterpret_cast<const wchar_t*>(lparam));
      return FALSE;  // the focus is set: on OK
    case WM_COMMAND:
      // Enter is OK, Esc and the close box IDCANCEL.
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) EndDialog(dialog, 0);
      return TRUE;
    case WM_DESTROY:
      DeleteObject(reinterpret_cast<HGDIOBJ>(GetWindowLongPtrW(dialog, DWLP_USER)));
      return FALSE;
    default: return FALSE;
  }
}

void ShowTextWindow(const std::string& text) {
  std::wstring lines;  // the box breaks lines at CR LF only
  for (const wchar_t c : Widen(text)) {
    if (c == L'\n') lines += L'\r';
    lines += c;
  }
  const std::vector<WORD> dialog = TextWindowTemplate();
  DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                          reinterpret_cast<const DLGTEMPLATE*>(dialog.data()), nullptr,
                          TextWindowProc, reinterpret_cast<LPARAM>(lines.c_str()));
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
    out = AttachToParentConsole() ? GetStdHandle(which) : nullptr;
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
      out = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                        nullptr);
    }
  }
  if (out != nullptr && out != INVALID_HANDLE_VALUE) {
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
      const std::wstring wide = Widen((MidLine(out) ? "\n" : "") + text);
      WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
      WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
    return;
  }
  if (otherwise == Otherwise::kSayNothing) return;
  if (otherwise == Otherwise::kTextWindow) return ShowTextWindow(text);
  MessageBoxW(nullptr, Widen(text).c_str(), L"Tollmere", MB_OK | MB_ICONINFORMATION);
}

void EnableTrace(bool on) {
  tollmere::runtime::EnableTrace(on);
  // Redirected, standard error works already: the C runtime took the handle
  // at start-up. Attached already (by Say) is as good as attaching now.
  if (!on || LeadsSomewhere(GetStdHandle(STD_ERROR_HANDLE))) return;
  if (!AttachToParentConsole() && GetLastError() != ERROR_ACCESS_DENIED) return;
  if (std::freopen("CONOUT$", "w", stderr) != nullptr) std::setvbuf(stderr, nullptr, _IONBF, 0);
}

}  // namespace tollmere::app
