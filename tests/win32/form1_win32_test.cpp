#include "main_window/win32/form1_win32.h"

#include <gtest/gtest.h>

#include <memory>

#include "key_injection/module1.h"
#include "support/recording_backend.h"

namespace tollmere::main_window {
namespace {

namespace ki = tollmere::key_injection;

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

struct Form1Win32Test : ::testing::Test {
  void SetUp() override {
    ki::InstallModule1([log = log] { return std::make_unique<ki::RecordingBackend>(log); });
  }
  std::shared_ptr<ki::RecordingBackend::Log> log = std::make_shared<ki::RecordingBackend::Log>();
  Form1 form{GetModuleHandleW(nullptr), 96, 96};
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
}

TEST(Form1Win32DpiTest, LargerDpiGivesALargerWindow) {
  Form1 form(GetModuleHandleW(nullptr), 144, 120);
  const SIZE client = ClientSize(form.Window());
  EXPECT_EQ(client.cx, 294);
  EXPECT_EQ(client.cy, 74);
  EXPECT_EQ(ChildRect(form.Command1()).left, 156);
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

TEST_F(Form1Win32Test, ClosingOrEndingTheSessionPutsHeldKeysUp) {
  ki::PressKey(32);
  SendMessageW(form.Window(), WM_ENDSESSION, TRUE, 0);
  EXPECT_FALSE(ki::TheModule1().IsHeld(32));
  ASSERT_EQ(log->size(), 2u);
  EXPECT_FALSE(log->back().down);

  ki::PressKey(32);
  SendMessageW(form.Window(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(form.Window()));
  EXPECT_FALSE(ki::TheModule1().IsHeld(32));
  ASSERT_EQ(log->size(), 4u);
  EXPECT_FALSE(log->back().down);
}

}  // namespace
}  // namespace tollmere::main_window
