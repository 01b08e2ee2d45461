#include "window/win32/win32_timer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace tollmere::window::win32 {
namespace {

// A message-only window whose WM_TIMER goes to the timer under test, and
// the times (ms since the test started) at which it ticked.
struct Win32TimerTest : ::testing::Test {
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_TIMER && current != nullptr && current->timer) current->timer->OnWmTimer();
    return DefWindowProcW(window, message, wparam, lparam);
  }

  void SetUp() override {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TimerHost";
    RegisterClassW(&wc);
    window = CreateWindowW(L"TimerHost", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                           nullptr);
    ASSERT_NE(window, nullptr);
    current = this;
    start = GetTickCount64();
  }
  void TearDown() override {
    timer.reset();
    DestroyWindow(window);
    current = nullptr;
  }

  void Make(std::int32_t interval_ms, bool enabled) {
    timer.emplace(window, 7, interval_ms, enabled);
    timer->SetOnTick(
        [this] { ticks.push_back(static_cast<std::int64_t>(GetTickCount64() - start)); });
  }

  // Runs the message loop until `until_ms`, or until `enough` ticks came.
  void Pump(std::int64_t until_ms, std::size_t enough = SIZE_MAX) {
    while (static_cast<std::int64_t>(GetTickCount64() - start) < until_ms &&
           ticks.size() < enough) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
      Sleep(1);
    }
  }

  static inline Win32TimerTest* current = nullptr;
  HWND window = nullptr;
  ULONGLONG start = 0;
  std::optional<Win32Timer> timer;
  std::vector<std::int64_t> ticks;
};

TEST_F(Win32TimerTest, TicksOneIntervalApartFromWhenEnabled) {
  Make(200, true);
  Pump(3000, 3);
  ASSERT_EQ(ticks.size(), 3u);
  EXPECT_NEAR(ticks[0], 200, 50);
  EXPECT_NEAR(ticks[1], 400, 50);
  EXPECT_NEAR(ticks[2], 600, 50);
}

TEST_F(Win32TimerTest, DisabledOrZeroIntervalGivesNoTicks) {
  Make(100, false);
  Pump(250);
  timer->SetEnabled(true);
  timer->SetInterval(0);
  Pump(500);
  EXPECT_TRUE(ticks.empty());
}

TEST_F(Win32TimerTest, StoppingInATickEndsTheTicks) {
  Make(100, true);
  timer->SetOnTick([this] {
    ticks.push_back(0);
    timer->SetEnabled(false);
  });
  Pump(450);
  EXPECT_EQ(ticks.size(), 1u);
}

TEST_F(Win32TimerTest, NewIntervalRestartsThePeriod) {
  Make(300, true);
  Pump(200);
  timer->SetInterval(150);
  Pump(420);
  ASSERT_EQ(ticks.size(), 1u);
  EXPECT_NEAR(ticks[0], 350, 50);
}

}  // namespace
}  // namespace tollmere::window::win32
