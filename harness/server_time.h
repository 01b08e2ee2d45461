#pragma once

#include <cstdint>

namespace tollmere::e2e {

// Milliseconds from `earlier` to `later` on the X server's 32-bit clock,
// which wraps about every 49 days.
inline std::int64_t ServerSpan(std::uint32_t earlier, std::uint32_t later) {
  return static_cast<std::int32_t>(later - earlier);
}

}  // namespace tollmere::e2e
