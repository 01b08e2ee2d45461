#include <windows.h>
// The headers below need windows.h first.
#include <commctrl.h>
#include <gtest/gtest.h>
#include <oleacc.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/window_target.h"
#include "control/command_line.h"
#include "control/hotkeys/win32_hotkey.h"
#include "control/win32/hand_over.h"
#include "key_injection/module1.h"
#include "support/recording_backend.h"
#include "window/win32/form1.h"

namespace tollmere::window::win32 {
namespace {

namespace ki = tollmere::key_injection;
using control::kMaxIntervalText;
using control::kMaxRequestBytes;
using control::kRequestDone;
using control::kRequestIgnored;
using control::kRequestRefused;
using control::kRequestTag;
using control::kWindowClass;
using tollmere::window::TwipsToPixels;

RECT ChildRect(HWND child) {
  RECT r{};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

SIZE ClientSize(HWND window) {
  RECT r{};
  GetClientRect(window, &r);
  return {r.right, r.bottom};
}

std::wstring Text(HWND window) {
  wchar_t buffer[256] = {};
  GetWindowTextW(window, buffer, 256);
  return buffer;
}

void Pump(DWORD ms) {
  const ULONGLONG until = GetTickCount64() + ms;
  while (GetTickCount64() < until) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message != WM_QUIT) DispatchMessageW(&msg);
    }
    Sleep(1);
  }
}

bool Shown(HWND window) { return (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) != 0; }

