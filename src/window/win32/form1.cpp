#include "window/win32/form1.h"

#include <commctrl.h>
#include <initguid.h>  // the accessibility GUIDs, defined here
#include <oleacc.h>

#include "key_injection/module1.h"
#include "runtime/error.h"
#include "runtime/fatal.h"

namespace tollmere::main_window {

namespace hs = tollmere::hold_sequencer;
namespace rt = tollmere::runtime;

namespace {

constexpr wchar_t kClassName[] = L"TollmereForm1";
constexpr int kTxtIntervalId = 101;
constexpr int kCommand1Id = 102;
constexpr int kProblemId = 103;
constexpr int kNoticeId = 104;
constexpr int kTxtIntervalLabelId = 105;
constexpr UINT_PTR kTimer1Id = 1;
constexpr UINT_PTR kTimer2Id = 2;
constexpr int kHotkeyId = 1;

constexpr wchar_t kTxtIntervalName[] = L"Interval, ms";
constexpr wchar_t kTxtIntervalCue[] = L"interval, ms";
constexpr wchar_t kTxtIntervalTip[] =
    L"How long each half of the hold lasts, in milliseconds; the space bar is held for two of "
    L"them";
constexpr wchar_t kCommand1Tip[] =
    L"Count down 4 seconds, then hold the space bar in the focused window";

// hotkey_win32.h keeps its own copy of these to stay free of windows.h.
static_assert(kHotkeyAlt == MOD_ALT && kHotkeyControl == MOD_CONTROL && kHotkeyShift == MOD_SHIFT &&
              kHotkeyWin == MOD_WIN);
static_assert(VK_F1 == 0x70 && VK_F24 == 0x87 && VK_INSERT == 0x2D && VK_DELETE == 0x2E &&
              VK_HOME == 0x24 && VK_END == 0x23 && VK_PRIOR == 0x21 && VK_NEXT == 0x22 &&
              VK_UP == 0x26 && VK_DOWN == 0x28 && VK_LEFT == 0x25 && VK_RIGHT == 0x27 &&
              VK_PAUSE == 0x13 && VK_ESCAPE == 0x1B && VK_TAB == 0x09 && VK_RETURN == 0x0D &&
              VK_BACK == 0x08);
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

void RegisterFormClass(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExW(instance, kClassName, &wc)) return;
  // Form1 puts its own procedure in once the window exists.
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  // Resource 1 is the program's icon; a test binary has none and gets the default.
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
  if (RegisterClassExW(&wc) == 0) {
    throw rt::Error(rt::ErrorNumber::kInternal, "Cannot register the window class");
  }
}

HFONT GuiFont() { return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

}  // namespace

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

HWND FindForm1Window() { return FindWindowW(kClassName, nullptr); }

Form1::Form1(HINSTANCE instance, int dpi_x, int dpi_y) : dpi_y_(dpi_y), sequencer_(*this, *this) {
  const PixelRect client = ToPixels(kClientArea, dpi_x, dpi_y);
  const PixelRect box = ToPixels(kTxtInterval, dpi_x, dpi_y);
  const PixelRect button = ToPixels(kCommand1, dpi_x, dpi_y);
  client_width_ = client.width;
  client_height_ = client.height;

  RegisterFormClass(instance);
  RECT outer{0, 0, client_width_, client_height_};
  AdjustWindowRectEx(&outer, kStyle, FALSE, 0);
  window_ = CreateWindowExW(0, kClassName, L"Tollmere", kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                            outer.right - outer.left, outer.bottom - outer.top, nullptr, nullptr,
                            instance, nullptr);
  if (window_ == nullptr) throw rt::Error(rt::ErrorNumber::kInternal, "Cannot create the window");
  // From here on the window's messages come to Handle().
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Form1::WindowProc));

  const auto child = [&](const wchar_t* cls, const wchar_t* text, DWORD style, DWORD ex_style,
                         int id, int left, int top, int width, int height) {
    HWND h =
        CreateWindowExW(ex_style, cls, text, WS_CHILD | style, left, top, width, height, window_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    if (h == nullptr)
      throw rt::Error(rt::ErrorNumber::kInternal, "Cannot create the window's controls");
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(GuiFont()), FALSE);
    return h;
  };
  // Screen readers name an edit box by the static text just before it. The
  // window's look is fixed, so that label stays hidden: it is read, not seen.
  child(L"STATIC", kTxtIntervalName, SS_LEFT, 0, kTxtIntervalLabelId, box.x, box.y, box.width,
        box.height);
  // Created in tab order: the box first, then the button.
  txt_interval_ = child(L"EDIT", L"", WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE,
                        kTxtIntervalId, box.x, box.y, box.width, box.height);
  command1_ =
      child(L"BUTTON", Widen(hs::kIdleCaption).c_str(), WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0,
            kCommand1Id, button.x, button.y, button.width, button.height);
  // Room below the controls for a notice and a refused entry's reason; the
  // window grows to show them only while there are any.
  notice_ = child(L"STATIC", L"", SS_LEFT, 0, kNoticeId, box.x, client_height_,
                  client_width_ - 2 * box.x, 0);
  problem_ = child(L"STATIC", L"", SS_LEFT, 0, kProblemId, box.x, client_height_,
                   client_width_ - 2 * box.x, 0);
  last_focus_ = txt_interval_;
  AddHints(instance);

  timer2_.emplace(window_, kTimer2Id, 1000, false);
  timer1_.emplace(window_, kTimer1Id, 0, false);
  timer2_->SetOnTick([this] { rt::RunHandler([this] { sequencer_.Timer2_Timer(); }); });
  timer1_->SetOnTick([this] { rt::RunHandler([this] { sequencer_.Timer1_Timer(); }); });
}

