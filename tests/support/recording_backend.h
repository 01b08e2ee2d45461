#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "key_injection/keystroke_backend.h"

namespace tollmere::key_injection {

struct RecordedKey {
  std::uint8_t vk;
  bool down;
  std::chrono::steady_clock::time_point at;

  friend bool operator==(const RecordedKey& a, const RecordedKey& b) {
    return a.vk == b.vk && a.down == b.down;  // the time is for reports only
  }
};

// A back end that injects nothing and keeps a log of what it was asked to
// do, shared with the test that created it.
class RecordingBackend final : public KeystrokeBackend {
 public:
  using Log = std::vector<RecordedKey>;
  explicit RecordingBackend(std::shared_ptr<Log> log) : log_(std::move(log)) {}

  void KeyDown(std::uint8_t vk) override { Add(vk, true); }
  void KeyUp(std::uint8_t vk) override { Add(vk, false); }
  std::string_view Name() const override { return "recording"; }

 private:
  void Add(std::uint8_t vk, bool down) {
    log_->push_back({vk, down, std::chrono::steady_clock::now()});
  }
  std::shared_ptr<Log> log_;
};

}  // namespace tollmere::key_injection