std::wstring Tip(const Form1& form, HWND control) {
  wchar_t tip[256] = {};
  TOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = form.Window();
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = tip;
  SendMessageW(form.Tooltips(), TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
  return tip;
}

// The command of the item labelled `label` (mnemonics aside) in `menu` or
// its submenus, or 0.
UINT MenuItem(HMENU menu, const std::wstring& label) {
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    if (HMENU sub = GetSubMenu(menu, i)) {
      if (const UINT id = MenuItem(sub, label)) return id;
      continue;
    }
    wchar_t text[64] = {};
    GetMenuStringW(menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
    std::wstring shown(text);
    std::erase(shown, L'&');
    if (label == shown) return GetMenuItemID(menu, i);
  }
  return 0;
}

// The item's MF_CHECKED, MF_GRAYED, ... in the menu as it would open now;
// ~0u when it is not there.
UINT MenuState(const Form1& form, const std::wstring& label) {
  HMENU menu = form.SettingsMenu();
  const UINT id = MenuItem(menu, label);
  // Without MFT_RADIOCHECK, which marks each.
  const UINT state = id == 0 ? ~0u : GetMenuState(menu, id, MF_BYCOMMAND) & ~MFT_RADIOCHECK;
  DestroyMenu(menu);
  return state;
}

// As a click on the item does.
void Choose(const Form1& form, const std::wstring& label) {
  HMENU menu = form.SettingsMenu();
  const UINT id = MenuItem(menu, label);
  DestroyMenu(menu);
  ASSERT_NE(id, 0u) << Narrow(label);
  SendMessageW(form.Window(), WM_COMMAND, id, 0);
}

// As another process hands over a request.
LRESULT SendRequest(HWND window, std::string_view bytes, ULONG_PTR tag = kRequestTag) {
  COPYDATASTRUCT data{tag, static_cast<DWORD>(bytes.size()), const_cast<char*>(bytes.data())};
  return SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
}

// The window's timers on the real clock put forward by `skipped_ms`.
TimerQueue::Options SkippingClock(const std::int64_t& skipped_ms) {
  return {.clock = [&skipped_ms] {
    return TimerQueue::PerformanceCounterNs() + skipped_ms * 1'000'000;
  }};
}

// A second of the countdown, without waiting for it.
void SkipASecond(Form1& form, std::int64_t& skipped_ms) {
  skipped_ms += 1000;
  form.Timers().RunDue();
}

// The window wired as main.cpp wires it: the hotkey and the hand-over as
// its message hooks.
struct Form1Win32Test : ::testing::Test {
  void SetUp() override {
    ki::InstallModule1([log = log] { return std::make_unique<ki::RecordingBackend>(log); });
    form.AddMessageHook(hotkey.Hook());
    form.AddMessageHook(control::HandOverReceiver(form.Window(), target));
    control::MarkAsRunning(form.Window());
  }
  std::shared_ptr<ki::RecordingBackend::Log> log = std::make_shared<ki::RecordingBackend::Log>();
  std::int64_t skipped_ms = 0;
  Form1 form{GetModuleHandleW(nullptr), kWindowClass, 96, 96, SkippingClock(skipped_ms)};
  control::Win32Hotkey hotkey{form.Window(), [this] { form.Toggle(); },
                              [this](const std::string& notice) { form.ShowNotice(notice); }};
  app::WindowTarget<Form1> target{
      form,
      [this](const std::string& text) { return hotkey.Set(text, form.Sequencer().Settings().key); },
      [this] { return hotkey.Current(); }};
};

TEST(TwipsToPixelsTest, FollowsTheDpiAndRounds) {
  EXPECT_EQ(TwipsToPixels(1440, 96), 96);
  EXPECT_EQ(TwipsToPixels(2940, 96), 196);
  EXPECT_EQ(TwipsToPixels(885, 96), 59);
  EXPECT_EQ(TwipsToPixels(1215, 144), 122);  // 121.5 rounds up
  EXPECT_EQ(TwipsToPixels(0, 120), 0);
}

TEST_F(Form1Win32Test, ControlsSitAtTheirStoredPlaces) {
  EXPECT_EQ(Text(form.Window()), L"Tollmere");
  EXPECT_EQ(Text(form.Command1()), L"Start");
  const SIZE client = ClientSize(form.Window());
  EXPECT_EQ(client.cx, 196);
  EXPECT_EQ(client.cy, 59);
  const RECT box = ChildRect(form.txtInterval());
  EXPECT_EQ(box.left, 8);
  EXPECT_EQ(box.top, 24);
  EXPECT_EQ(box.right - box.left, 81);
  EXPECT_EQ(box.bottom - box.top, 19);
  const RECT button = ChildRect(form.Command1());
  EXPECT_EQ(button.left, 104);
  EXPECT_EQ(button.top, 16);
  EXPECT_EQ(button.right - button.left, 81);
  EXPECT_EQ(button.bottom - button.top, 33);
  // Tab goes from the box to the button and back.
  EXPECT_EQ(GetNextDlgTabItem(form.Window(), form.txtInterval(), FALSE), form.Command1());
  EXPECT_EQ(GetNextDlgTabItem(form.Window(), form.Command1(), FALSE), form.txtInterval());
  EXPECT_FALSE(form.Timer1().Enabled());
  EXPECT_EQ(form.Timer1().Interval(), 0);
  EXPECT_FALSE(form.Timer2().Enabled());
  EXPECT_EQ(form.Timer2().Interval(), 1000);

  // Hints for a first-time user: the cue banner needs the controls of the
  // program's manifest, which this test carries too.
  wchar_t cue[64] = {};
  EXPECT_TRUE(SendMessageW(form.txtInterval(), EM_GETCUEBANNER, reinterpret_cast<WPARAM>(cue), 64));
  EXPECT_STREQ(cue, L"interval, ms");
  EXPECT_EQ(SendMessageW(form.Tooltips(), TTM_GETTOOLCOUNT, 0, 0), 2);
  for (HWND control : {form.txtInterval(), form.Command1()})
    EXPECT_NE(Tip(form, control).find(L"space bar"), std::wstring::npos)
        << Narrow(Tip(form, control));
  // What a screen reader calls the box.
  IAccessible* accessible = nullptr;
  ASSERT_EQ(AccessibleObjectFromWindow(form.txtInterval(), OBJID_CLIENT, IID_IAccessible,
                                       reinterpret_cast<void**>(&accessible)),
            S_OK);
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  EXPECT_EQ(accessible->get_accName(self, &name), S_OK);
  EXPECT_STREQ(name, L"Interval, ms");
  SysFreeString(name);
  accessible->Release();
}

TEST(Form1Win32DpiTest, LargerDpiGivesALargerWindow) {
  Form1 form(GetModuleHandleW(nullptr), kWindowClass, 144, 120);
  const SIZE client = ClientSize(form.Window());
  EXPECT_EQ(client.cx, 294);
  EXPECT_EQ(client.cy, 74);
  EXPECT_EQ(ChildRect(form.Command1()).left, 156);

  // Moved to a monitor of twice the dpi: the window, the controls and the
  // font double.
  Form1 moved(GetModuleHandleW(nullptr), kWindowClass, 96, 96);
  const auto font_height = [](HWND control) {
    LOGFONTW face{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof face,
               &face);
    return face.lfHeight;
  };
  const LONG font_at_96 = font_height(moved.Command1());
  RECT suggested{40, 30, 40, 30};
  SendMessageW(moved.Window(), WM_DPICHANGED, MAKEWPARAM(192, 192),
               reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(ClientSize(moved.Window()).cx, 392);
  EXPECT_EQ(ClientSize(moved.Window()).cy, 118);
  EXPECT_EQ(ChildRect(moved.Command1()).left, 208);
  EXPECT_EQ(ChildRect(moved.txtInterval()).bottom, 2 * (24 + 19));
  EXPECT_EQ(font_height(moved.Command1()), 2 * font_at_96);
}

// Windows' own pick among the program's icon images: the 16-colour one in
// colour, the 2-colour one in black and white.
TEST(Form1Win32IconTest, ColourAndMonochromeDisplaysGetTheirOwnImage) {
  HMODULE self = GetModuleHandleW(nullptr);
  HRSRC group = FindResourceW(self, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
  ASSERT_NE(group, nullptr);
  auto* directory = static_cast<BYTE*>(LockResource(LoadResource(self, group)));
  const auto bits_of_pick = [&](UINT flags) {
    const int id = LookupIconIdFromDirectoryEx(directory, TRUE, 32, 32, flags);
    HRSRC image = FindResourceW(self, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3));  // RT_ICON
    if (image == nullptr) return -1;
    return static_cast<int>(
        static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(self, image)))->biBitCount);
  };
  EXPECT_EQ(bits_of_pick(LR_DEFAULTCOLOR), 4);
  EXPECT_EQ(bits_of_pick(LR_MONOCHROME), 1);
}

