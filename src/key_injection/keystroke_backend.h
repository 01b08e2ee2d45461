#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/error.h"

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
  // A key-down follows in a few seconds (a countdown has started). A back
  // end that must first ask the desktop asks now, while the user can still
  // answer in time; the others need nothing.
  virtual void Prepare() {}
  // Why KeyDown(vk) would fail here (no key of this keyboard types it), or
  // "". Asked when a key is chosen, long before it goes down.
  virtual std::string KeyProblem(std::uint8_t /*vk*/) { return {}; }
};

// What a back end raises for a virtual-key code no key of its keyboard has.
inline runtime::Error KeyNotOnKeyboard(std::uint8_t vk) {
  return runtime::Error(runtime::ErrorNumber::kKeyNotOnKeyboard,
                        "Key code " + std::to_string(vk) + " has no key on this keyboard");
}

// What a back end raises when it cannot be opened or stops working; the
// message says what is missing and what the user can do.
inline runtime::Error FacilityUnavailable(const std::string& message) {
  return runtime::Error(runtime::ErrorNumber::kKeystrokeFacilityUnavailable, message);
}

// Finds and opens a back end; throws runtime::Error (keystroke facility
// unavailable) with a message that says what is missing and what to do.
using BackendBinder = std::function<std::unique_ptr<KeystrokeBackend>()>;

}  // namespace tollmere::key_injection
