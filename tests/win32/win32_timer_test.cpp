#include "window/win32/win32_timer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

namespace tollmere::window::win32 {
namespace {

// A message-only window whose WM_TIMER goes to the timer under test, and the
// ticks it counted. The queue runs on the test's own clock, `now_ms`, unless
// a case gives it another.
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
  }
  void TearDown() override {
    timer.reset();
    queue.reset();
    DestroyWindow(window);
    current = nullptr;
  }

  void Make(std::int32_t interval_ms, bool enabled = true, TimerQueue::Options options = {}) {
    if (!options.clock) options.clock = [this] { return now_ms * 1'000'000; };
    timer.reset();
    queue.emplace(std::move(options));
    timer.emplace(window, 7, *queue, interval_ms, enabled);
    timer->SetOnTick([this] { ++ticks; });
  }
  // At `ms`, the waitable timer's wake-up or a WM_TIMER; the ticks so far.
  std::size_t RunDueAt(std::int64_t ms) {
    now_ms = ms;
    queue->RunDue();
    return ticks;
  }
  std::size_t WmTimerAt(std::int64_t ms) {
    now_ms = ms;
    timer->OnWmTimer();
    return ticks;
  }

  static inline Win32TimerTest* current = nullptr;
  HWND window = nullptr;
  std::int64_t now_ms = 0;
  std::optional<TimerQueue> queue;
  std::optional<Win32Timer> timer;
  std::size_t ticks = 0;
};

TEST_F(Win32TimerTest, TicksKeepToTheGridSetWhenArmedHoweverLateTheyRun) {
  Make(20);
  EXPECT_EQ(RunDueAt(19), 0u);
  EXPECT_EQ(RunDueAt(27), 1u);
  EXPECT_EQ(RunDueAt(39), 1u);  // the next is due at 40, not 47
  EXPECT_EQ(RunDueAt(40), 2u);
  EXPECT_EQ(RunDueAt(125), 3u);  // 60 to 120 missed: one tick
  EXPECT_EQ(RunDueAt(139), 3u);
  // 1000 more periods, served late by 0 to 16 ms each: 1000 ticks.
  for (std::int64_t period = 1; period <= 1000; ++period) RunDueAt(120 + 20 * period + period % 17);
  EXPECT_EQ(ticks, 1003u);
}

TEST_F(Win32TimerTest, WmTimerAndTheWaitableTimerServeEachDeadlineOnce) {
  Make(20);
  EXPECT_EQ(WmTimerAt(19), 0u);  // early
  EXPECT_EQ(RunDueAt(20), 1u);
  EXPECT_EQ(WmTimerAt(21), 1u);  // its deadline served already
  EXPECT_EQ(WmTimerAt(41), 2u);  // as in a modal loop
  EXPECT_EQ(RunDueAt(42), 2u);
  // Stopped in its own tick: neither way brings another, WM_TIMER already
  // queued or not.
  timer->SetOnTick([this] {
    ++ticks;
    timer->SetEnabled(false);
  });
  EXPECT_EQ(RunDueAt(60), 3u);
  EXPECT_EQ(WmTimerAt(100), 3u);
  EXPECT_EQ(RunDueAt(200), 3u);
}

// A new interval restarts the period too; an interval of 0 stops the ticks.
TEST_F(Win32TimerTest, AStopDropsADueTickAndArmingAgainStartsANewGrid) {
  Make(20);
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
  timer->SetInterval(0);
  EXPECT_EQ(WmTimerAt(110), 2u);
  EXPECT_EQ(RunDueAt(500), 2u);
}

TEST_F(Win32TimerTest, FallbackHoldsTheFinePeriodOnlyWhileATimerIsArmed) {
  std::vector<bool> calls;
  Make(50, false,
       {.high_resolution = false, .fine_period = [&calls](bool fine) { calls.push_back(fine); }});
  EXPECT_FALSE(queue->HighResolution());
  EXPECT_EQ(RunDueAt(200), 0u);  // created stopped
  EXPECT_TRUE(calls.empty());
  timer->SetEnabled(true);
  Win32Timer other(window, 8, *queue, 70, true);
  other.SetEnabled(false);
  EXPECT_EQ(calls, std::vector<bool>{true});
  timer->SetEnabled(false);
  EXPECT_EQ(calls, (std::vector<bool>{true, false}));
}

// On the real clock, through the message loop as the program runs it: over a
// second, a 20 ms timer whose ticks each take 5 ms ticks 50 times on its grid;
// one re-armed from each tick drifts to 45 here. Both ways of waiting.
TEST_F(Win32TimerTest, TicksOverASecondFollowTheGridWithoutDrift) {
  for (const bool high_resolution : {true, false}) {
    Make(20, true, {.high_resolution = high_resolution, .clock = TimerQueue::PerformanceCounterNs});
    ticks = 0;
    timer->SetOnTick([this] {
      ++ticks;
      Sleep(5);
    });
    for (ULONGLONG now, end = GetTickCount64() + 1005; (now = GetTickCount64()) < end;) {
      queue->Wait(static_cast<DWORD>(end - now));
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    EXPECT_GE(ticks, 47u) << high_resolution;
    EXPECT_LE(ticks, 50u) << high_resolution;
  }
}

}  // namespace
}  // namespace tollmere::window::win32