TEST_F(Form1Win32Test, RefusedEntryIsExplainedBelowAndTheWindowGrows) {
  SetWindowTextW(form.txtInterval(), L"500");
  EXPECT_EQ(form.Timer1().Interval(), 500);
  EXPECT_FALSE(IsWindowVisible(form.IntervalProblem()));

  SetWindowTextW(form.txtInterval(), L"-5");
  EXPECT_EQ(form.Timer1().Interval(), 500);
  const std::wstring problem = Text(form.IntervalProblem());
  EXPECT_EQ(problem.rfind(L"Can't be negative", 0), 0u) << Narrow(problem);
  EXPECT_NE(problem.find(L"Keeping 500 ms"), std::wstring::npos) << Narrow(problem);
  const RECT label = ChildRect(form.IntervalProblem());
  EXPECT_GE(label.top, 59);
  EXPECT_GT(label.bottom, label.top);
  EXPECT_GE(ClientSize(form.Window()).cy, label.bottom);

  // A second refusal does not grow it again; a good entry shrinks it back.
  const LONG grown = ClientSize(form.Window()).cy;
  SetWindowTextW(form.txtInterval(), L"99999999999");
  EXPECT_NE(Text(form.IntervalProblem()).find(L"Too large"), std::wstring::npos);
  EXPECT_EQ(ClientSize(form.Window()).cy, grown);
  SetWindowTextW(form.txtInterval(), L"250");
  EXPECT_EQ(form.Timer1().Interval(), 250);
  EXPECT_EQ(ClientSize(form.Window()).cy, 59);
  EXPECT_EQ(GetWindowLongW(form.IntervalProblem(), GWL_STYLE) & WS_VISIBLE, 0);
}

