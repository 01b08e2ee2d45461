#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace tollmere::key_injection {

// One way of putting a key event into the system-wide keyboard input, as if
// typed. `vk` is a virtual-key code (32 is the space bar). Implementations
// deliver each event before returning, so timing is the caller's.
class KeystrokeBackend {
 public:
  virtual ~KeystrokeBackend() = default;
  virtual void KeyDown(std::uint8_t vk) = 0;
  virtual void KeyUp(std::uint8_t vk) = 0;
  virtual std::string_view Name() const = 0;
};

// Finds and opens a back end; throws runtime::Error (keystroke facility
// unavailable) with a message that says what is missing and what to do.
using BackendBinder = std::function<std::unique_ptr<KeystrokeBackend>()>;

}  // namespace tollmere::key_injection