Form1::~Form1() {
  timer1_.reset();
  timer2_.reset();
  if (hotkey_) UnregisterHotKey(window_, kHotkeyId);
  if (accessibility_ != nullptr) {
    const MSAAPROPID props[] = {PROPID_ACC_NAME, PROPID_ACC_DESCRIPTION};
    accessibility_->ClearHwndProps(txt_interval_, OBJID_CLIENT, CHILDID_SELF, props, 2);
    accessibility_->Release();
  }
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
}

void Form1::AddHints(HINSTANCE instance) {
  // Hints only: a system without them still has a working window, so
  // failures here are not errors.
  // Shown even while the box has the focus, as it has at start-up.
  SendMessageW(txt_interval_, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(kTxtIntervalCue));

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  tooltips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                              WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, instance, nullptr);
  if (tooltips_ != nullptr) {
    // Wrapped at the window's width rather than one long line.
    SendMessageW(tooltips_, TTM_SETMAXTIPWIDTH, 0, client_width_ * 3 / 2);
    for (const auto& [control, tip] :
         {std::pair{txt_interval_, kTxtIntervalTip}, std::pair{command1_, kCommand1Tip}}) {
      TOOLINFOW tool{};
      tool.cbSize = sizeof tool;
      tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
      tool.hwnd = window_;
      tool.uId = reinterpret_cast<UINT_PTR>(control);
      tool.lpszText = const_cast<wchar_t*>(tip);
      SendMessageW(tooltips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
  }

  // The name again as an annotation, the documented way, for a reader that
  // passes over hidden labels. Needs COM, which the program starts.
  if (SUCCEEDED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_IAccPropServices,
                                 reinterpret_cast<void**>(&accessibility_)))) {
    accessibility_->SetHwndPropStr(txt_interval_, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_NAME,
                                   const_cast<wchar_t*>(kTxtIntervalName));
    accessibility_->SetHwndPropStr(txt_interval_, OBJID_CLIENT, CHILDID_SELF,
                                   PROPID_ACC_DESCRIPTION, const_cast<wchar_t*>(kTxtIntervalTip));
  } else {
    accessibility_ = nullptr;
  }
}

void Form1::Form_Load() {
  PressKey(hs::kSpaceKey);
  // Completed at once: a key left down would stay down for whichever window
  // has the focus.
  ReleaseKey(hs::kSpaceKey);
}

void Form1::Show(int show_command) {
  // Activation puts the focus in the box (WM_ACTIVATE); a program started
  // not to be activated leaves the focus where it is.
  ShowWindow(window_, show_command);
  UpdateWindow(window_);
}