TEST_F(Form1Win32Test, ClickStartsTheCountdownOnTheButton) {
  ShowWindow(form.Window(), SW_SHOWNOACTIVATE);
  SendMessageW(form.Command1(), BM_CLICK, 0, 0);
  EXPECT_TRUE(form.Timer2().Enabled());
  EXPECT_EQ(form.Sequencer().Count(), 4);
  Pump(1050);
  EXPECT_EQ(Text(form.Command1()), L"Starting in 3");
  EXPECT_TRUE(log->empty());
}

// Keeps the button's caption at each key-up.
class CaptionAtKeyUp final : public ki::KeystrokeBackend {
 public:
  CaptionAtKeyUp(HWND button, std::vector<std::wstring>& captions)
      : button_(button), captions_(captions) {}
  void KeyDown(std::uint8_t) override {}
  void KeyUp(std::uint8_t) override { captions_.push_back(Text(button_)); }
  std::string_view Name() const override { return "caption at key-up"; }

 private:
  HWND button_;
  std::vector<std::wstring>& captions_;
};

TEST_F(Form1Win32Test, StopFromAnotherProcessDuringAHoldPutsTheKeyUpBeforeTheCaption) {
  std::vector<std::wstring> captions;
  ki::InstallModule1(
      [this, &captions] { return std::make_unique<CaptionAtKeyUp>(form.Command1(), captions); });
  SetWindowTextW(form.txtInterval(), L"60000");
  EXPECT_EQ(SendRequest(form.Window(), "start"), kRequestDone);
  for (int i = 0; i < 4; ++i) SkipASecond(form, skipped_ms);
  ASSERT_TRUE(ki::TheModule1().IsHeld(32));
  ASSERT_TRUE(form.Timer1().Enabled());

  EXPECT_EQ(SendRequest(form.Window(), "stop"), kRequestDone);
  EXPECT_FALSE(ki::TheModule1().IsHeld(32));
  ASSERT_EQ(captions.size(), 1u);
  EXPECT_EQ(captions[0], L"Starting in 0");
  EXPECT_EQ(Text(form.Command1()), L"Start");
  EXPECT_FALSE(form.Timer1().Enabled());
  EXPECT_FALSE(form.Timer2().Enabled());
}

