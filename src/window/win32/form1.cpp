#include "window/win32/form1.h"

#include <commctrl.h>
#include <initguid.h>  // the accessibility GUIDs, defined here
#include <oleacc.h>
#include <windowsx.h>

#include "key_injection/backends/foreground_reach.h"
#include "key_injection/module1.h"
#include "runtime/error.h"
#include "runtime/fatal.h"
#include "runtime/trace.h"
#include "window/win32/settings_menu.h"

namespace tollmere::window::win32 {

namespace hs = tollmere::hold_sequencer;
namespace rt = tollmere::runtime;
// Shared with the Qt window, under its older namespace.
using tollmere::runtime::Quoted;
using tollmere::runtime::Trace;
using tollmere::window::kClientArea;
using tollmere::window::kCommand1;
using tollmere::window::kMessageGapTwips;
using tollmere::window::kTxtInterval;
using tollmere::window::PixelRect;
using tollmere::window::ToPixels;
using tollmere::window::TwipsToPixels;

namespace {

constexpr const char* kClosing = "Tollmere is closing after an error.";
constexpr int kTxtIntervalId = 101;
constexpr int kCommand1Id = 102;
constexpr int kProblemId = 103;
constexpr int kNoticeId = 104;
constexpr int kTxtIntervalLabelId = 105;
constexpr UINT_PTR kTimer1Id = 1;
constexpr UINT_PTR kTimer2Id = 2;

constexpr wchar_t kTxtIntervalName[] = L"Interval, ms";
constexpr wchar_t kTxtIntervalCue[] = L"interval, ms";
constexpr wchar_t kTxtIntervalTip[] =
    L"How long each half of the hold lasts, in milliseconds; the space bar is held for two of "
    L"them";

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

void RegisterFormClass(HINSTANCE instance, const wchar_t* class_name) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExW(instance, class_name, &wc)) return;
  // Form1 puts its own procedure in once the window exists.
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = class_name;
  // Resource 1 is the program's icon; a test binary has none and gets the default.
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
  if (RegisterClassExW(&wc) == 0) {
    throw rt::Error(rt::ErrorNumber::kInternal, "Cannot register the window class");
  }
}

// Windows 10 1607 and later give each monitor its own dpi; before, the
// system's holds for every window, and these answer 0 and FALSE.
UINT WINAPI NoDpiForWindow(HWND) { return 0; }
BOOL WINAPI NoAdjustForDpi(RECT*, DWORD, BOOL, DWORD, UINT) { return FALSE; }

struct PerMonitorDpiFunctions {
  UINT(WINAPI* for_window)(HWND) = NoDpiForWindow;
  BOOL(WINAPI* adjust_window_rect)(RECT*, DWORD, BOOL, DWORD, UINT) = NoAdjustForDpi;
};

const PerMonitorDpiFunctions& PerMonitorDpi() {
  static const PerMonitorDpiFunctions functions = [] {
    PerMonitorDpiFunctions f;
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (FARPROC p = GetProcAddress(user32, "GetDpiForWindow"))
      f.for_window = reinterpret_cast<decltype(f.for_window)>(reinterpret_cast<void*>(p));
    if (FARPROC p = GetProcAddress(user32, "AdjustWindowRectExForDpi"))
      f.adjust_window_rect =
          reinterpret_cast<decltype(f.adjust_window_rect)>(reinterpret_cast<void*>(p));
    return f;
  }();
  return functions;
}

// Its own flag: IsWindowVisible is false too while the window is hidden.
bool Shown(HWND control) { return (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0; }

}  // namespace