bool Form1::Start() {
  std::string refusal;
  if (!stopped_) rt::RunHandler([this, &refusal] { refusal = sequencer_.Start(); });
  return refusal.empty();
}

void Form1::Stop() {
  if (stopped_) return;
  rt::RunHandler([this] { sequencer_.Stop(); });
}

bool Form1::Toggle() {
  std::string refusal;
  if (!stopped_) rt::RunHandler([this, &refusal] { refusal = sequencer_.Toggle(); });
  return refusal.empty();
}

bool Form1::SetIntervalText(const std::string& text) {
  if (stopped_) return false;
  // EN_CHANGE runs txtInterval_Change as for typing.
  SetWindowTextW(txt_interval_, Widen(text).c_str());
  return (GetWindowLongW(problem_, GWL_STYLE) & WS_VISIBLE) == 0;
}

bool Form1::SetHotkey(const std::string& name) {
  const auto hotkey = ParseWin32Hotkey(name);
  if (stopped_ || !hotkey) return false;
  if (hotkey_) UnregisterHotKey(window_, kHotkeyId);
  // MOD_NOREPEAT: a key held down toggles once, not at every autorepeat.
  if (RegisterHotKey(window_, kHotkeyId, hotkey->modifiers | MOD_NOREPEAT, hotkey->virtual_key)) {
    hotkey_ = hotkey;
    ShowNotice("");
    return true;
  }
  const DWORD error = GetLastError();
  // The one there was stays.
  if (hotkey_ && !RegisterHotKey(window_, kHotkeyId, hotkey_->modifiers | MOD_NOREPEAT,
                                 hotkey_->virtual_key)) {
    hotkey_.reset();
  }
  ShowNotice(error == ERROR_HOTKEY_ALREADY_REGISTERED
                 ? "The hotkey " + name + " is taken by another program; Tollmere works without it."
                 : "The hotkey " + name + " cannot be used here (error " + std::to_string(error) +
                       "); Tollmere works without it.");
  return false;
}

std::intptr_t Form1::Perform(const Request& request) {
  switch (request.kind) {
    // A refused start shows why beside the box.
    case Request::Kind::kStart:
      if (!Start()) return kRequestRefused;
      break;
    case Request::Kind::kStop: Stop(); break;
    case Request::Kind::kToggle:
      if (!Toggle()) return kRequestRefused;
      break;
    case Request::Kind::kInterval:
      return SetIntervalText(request.text) ? kRequestDone : kRequestRefused;
    case Request::Kind::kHotkey: return SetHotkey(request.text) ? kRequestDone : kRequestRefused;
  }
  return stopped_ ? kRequestRefused : kRequestDone;
}

void Form1::StopEverything() {
  stopped_ = true;
  timer1_->SetEnabled(false);
  timer2_->SetEnabled(false);
  EnableWindow(window_, FALSE);
}

LRESULT CALLBACK Form1::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* form = reinterpret_cast<Form1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (form == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  return form->Handle(message, wparam, lparam);
}