TEST_F(Form1Win32Test, OnlyWellFormedRequestsAreTakenAndTheBoxKeepsItsRules) {
  SetWindowTextW(form.txtInterval(), L"500");
  using namespace std::string_literals;
  const struct {
    ULONG_PTR tag;
    std::string bytes;
  } malformed[] = {
      {kRequestTag + 1, "start"},
      {kRequestTag, ""},
      {kRequestTag, "Start"},
      {kRequestTag, "start\0"s},
      {kRequestTag, "toggle now"},
      {kRequestTag, "interval=" + std::string(kMaxIntervalText + 1, '1')},
      {kRequestTag, "interval=5\n"},
      {kRequestTag, "interval=" + std::string(kMaxRequestBytes - 8, '1')},
      {kRequestTag, "hotkey=Shift"},
      {kRequestTag, "key=Nope"},
      {kRequestTag, "colour=red"},
  };
  for (const auto& request : malformed) {
    EXPECT_EQ(SendRequest(form.Window(), request.bytes, request.tag), kRequestIgnored)
        << request.bytes;
  }
  COPYDATASTRUCT no_data{kRequestTag, 5, nullptr};
  EXPECT_EQ(SendMessageW(form.Window(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&no_data)),
            kRequestIgnored);
  EXPECT_EQ(SendMessageW(form.Window(), WM_COPYDATA, 0, 0), kRequestIgnored);
  EXPECT_EQ(Text(form.txtInterval()), L"500");
  EXPECT_FALSE(form.Timer2().Enabled());
  EXPECT_TRUE(log->empty());

  // A text longer than the box, or a message pointing nowhere, changes nothing.
  EXPECT_EQ(SendRequest(form.Window(), "interval=" + std::string(kMaxIntervalText, '1')),
            kRequestRefused);
  PostMessageW(form.Window(), WM_DPICHANGED, 0x00C000C0, 0);
  Pump(50);
  EXPECT_EQ(Text(form.txtInterval()), L"500");
  EXPECT_EQ(GetPropW(form.Window(), Form1::kBusyMark), nullptr);

  // The box's own reading and refusal, as for typing.
  EXPECT_EQ(SendRequest(form.Window(), "interval=-5"), kRequestRefused);
  EXPECT_TRUE(Shown(form.IntervalProblem()));
  EXPECT_EQ(form.Timer1().Interval(), 500);
  EXPECT_EQ(SendRequest(form.Window(), "interval=&H3E8"), kRequestDone);
  // The window judges a hotkey against the key it holds.
  EXPECT_EQ(SendRequest(form.Window(), "hotkey=Space"), kRequestRefused);
  EXPECT_FALSE(Shown(form.IntervalProblem()));
  EXPECT_EQ(form.Timer1().Interval(), 1000);

  // A second start does not start the countdown over, as a click would.
  EXPECT_EQ(SendRequest(form.Window(), "start"), kRequestDone);
  SkipASecond(form, skipped_ms);
  EXPECT_EQ(SendRequest(form.Window(), "start"), kRequestDone);
  EXPECT_EQ(form.Sequencer().Count(), 3);
  // Busy, it says so; and a 0 ms interval, which would never end the hold, is refused.
  EXPECT_NE(GetPropW(form.Window(), Form1::kBusyMark), nullptr);
  EXPECT_EQ(SendRequest(form.Window(), "interval="), kRequestRefused);
  EXPECT_EQ(form.Timer1().Interval(), 1000);
  EXPECT_EQ(SendRequest(form.Window(), "toggle"), kRequestDone);
  EXPECT_FALSE(form.Timer2().Enabled());
  EXPECT_EQ(Text(form.Command1()), L"Start");
  EXPECT_EQ(SendRequest(form.Window(), "toggle"), kRequestDone);
  EXPECT_EQ(form.Sequencer().Count(), 4);
}

TEST_F(Form1Win32Test, AnotherProcessFindsTheWindowAndItsHandOverEndsAtARefusal) {
  using Outcome = control::HandOver::Outcome;
  // Opened later with --new-window: on top, of the same class, unmarked.
  Form1 beside{GetModuleHandleW(nullptr), kWindowClass, 96, 96};
  app::WindowTarget<Form1> beside_target{beside, [](const std::string&) { return ""; },
                                         [] { return std::optional<control::Hotkey>(); }};
  beside.AddMessageHook(control::HandOverReceiver(beside.Window(), beside_target));
  ASSERT_EQ(control::FindRunningWindow(), form.Window());
  SetWindowTextW(form.txtInterval(), L"500");
  control::Request request;
  request.interval = "-5";
  request.action = control::Action::kStart;
  control::HandOver handed = control::HandOverToRunning(request);
  EXPECT_EQ(handed.outcome, Outcome::kRefused);
  EXPECT_NE(handed.message.find("--interval=-5"), std::string::npos) << handed.message;
  EXPECT_FALSE(form.Timer2().Enabled());

  request.interval = "250";
  request.settings = {{"key", "a"}, {"hold", "until-stopped"}};
  EXPECT_EQ(control::HandOverToRunning(request).outcome, Outcome::kDone);
  EXPECT_EQ(form.Setting("key"), "A");
  EXPECT_EQ(form.Setting("hold"), "until-stopped");
  EXPECT_TRUE(form.Timer2().Enabled());
  EXPECT_EQ(form.Timer1().Interval(), 250);
  EXPECT_FALSE(beside.Timer2().Enabled());
  control::Request raise;
  raise.raise = true;
  EXPECT_EQ(control::HandOverToRunning(raise).outcome, Outcome::kDone);

  // A stop reaches every window, as none may keep holding.
  ASSERT_EQ(beside.SetIntervalText("500"), "");
  ASSERT_EQ(beside.Toggle(), "");
  control::Request stop;
  stop.action = control::Action::kStop;
  EXPECT_EQ(control::HandOverToRunning(stop).outcome, Outcome::kDone);
  EXPECT_FALSE(form.Timer2().Enabled());
  EXPECT_FALSE(beside.Timer2().Enabled());
}

