#include "hold_sequencer/hold_sequencer.h"

#include "runtime/checked.h"
#include "runtime/convert.h"
#include "runtime/error.h"

namespace tollmere::hold_sequencer {

namespace rt = tollmere::runtime;

HoldSequencer::HoldSequencer(FormControls& controls, KeyProcedures& keys)
    : controls_(controls), keys_(keys) {}

void HoldSequencer::Command1_Click() {
  if (key_down_) EndHold();
  // The caption keeps its text until the next countdown tick.
  SetTimer(TimerId::kTimer2, true);
  intCount = kCountdownStart;
  keys_.PrepareKeys();
}

void HoldSequencer::Timer2_Timer() {
  rt::CheckedDecrement(intCount);
  controls_.SetCommand1Caption(kCountdownPrefix + rt::StrI2(intCount));
  if (intCount == 0) {
    keys_.PressKey(kSpaceKey);
    key_down_ = true;
    SetTimer(TimerId::kTimer1, true);
    SetTimer(TimerId::kTimer2, false);
  }
}

void HoldSequencer::Timer1_Timer() {
  if (intCount == 1) EndHold();
  rt::CheckedIncrement(intCount);
}

void HoldSequencer::EndHold() {
  // The key first: a failure after it must not leave it down.
  keys_.ReleaseKey(kSpaceKey);
  key_down_ = false;
  controls_.SetCommand1Caption(kIdleCaption);
  SetTimer(TimerId::kTimer1, false);
}

void HoldSequencer::SetTimer(TimerId timer, bool enabled) {
  controls_.SetTimerEnabled(timer, enabled);
  (timer == TimerId::kTimer1 ? timer1_on_ : timer2_on_) = enabled;
}

void HoldSequencer::Stop() {
  if (!Busy()) return;
  // The key first: it is what the user wants ended, and a failure after it
  // must not leave it down.
  if (key_down_) {
    keys_.ReleaseKey(kSpaceKey);
    key_down_ = false;
  }
  SetTimer(TimerId::kTimer1, false);
  SetTimer(TimerId::kTimer2, false);
  intCount = 0;
  controls_.SetCommand1Caption(kIdleCaption);
}

std::string HoldSequencer::Start() {
  if (Busy()) return {};
  if (accepted_interval_ == 0) {
    controls_.ShowIntervalProblem(kNoIntervalMessage);
    return kNoIntervalMessage;
  }
  Command1_Click();
  return {};
}

std::string HoldSequencer::Toggle() {
  if (!Busy()) return Start();
  Stop();
  return {};
}

void HoldSequencer::txtInterval_Change() {
  const std::string text = controls_.TxtIntervalText();
  // A number the interval cannot take is the user's typing, not a reason to
  // end the program: say so beside the box and keep the interval in force.
  double value = 0;
  try {
    value = rt::Val(text);
    const std::int32_t interval = rt::FpI4(value);
    controls_.SetTimer1Interval(interval);
    accepted_interval_ = interval;
  } catch (const rt::Error& error) {
    if (error.number() == rt::ErrorNumber::kOverflow) {
      // Past the range on the negative side is a negative entry, whatever its
      // size; when even the number could not be read, its sign still tells.
      const bool negative = value < 0 || rt::ValHasMinus(text);
      controls_.ShowIntervalProblem(IntervalProblemMessage(
          negative ? IntervalProblem::kNegative : IntervalProblem::kTooLarge, accepted_interval_));
      return;
    }
    if (error.number() == rt::ErrorNumber::kInvalidPropertyValue) {
      controls_.ShowIntervalProblem(
          IntervalProblemMessage(IntervalProblem::kNegative, accepted_interval_));
      return;
    }
    throw;
  }
  controls_.ShowIntervalProblem("");
}

void HoldSequencer::RefuseLongText() {
  controls_.ShowIntervalProblem(
      IntervalProblemMessage(IntervalProblem::kTooLong, accepted_interval_));
}

std::string IntervalProblemMessage(IntervalProblem problem, std::int32_t still_ms) {
  std::string message;
  switch (problem) {
    case IntervalProblem::kTooLarge: message = "Too large: use 0 to 2147483647 ms."; break;
    case IntervalProblem::kNegative: message = "Can't be negative: use 0 to 2147483647 ms."; break;
    case IntervalProblem::kTooLong:
      message = "Too long: the box holds " + std::to_string(kTxtIntervalMaxLength) + " characters.";
      break;
  }
  return message + " Keeping " + std::to_string(still_ms) + " ms.";
}

}  // namespace tollmere::hold_sequencer
