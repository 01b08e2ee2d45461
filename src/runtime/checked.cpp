#include "runtime/checked.h"

#include <limits>

#include "runtime/error.h"

namespace tollmere::runtime {

void CheckedIncrement(std::int16_t& value) {
  if (value == std::numeric_limits<std::int16_t>::max()) RaiseOverflow();
  ++value;
}

void CheckedDecrement(std::int16_t& value) {
  if (value == std::numeric_limits<std::int16_t>::min()) RaiseOverflow();
  --value;
}

}  // namespace tollmere::runtime