TEST_F(Form1Win32Test, HotkeyTakenElsewhereIsSaidInTheWindowAndAFreeOneToggles) {
  ASSERT_TRUE(RegisterHotKey(nullptr, 7, MOD_CONTROL | MOD_ALT | MOD_NOREPEAT, 'H'));
  EXPECT_NE(target.SetHotkey("ctrl+alt+h"), "");
  EXPECT_TRUE(Shown(form.Notice()));
  EXPECT_NE(Text(form.Notice()).find(L"ctrl+alt+h is taken"), std::wstring::npos)
      << Narrow(Text(form.Notice()));
  // Another source's notice comes and goes beside it.
  form.ShowNotice("keys", "Keys are dropped.");
  EXPECT_NE(Text(form.Notice()).find(L"Keys are dropped."), std::wstring::npos);
  form.ShowNotice("keys", "");
  EXPECT_EQ(Text(form.Notice()).find(L"Keys"), std::wstring::npos);
  EXPECT_NE(Text(form.Notice()).find(L"ctrl+alt+h is taken"), std::wstring::npos);
  EXPECT_GT(ClientSize(form.Window()).cy, 59);
  UnregisterHotKey(nullptr, 7);

  EXPECT_EQ(target.SetHotkey("Ctrl+Alt+H"), "");
  EXPECT_FALSE(Shown(form.Notice()));
  EXPECT_EQ(ClientSize(form.Window()).cy, 59);
  if (RegisterHotKey(nullptr, 7, MOD_CONTROL | MOD_ALT, 'H')) {
    ADD_FAILURE() << "the window's hotkey was free for another";
    UnregisterHotKey(nullptr, 7);
  }

  // Typed, it toggles; a start needs an interval.
  ASSERT_EQ(form.SetIntervalText("500"), "");
  for (const int key : {VK_CONTROL, VK_MENU, int{'H'}})
    keybd_event(static_cast<BYTE>(key), 0, 0, 0);
  for (const int key : {int{'H'}, VK_MENU, VK_CONTROL})
    keybd_event(static_cast<BYTE>(key), 0, KEYEVENTF_KEYUP, 0);
  for (int i = 0; i < 500 && !form.Timer2().Enabled(); ++i) Pump(10);
  EXPECT_TRUE(form.Timer2().Enabled());
  EXPECT_EQ(form.Sequencer().Count(), 4);
}