Form1::Form1(HINSTANCE instance, const wchar_t* class_name, int dpi_x, int dpi_y,
             TimerQueue::Options timers)
    : timers_(std::move(timers)), sequencer_(*this, *this) {
  RegisterFormClass(instance, class_name);
  // Sized by ApplyDpi, once the controls exist.
  window_ = CreateWindowExW(0, class_name, L"Tollmere", kStyle, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0,
                            nullptr, nullptr, instance, nullptr);
  if (window_ == nullptr) throw rt::Error(rt::ErrorNumber::kInternal, "Cannot create the window");
  // From here on the window's messages come to Handle().
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Form1::WindowProc));

  const auto child = [&](const wchar_t* cls, const wchar_t* text, DWORD style, DWORD ex_style,
                         int id) {
    HWND h = CreateWindowExW(ex_style, cls, text, WS_CHILD | style, 0, 0, 0, 0, window_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    if (h == nullptr)
      throw rt::Error(rt::ErrorNumber::kInternal, "Cannot create the window's controls");
    return h;
  };
  // Screen readers name an edit box by the static text just before it. The
  // window's look is fixed, so that label stays hidden: it is read, not seen.
  label_ = child(L"STATIC", kTxtIntervalName, SS_LEFT, 0, kTxtIntervalLabelId);
  // Created in tab order: the box first, then the button.
  txt_interval_ = child(L"EDIT", L"", WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE,
                        kTxtIntervalId);
  command1_ = child(L"BUTTON", Widen(hs::kIdleCaption).c_str(),
                    WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, kCommand1Id);
  // Room below the controls for a notice and a refused entry's reason; the
  // window grows to show them only while there are any.
  notice_ = child(L"STATIC", L"", SS_LEFT, 0, kNoticeId);
  problem_ = child(L"STATIC", L"", SS_LEFT, 0, kProblemId);
  last_focus_ = txt_interval_;
  AddHints(instance);
  DescribeCommand1();
  ApplyDpi(dpi_x, dpi_y);

  timer2_.emplace(window_, kTimer2Id, timers_, 1000, false);
  timer1_.emplace(window_, kTimer1Id, timers_, 0, false);
  timer2_->SetOnTick([this] { rt::RunHandler([this] { sequencer_.Timer2_Timer(); }); });
  timer1_->SetOnTick([this] { rt::RunHandler([this] { sequencer_.Timer1_Timer(); }); });
}

void Form1::FitToMonitor() {
  const int dpi = static_cast<int>(PerMonitorDpi().for_window(window_));
  if (dpi > 0 && (dpi != dpi_x_ || dpi != dpi_y_)) ApplyDpi(dpi, dpi);
}

void Form1::ApplyDpi(int dpi_x, int dpi_y) {
  dpi_x_ = dpi_x;
  dpi_y_ = dpi_y;
  const PixelRect client = ToPixels(kClientArea, dpi_x, dpi_y);
  const PixelRect box = ToPixels(kTxtInterval, dpi_x, dpi_y);
  const PixelRect button = ToPixels(kCommand1, dpi_x, dpi_y);
  client_width_ = client.width;
  client_height_ = client.height;

  // The dialog font, at this dpi rather than the system's.
  LOGFONTW face{};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof face, &face);
  HDC screen = GetDC(nullptr);
  face.lfHeight = MulDiv(face.lfHeight, dpi_y, GetDeviceCaps(screen, LOGPIXELSY));
  ReleaseDC(nullptr, screen);
  HFONT font = CreateFontIndirectW(&face);
  if (font != nullptr) {
    for (HWND control : {label_, txt_interval_, command1_, notice_, problem_})
      SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (font_ != nullptr) DeleteObject(font_);
    font_ = font;
  }

  const auto place = [](HWND control, int x, int y, int width, int height) {
    SetWindowPos(control, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(control, nullptr, TRUE);
  };
  place(label_, box.x, box.y, box.width, box.height);
  place(txt_interval_, box.x, box.y, box.width, box.height);
  place(command1_, button.x, button.y, button.width, button.height);
  // The messages' heights come from LayOutMessages.
  for (HWND label : {notice_, problem_})
    place(label, box.x, client_height_, client_width_ - 2 * box.x, 0);
  // Wrapped at the window's width rather than one long line.
  if (tooltips_ != nullptr) SendMessageW(tooltips_, TTM_SETMAXTIPWIDTH, 0, client_width_ * 3 / 2);
  resized_ = false;
  LayOutMessages();
}

