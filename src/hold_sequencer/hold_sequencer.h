#pragma once

#include <cstdint>
#include <string>

#include "hold_sequencer/form_controls.h"

namespace tollmere::hold_sequencer {

inline constexpr std::int32_t kSpaceKey = 32;
inline constexpr std::int16_t kCountdownStart = 4;
inline constexpr const char* kCountdownPrefix = "Starting in ";
inline constexpr const char* kIdleCaption = "Start";

// The counter and the handlers that turn a click on "Start" into a timed
// keystroke: a countdown of four ticks of Timer2 shown on the button, a
// key-down, two ticks of Timer1, the key-up. The state (idle, counting down,
// holding) is not stored: it follows from the timers and intCount, and a
// click is taken in every state.
class HoldSequencer {
 public:
  HoldSequencer(FormControls& controls, KeyProcedures& keys);

  void Command1_Click();
  void Timer2_Timer();
  void Timer1_Timer();
  void txtInterval_Change();

  std::int16_t Count() const noexcept { return intCount; }

 private:
  FormControls& controls_;
  KeyProcedures& keys_;
  std::int16_t intCount = 0;
  // The interval Timer1 last took, quoted when a new entry is refused.
  std::int32_t accepted_interval_ = 0;
};

// What the user is told when an entry cannot become the interval: too large
// for it, or negative; `still_ms` is the interval that stays in force.
std::string IntervalProblemMessage(bool negative, std::int32_t still_ms);

}  // namespace tollmere::hold_sequencer
