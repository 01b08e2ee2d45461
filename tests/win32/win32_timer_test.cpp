#include "window/win32/win32_timer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
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
    queue.reset();
    DestroyWindow(window);
    current = nullptr;
  }

  void Make(std::int32_t interval_ms, bool enabled, TimerQueue::Options options = {}) {
    timer.reset();
    queue.emplace(std::move(options));
    timer.emplace(window, 7, *queue, interval_ms, enabled);
    timer->SetOnTick(
        [this] { ticks.push_back(static_cast<std::int64_t>(GetTickCount64() - start)); });
  }
  // On a clock of the test's own, `now_ms`.
  void MakeOnFakeClock(std::int32_t interval_ms) {
    Make(interval_ms, true, {.clock = [this] { return now_ms * 1'000'000; }});
  }
  std::size_t RunDueAt(std::int64_t ms) {
    now_ms = ms;
    queue->RunDue();
    return ticks.size();
  }

  // Runs the message loop as the program does until `until_ms`, or until
  // `enough` ticks came.
  void Pump(std::int64_t until_ms, std::size_t enough = SIZE_MAX) {
    for (std::int64_t now; (now = static_cast<std::int64_t>(GetTickCount64() - start)) < until_ms &&
                           ticks.size() < enough;) {
      queue->Wait(static_cast<DWORD>(until_ms - now));
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
  }

  static inline Win32TimerTest* current = nullptr;
  HWND window = nullptr;
  ULONGLONG start = 0;
  std::int64_t now_ms = 0;
  std::optional<TimerQueue> queue;
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

TEST_F(Win32TimerTest, TicksKeepToTheGridSetWhenArmedHoweverLateTheyRun) {
  MakeOnFakeClock(20);
  EXPECT_EQ(RunDueAt(19), 0u);
  EXPECT_EQ(RunDueAt(27), 1u);
  EXPECT_EQ(RunDueAt(39), 1u);  // the next is due at 40, not 47
  EXPECT_EQ(RunDueAt(40), 2u);
  EXPECT_EQ(RunDueAt(125), 3u);  // 60 to 120 missed: one tick
  EXPECT_EQ(RunDueAt(139), 3u);
  // 1000 more periods, served late by 0 to 16 ms each: 1000 ticks.
  for (std::int64_t period = 1; period <= 1000; ++period) RunDueAt(120 + 20 * period + period % 17);
  EXPECT_EQ(ticks.size(), 1003u);
}

TEST_F(Win32TimerTest, WmTimerAndTheWaitableTimerServeEachDeadlineOnce) {
  MakeOnFakeClock(20);
  now_ms = 19;
  timer->OnWmTimer();  // early
  EXPECT_EQ(RunDueAt(20), 1u);
  now_ms = 21;
  timer->OnWmTimer();  // its deadline served already
  EXPECT_EQ(ticks.size(), 1u);
  now_ms = 41;
  timer->OnWmTimer();  // as in a modal loop
  EXPECT_EQ(RunDueAt(42), 2u);
  // A WM_TIMER of a timer stopped meanwhile.
  timer->SetEnabled(false);
  now_ms = 100;
  timer->OnWmTimer();
  EXPECT_EQ(ticks.size(), 2u);
}

TEST_F(Win32TimerTest, AStopDropsADueTickAndArmingAgainStartsANewGrid) {
  MakeOnFakeClock(20);
  now_ms = 25;
  timer->SetEnabled(false);
  EXPECT_EQ(RunDueAt(25), 0u);
  timer->SetEnabled(true);
  EXPECT_EQ(RunDueAt(44), 0u);
  EXPECT_EQ(RunDueAt(45), 1u);
  now_ms = 50;
  timer->SetInterval(30);
  EXPECT_EQ(RunDueAt(79), 1u);
  EXPECT_EQ(RunDueAt(80), 2u);
}

TEST_F(Win32TimerTest, FallbackHoldsTheFinePeriodOnlyWhileATimerIsArmed) {
  std::vector<bool> calls;
  Make(50, false,
       {.high_resolution = false, .fine_period = [&calls](bool fine) { calls.push_back(fine); }});
  EXPECT_FALSE(queue->HighResolution());
  EXPECT_TRUE(calls.empty());
  timer->SetEnabled(true);
  Win32Timer other(window, 8, *queue, 70, true);
  other.SetEnabled(false);
  EXPECT_EQ(calls, std::vector<bool>{true});
  timer->SetEnabled(false);
  EXPECT_EQ(calls, (std::vector<bool>{true, false}));
}

// Over a second, a 20 ms timer whose ticks each take 5 ms ticks 50 times on
// its grid; one re-armed from each tick drifts to 45 here. Both ways of waiting.
TEST_F(Win32TimerTest, TicksOverASpanFollowTheGridWithoutDrift) {
  for (const bool high_resolution : {true, false}) {
    ticks.clear();
    Make(20, true, {.high_resolution = high_resolution});
    timer->SetOnTick([this] {
      ticks.push_back(0);
      Sleep(5);
    });
    start = GetTickCount64();
    Pump(1005);
    EXPECT_GE(ticks.size(), 47u) << high_resolution;
    EXPECT_LE(ticks.size(), 50u) << high_resolution;
  }
}

}  // namespace
}  // namespace tollmere::window::win32