TEST_F(Form1Win32Test, ContextMenuChoicesGoThroughTheHookAndTheMenuFollows) {
  std::vector<std::pair<std::string, std::string>> chosen;
  form.SetOnSettingChosen([&](const std::string& name, const std::string& text) {
    chosen.emplace_back(name, text);
    return target.SetSetting(name, text);
  });
  EXPECT_EQ(MenuState(form, L"Space"), static_cast<UINT>(MF_CHECKED));
  EXPECT_EQ(MenuState(form, L"4 s"), static_cast<UINT>(MF_CHECKED));
  EXPECT_EQ(MenuState(form, L"Stop now") & MF_GRAYED, static_cast<UINT>(MF_GRAYED));
  Choose(form, L"A");
  Choose(form, L"Until stopped");
  Choose(form, L"None");
  EXPECT_EQ(chosen, (std::vector<std::pair<std::string, std::string>>{
                        {"key", "A"}, {"hold", "until-stopped"}, {"countdown", "0"}}));
  EXPECT_EQ(MenuState(form, L"Space"), 0u);
  EXPECT_EQ(MenuState(form, L"A"), static_cast<UINT>(MF_CHECKED));
  EXPECT_EQ(MenuState(form, L"Until stopped"), static_cast<UINT>(MF_CHECKED));
  EXPECT_EQ(Tip(form, form.Command1()).find(L"Holds A until stopped"), 0u)
      << Narrow(Tip(form, form.Command1()));
  // A value off the menu checks "Other", which shows it.
  ASSERT_EQ(target.SetSetting("countdown", "7"), "");
  EXPECT_EQ(MenuState(form, L"Other (7 s)…"), static_cast<UINT>(MF_CHECKED));

  // A key the hotkey uses is refused with the reason; the key stays.
  ASSERT_EQ(target.SetHotkey("Ctrl+Alt+W"), "");
  Choose(form, L"W");
  EXPECT_EQ(MenuState(form, L"A"), static_cast<UINT>(MF_CHECKED));
  EXPECT_NE(Text(form.Notice()).find(L"uses W"), std::wstring::npos) << Narrow(Text(form.Notice()));

  // With a modifier held, the user's press of the hotkey comes with it: that
  // works too.
  Choose(form, L"Left Shift");
  if (RegisterHotKey(nullptr, 7, MOD_CONTROL | MOD_ALT | MOD_SHIFT, 'W')) {
    ADD_FAILURE() << "the hotkey with the held Shift was free for another";
    UnregisterHotKey(nullptr, 7);
  }
  Choose(form, L"A");

  // Held until stopped, and "Stop now" puts it up.
  ASSERT_EQ(target.SetSetting("countdown", "0"), "");
  ASSERT_EQ(form.Start(), "");
  ASSERT_EQ(log->size(), 1u);
  EXPECT_EQ(MenuState(form, L"Stop now"), 0u);
  Choose(form, L"Stop now");
  EXPECT_FALSE(form.Busy());
  ASSERT_EQ(log->size(), 2u);
  EXPECT_FALSE(log->back().down);
  EXPECT_EQ(log->back().vk, 'A');
}

TEST_F(Form1Win32Test, ClosingOrEndingTheSessionPutsHeldKeysUp) {
  ki::PressKey(32);
  SendMessageW(form.Window(), WM_ENDSESSION, TRUE, 0);
  EXPECT_FALSE(ki::TheModule1().IsHeld(32));
  ASSERT_EQ(log->size(), 2u);
  EXPECT_FALSE(log->back().down);

  // During a hold, one from another program ends it once: the hold's own end
  // sends no second key-up.
  SetWindowTextW(form.txtInterval(), L"500");
  EXPECT_EQ(SendRequest(form.Window(), "start"), kRequestDone);
  for (int i = 0; i < 4; ++i) SkipASecond(form, skipped_ms);
  ASSERT_TRUE(ki::TheModule1().IsHeld(32));
  SendMessageW(form.Window(), WM_ENDSESSION, TRUE, 0);
  Pump(1200);
  ASSERT_EQ(log->size(), 4u);
  EXPECT_FALSE(log->back().down);

  ki::PressKey(32);
  SendMessageW(form.Window(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(form.Window()));
  EXPECT_FALSE(ki::TheModule1().IsHeld(32));
  ASSERT_EQ(log->size(), 6u);
  EXPECT_FALSE(log->back().down);
}

}  // namespace
}  // namespace tollmere::window::win32
