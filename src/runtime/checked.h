#pragma once

#include <cstdint>

namespace tollmere::runtime {

// 16-bit arithmetic that never wraps: on overflow the target keeps its value
// and an overflow error is raised.
void CheckedIncrement(std::int16_t& value);
void CheckedDecrement(std::int16_t& value);

}  // namespace tollmere::runtime