LRESULT Form1::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wparam);
      const int code = HIWORD(wparam);
      if (id == kTxtIntervalId && code == EN_CHANGE) {
        rt::RunHandler([this] { sequencer_.txtInterval_Change(); });
      } else if (id == kCommand1Id && code == BN_CLICKED) {
        rt::RunHandler([this] { sequencer_.Command1_Click(); });
      }
      return 0;
    }
    case WM_TIMER:
      if (wparam == kTimer1Id) timer1_->OnWmTimer();
      if (wparam == kTimer2Id) timer2_->OnWmTimer();
      return 0;
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lparam) == problem_) {
        HDC dc = reinterpret_cast<HDC>(wparam);
        SetTextColor(dc, RGB(0xb0, 0x00, 0x20));
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
      }
      break;
    case WM_ACTIVATE:
      // The focus comes back to the control that had it, not to the frame.
      if (LOWORD(wparam) == WA_INACTIVE) {
        if (HWND focus = GetFocus(); focus != nullptr && IsChild(window_, focus))
          last_focus_ = focus;
      } else if (last_focus_ != nullptr) {
        SetFocus(last_focus_);
      }
      return 0;
    case WM_HOTKEY:
      if (wparam == kHotkeyId) Toggle();
      return 0;
    case WM_COPYDATA: {
      // Any process can send this: only a well-formed request is taken.
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
      if (data == nullptr || data->dwData != kRequestTag || data->lpData == nullptr ||
          data->cbData > kMaxRequestBytes) {
        return kRequestIgnored;
      }
      const auto request = DecodeRequest({static_cast<const char*>(data->lpData), data->cbData});
      return request ? Perform(*request) : kRequestIgnored;
    }
    case WM_ENDSESSION:
      // Windows ends the process after this returns: no key may stay down.
      if (wparam) key_injection::TheModule1().ReleaseHeldKeys();
      return 0;
    case WM_CLOSE:
      // Before the window goes: hiding it can take a while (Wine waits for
      // the window manager), and the key must not stay down meanwhile.
      timer1_->SetEnabled(false);
      timer2_->SetEnabled(false);
      key_injection::TheModule1().ReleaseHeldKeys();
      break;
    case WM_DESTROY:
      if (hotkey_) UnregisterHotKey(window_, kHotkeyId);
      hotkey_.reset();
      timer1_->SetEnabled(false);
      timer2_->SetEnabled(false);
      key_injection::TheModule1().ReleaseHeldKeys();
      PostQuitMessage(0);
      return 0;
    default: break;
  }
  return DefWindowProcW(window_, message, wparam, lparam);
}

void Form1::ResizeClient(int height) {
  RECT outer{0, 0, client_width_, height};
  AdjustWindowRectEx(&outer, kStyle, FALSE, 0);
  SetWindowPos(window_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form1::SetCommand1Caption(const std::string& caption) {
  SetWindowTextW(command1_, Widen(caption).c_str());
}

void Form1::SetTimerEnabled(hs::TimerId timer, bool enabled) {
  (timer == hs::TimerId::kTimer1 ? *timer1_ : *timer2_).SetEnabled(enabled);
}

void Form1::SetTimer1Interval(std::int32_t interval_ms) { timer1_->SetInterval(interval_ms); }

std::string Form1::TxtIntervalText() {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(txt_interval_)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      GetWindowTextW(txt_interval_, text.data(), static_cast<int>(text.size()))));
  return Narrow(text);
}

void Form1::ShowIntervalProblem(const std::string& message) { ShowMessage(problem_, message); }

void Form1::ShowNotice(const std::string& message) { ShowMessage(notice_, message); }

void Form1::ShowMessage(HWND label, const std::string& message) {
  // Its own flag: IsWindowVisible is false too while the window is hidden.
  const bool shown = (GetWindowLongW(label, GWL_STYLE) & WS_VISIBLE) != 0;
  if (message.empty() && !shown) return;
  SetWindowTextW(label, Widen(message).c_str());
  ShowWindow(label, message.empty() ? SW_HIDE : SW_SHOWNA);
  LayOutMessages();
}

void Form1::LayOutMessages() {
  // The shown messages stacked below the controls, the notice first; the
  // window is as tall as they need.
  const int gap = TwipsToPixels(kMessageGapTwips, dpi_y_);
  int bottom = client_height_;
  for (HWND label : {notice_, problem_}) {
    if ((GetWindowLongW(label, GWL_STYLE) & WS_VISIBLE) == 0) continue;
    const int length = GetWindowTextLengthW(label);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(label, text.data(), length + 1)));
    RECT place{};
    GetWindowRect(label, &place);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&place), 2);
    RECT measure{0, 0, place.right - place.left, 0};
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, GuiFont());
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measure,
              DT_CALCRECT | DT_WORDBREAK);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    const int height = measure.bottom - measure.top;
    SetWindowPos(label, nullptr, place.left, bottom, place.right - place.left, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    bottom += height + gap;
  }
  const int grown_by = bottom - client_height_;
  if (grown_by != grown_by_) {
    grown_by_ = grown_by;
    ResizeClient(client_height_ + grown_by_);
  }
}

void Form1::PressKey(const std::int32_t& key_code) { key_injection::PressKey(key_code); }

void Form1::ReleaseKey(const std::int32_t& key_code) { key_injection::ReleaseKey(key_code); }

}  // namespace tollmere::main_window
