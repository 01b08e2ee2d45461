#pragma once
// One window per session takes the requests: the one whose process holds
// the named mutex control::kInstanceMutex. Taking it before the window opens
// closes the gap in which two plain starts at once would each find no window
// and open one; a window opened with --new-window waits in line for it, so
// requests reach it once the first window closes.

#include <windows.h>

#include <thread>

#include "control/win32/hand_over.h"

namespace tollmere::app {

class Instance {
 public:
  Instance();
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  // Takes the mutex if no other process holds it, waiting up to `wait_ms`.
  bool Take(DWORD wait_ms = 0);
  bool Held() const { return held_; }

  // Marks `window` as the one requests go to if this process holds the
  // mutex; else takes it on a thread of its own once it is free, then marks.
  void Serve(HWND window);

 private:
  HANDLE mutex_ = nullptr;
  HANDLE quit_ = nullptr;
  bool held_ = false;
  std::thread waiter_;
};

// Hands `request` to the window that takes requests; or takes `instance`,
// when no other process holds it, and answers kNoWindow. A holder that shows
// no window yet (starting) or no more (ending) is waited for a few seconds.
control::HandOver HandOverOrTake(const control::Request& request, Instance& instance);

}  // namespace tollmere::app
