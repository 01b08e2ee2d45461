#include "app/win32/instance.h"

namespace tollmere::app {

namespace {

using Outcome = control::HandOver::Outcome;

// Start-up to a shown window takes well under a second; an error dialog
// at start-up can hold it back for as long as the user reads it.
constexpr ULONGLONG kWaitForWindowMs = 5000;
constexpr DWORD kPollMs = 50;

// Whether the wait took the mutex, the `index`th of the handles waited for.
// Abandoned: its holder ended without letting go, which is as good.
bool Acquired(DWORD wait_result, DWORD index = 0) {
  return wait_result == WAIT_OBJECT_0 + index || wait_result == WAIT_ABANDONED_0 + index;
}

}  // namespace

Instance::Instance()
    : mutex_(CreateMutexW(nullptr, FALSE, control::kInstanceMutex)),
      quit_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

Instance::~Instance() {
  if (waiter_.joinable()) {
    SetEvent(quit_);
    waiter_.join();
  }
  if (held_) ReleaseMutex(mutex_);
  if (mutex_ != nullptr) CloseHandle(mutex_);
  if (quit_ != nullptr) CloseHandle(quit_);
}

bool Instance::Take(DWORD wait_ms) {
  // Without the mutex (out of handles) each process takes its own way.
  if (!held_) held_ = mutex_ == nullptr || Acquired(WaitForSingleObject(mutex_, wait_ms));
  return held_;
}

void Instance::Serve(HWND window) {
  if (held_) {
    control::MarkAsRunning(window);
    return;
  }
  if (mutex_ == nullptr || quit_ == nullptr || waiter_.joinable()) return;
  // A mutex belongs to the thread that took it: this one keeps it until the
  // window's loop has ended.
  waiter_ = std::thread([this, window] {
    const HANDLE both[] = {quit_, mutex_};
    if (!Acquired(WaitForMultipleObjects(2, both, FALSE, INFINITE), 1)) return;
    control::MarkAsRunning(window);
    WaitForSingleObject(quit_, INFINITE);
    ReleaseMutex(mutex_);
  });
}

control::HandOver HandOverOrTake(const control::Request& request, Instance& instance) {
  const ULONGLONG until = GetTickCount64() + kWaitForWindowMs;
  while (!instance.Take()) {
    control::HandOver handed = control::HandOverToRunning(request);
    if (handed.outcome != Outcome::kNoWindow) return handed;
    if (GetTickCount64() >= until) {
      return {Outcome::kNoAnswer,
              "another Tollmere is starting or ending, and no window of it took the request "
              "within 5 s"};
    }
    if (instance.Take(kPollMs)) break;
  }
  return {};
}

}  // namespace tollmere::app