Form1::~Form1() {
  timer1_.reset();
  timer2_.reset();
  if (accessibility_ != nullptr) {
    const MSAAPROPID props[] = {PROPID_ACC_NAME, PROPID_ACC_DESCRIPTION};
    accessibility_->ClearHwndProps(txt_interval_, OBJID_CLIENT, CHILDID_SELF, props, 2);
    accessibility_->ClearHwndProps(command1_, OBJID_CLIENT, CHILDID_SELF, props + 1, 1);
    accessibility_->Release();
  }
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
  if (font_ != nullptr) DeleteObject(font_);
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
    for (const auto& [control, tip] :
         {std::pair{txt_interval_, kTxtIntervalTip}, std::pair{command1_, L""}}) {
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
  if (const auto* backend = key_injection::TheModule1().Backend()) {
    Trace("backend " + Quoted(std::string(backend->Name())));
  }
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

std::string Form1::RunRequest(const std::function<std::string()>& request) {
  if (stopped_) return kClosing;
  std::string refusal;
  rt::RunHandler([&request, &refusal] { refusal = request(); });
  // An error in the handler ends the program: what was asked is not done.
  return stopped_ ? kClosing : refusal;
}

std::string Form1::Start() {
  return RunRequest([this] { return sequencer_.Start(); });
}

std::string Form1::Stop() {
  return RunRequest([this] {
    sequencer_.Stop();
    return std::string();
  });
}

std::string Form1::Toggle() {
  return RunRequest([this] { return sequencer_.Toggle(); });
}

bool Form1::OwnKeystrokeInBox(const MSG& msg) const {
  const bool key = msg.message == WM_KEYDOWN || msg.message == WM_KEYUP ||
                   msg.message == WM_SYSKEYDOWN || msg.message == WM_SYSKEYUP;
  return key && msg.hwnd == txt_interval_ &&
         key_injection::TheModule1().IsHeld(static_cast<std::uint8_t>(msg.wParam));
}

std::string Form1::SetIntervalText(const std::string& text) {
  if (stopped_) return kClosing;
  if (std::string refusal = sequencer_.RefuseIntervalRequest(text); !refusal.empty())
    return refusal;
  // EN_CHANGE runs txtInterval_Change as for typing.
  SetWindowTextW(txt_interval_, Widen(text).c_str());
  if (stopped_) return kClosing;
  if (!Shown(problem_)) return {};
  std::wstring problem(static_cast<std::size_t>(GetWindowTextLengthW(problem_)) + 1, L'\0');
  problem.resize(static_cast<std::size_t>(
      GetWindowTextW(problem_, problem.data(), static_cast<int>(problem.size()))));
  return Narrow(problem);
}

std::string Form1::SetSetting(const std::string& name, const std::string& text) {
  if (stopped_) return kClosing;
  const std::string refusal = sequencer_.SetSetting(name, text);
  if (!refusal.empty()) return Refuse(refusal);
  ShowNotice("settings", "");
  DescribeCommand1();
  Trace("setting " + name + " " + Quoted(Setting(name)));
  return {};
}

std::string Form1::Setting(const std::string& name) const {
  return hs::SettingText(sequencer_.Settings(), name);
}

std::string Form1::Refuse(const std::string& why) {
  ShowNotice("settings", why);
  return why;
}

void Form1::DescribeCommand1() {
  const std::wstring what = Widen(hs::Describe(sequencer_.Settings()));
  command1_tip_ = what + L" Right-click the window to change this.";
  if (tooltips_ != nullptr) {
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = window_;
    tool.uId = reinterpret_cast<UINT_PTR>(command1_);
    tool.lpszText = command1_tip_.data();
    SendMessageW(tooltips_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
  }
  if (accessibility_ != nullptr) {
    accessibility_->SetHwndPropStr(command1_, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_DESCRIPTION,
                                   what.c_str());
  }
}

HMENU Form1::SettingsMenu() const {
  return BuildSettingsMenu([this](const std::string& name) { return Setting(name); }, Busy());
}

void Form1::OpenSettingsMenu(POINT where, bool from_keyboard) {
  if (from_keyboard) {
    // Below the control that has the focus, as the keyboard has no place.
    HWND focus = GetFocus();
    RECT place{};
    GetWindowRect(focus != nullptr && IsChild(window_, focus) ? focus : command1_, &place);
    where = {place.left, place.bottom};
  }
  HMENU menu = SettingsMenu();
  Trace("menu");
  // The choice comes back as WM_COMMAND.
  TrackPopupMenuEx(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON, where.x, where.y, window_,
                   nullptr);
  DestroyMenu(menu);
}

bool Form1::ChooseMenuItem(int id) {
  if (id == kStopNowId) {
    Stop();
    return true;
  }
  const std::optional<MenuPick> choice = MenuPickFor(id);
  if (!choice) return false;
  rt::RunHandler([this, choice] {
    std::optional<std::string> text;
    if (!choice->text.empty()) {
      text = std::string(choice->text);
    } else {
      text = AskForSetting(window_, choice->name, Setting(std::string(choice->name)));
    }
    if (!text) return;
    // A refusal is shown in the window by whoever refused.
    const std::string name(choice->name);
    if (setting_chosen_) {
      setting_chosen_(name, *text);
    } else {
      SetSetting(name, *text);
    }
  });
  return true;
}

void Form1::Activate(const std::string&) {
  if (IsIconic(window_)) ShowWindow(window_, SW_RESTORE);
  // Allowed when the process that asked had the foreground and passed it on.
  SetForegroundWindow(window_);
  Trace("activate");
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
  // A key-up due goes out before a request from another program is read:
  // a flood of them must not put it off.
  if (message == WM_COPYDATA) Timers().RunDue();
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wparam);
      const int code = HIWORD(wparam);
      // From the context menu: no control, code 0.
      if (lparam == 0 && code == 0 && ChooseMenuItem(id)) return 0;
      if (id == kTxtIntervalId && code == EN_CHANGE) {
        rt::RunHandler([this] { sequencer_.txtInterval_Change(); });
      } else if (id == kCommand1Id && code == BN_CLICKED) {
        // The countdown's zero, for whoever times its ticks from the trace.
        Trace("click");
        rt::RunHandler([this] { sequencer_.Command1_Click(); });
      }
      return 0;
    }
    case WM_CONTEXTMENU: {
      // The box shows its own menu (cut, copy, paste) and passes nothing
      // up; the button and the window's background show the settings.
      // Shift+F10 and the Menu key come with no place.
      const POINT where{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
      const bool from_keyboard = where.x == -1 && where.y == -1;
      if (reinterpret_cast<HWND>(wparam) == txt_interval_) break;
      // On the frame: the window's own menu.
      if (!from_keyboard && SendMessageW(window_, WM_NCHITTEST, 0, lparam) != HTCLIENT) break;
      OpenSettingsMenu(where, from_keyboard);
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
    case WM_PAINT:
      // The moment the user first sees the window: the end of start-up, for
      // whoever times it from the trace.
      if (!painted_) {
        painted_ = true;
        Trace("first-paint");
      }
      break;
    case WM_DPICHANGED: {
      // Moved to a monitor of another dpi: the same twips at the new dpi.
      // Any program may post this message, so its dpi is checked, and the
      // rectangle Windows suggests is not read: lParam may point anywhere.
      const int dpi_x = LOWORD(wparam), dpi_y = HIWORD(wparam);
      if (dpi_x >= 48 && dpi_x <= 1536 && dpi_y >= 48 && dpi_y <= 1536) ApplyDpi(dpi_x, dpi_y);
      return 0;
    }
    case WM_ENDSESSION:
      // Windows ends the process after this returns: no key may stay down.
      // Stopped as a stop would, so that one another program sends ends
      // the hold once, with no second key-up when it would have ended.
      if (wparam) {
        Stop();
        key_injection::TheModule1().ReleaseHeldKeys();
      }
      return 0;
    case WM_CLOSE:
      // Before the window goes: hiding it can take a while (Wine waits for
      // the window manager), and the key must not stay down meanwhile.
      timer1_->SetEnabled(false);
      timer2_->SetEnabled(false);
      key_injection::TheModule1().ReleaseHeldKeys();
      break;
    case WM_DESTROY:
      timer1_->SetEnabled(false);
      timer2_->SetEnabled(false);
      key_injection::TheModule1().ReleaseHeldKeys();
      PostQuitMessage(0);
      return 0;
    default:
      for (const MessageHook& hook : hooks_) {
        if (const std::optional<LRESULT> answer = hook(message, wparam, lparam)) return *answer;
      }
      break;
  }
  return DefWindowProcW(window_, message, wparam, lparam);
}

void Form1::ResizeClient(int height) {
  // The frame as drawn at the window's monitor's dpi.
  RECT outer{0, 0, client_width_, height};
  if (!PerMonitorDpi().adjust_window_rect(&outer, kStyle, FALSE, 0,
                                          PerMonitorDpi().for_window(window_))) {
    outer = {0, 0, client_width_, height};
    AdjustWindowRectEx(&outer, kStyle, FALSE, 0);
  }
  SetWindowPos(window_, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form1::SetCommand1Caption(const std::string& caption) {
  SetWindowTextW(command1_, Widen(caption).c_str());
  Trace("caption " + Quoted(caption));
}

void Form1::SetTimerEnabled(hs::TimerId timer, bool enabled) {
  (timer == hs::TimerId::kTimer1 ? *timer1_ : *timer2_).SetEnabled(enabled);
  MarkBusy();
}

void Form1::MarkBusy() {
  if (timer1_->Enabled() || timer2_->Enabled() || key_injection::TheModule1().AnyHeld()) {
    SetPropW(window_, kBusyMark, window_);
  } else {
    RemovePropW(window_, kBusyMark);
  }
}

void Form1::SetTimer1Interval(std::int32_t interval_ms) {
  timer1_->SetInterval(interval_ms);
  Trace("interval " + std::to_string(interval_ms));
}

std::string Form1::TxtIntervalText() {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(txt_interval_)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      GetWindowTextW(txt_interval_, text.data(), static_cast<int>(text.size()))));
  return Narrow(text);
}

void Form1::ShowIntervalProblem(const std::string& message) {
  const bool was_shown = Shown(problem_);
  ShowMessage(problem_, message);
  if (!message.empty()) {
    Trace("interval-problem " + Quoted(message));
  } else if (was_shown) {
    Trace("interval-ok");
  }
}

void Form1::ShowNotice(const std::string& source, const std::string& message) {
  const auto old = notices_.find(source);
  if (old == notices_.end() ? message.empty() : old->second == message) return;
  if (message.empty()) {
    notices_.erase(old);
    Trace("notice-gone " + source);
  } else {
    notices_[source] = message;
    Trace("notice " + Quoted(message));
  }
  std::string shown;
  for (const auto& [from, text] : notices_) shown += (shown.empty() ? "" : "\n\n") + text;
  ShowMessage(notice_, shown);
}

void Form1::ShowMessage(HWND label, const std::string& message) {
  if (message.empty() && !Shown(label)) return;
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
    if (!Shown(label)) continue;
    const int length = GetWindowTextLengthW(label);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(label, text.data(), length + 1)));
    RECT place{};
    GetWindowRect(label, &place);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&place), 2);
    RECT measure{0, 0, place.right - place.left, 0};
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, font_);
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
  if (grown_by != grown_by_ || !resized_) {
    grown_by_ = grown_by;
    resized_ = true;
    ResizeClient(client_height_ + grown_by_);
  }
}

void Form1::PressKey(std::int32_t key_code) {
  key_injection::PressKey(key_code);
  MarkBusy();
  Trace("key-down " + std::to_string(key_code));
  // Windows gives no sign when it drops our keys on their way to a program
  // run as administrator: the window says it at each key-down, once the key
  // is out on time.
  ShowNotice("keys", key_injection::ForegroundDropsKeysNotice());
}

void Form1::ReleaseKey(std::int32_t key_code) {
  key_injection::ReleaseKey(key_code);
  MarkBusy();
  Trace("key-up " + std::to_string(key_code));
}

std::string Form1::KeyProblem(std::int32_t key_code) {
  return key_injection::TheModule1().KeyProblem(key_code);
}

}  // namespace tollmere::window::win32
