#include "hold_sequencer/hold_sequencer.h"

#include <algorithm>

#include "runtime/checked.h"
#include "runtime/convert.h"
#include "runtime/error.h"

namespace tollmere::hold_sequencer {

namespace rt = tollmere::runtime;

HoldSequencer::HoldSequencer(FormControls& controls, KeyProcedures& keys)
    : controls_(controls), keys_(keys) {}

void HoldSequencer::Command1_Click() {
  if (key_down_ || in_gap_) EndHold();
  holds_done_ = 0;
  if (settings_.countdown == 0) {
    // No countdown: the zero comes with the click.
    SetTimer(TimerId::kTimer2, false);
    keys_.PrepareKeys();
    controls_.SetCommand1Caption(kCountdownPrefix + rt::StrI2(0));
    PressHeldKey();
    return;
  }
  // The caption keeps its text until the next countdown tick.
  SetTimer(TimerId::kTimer2, true);
  intCount = settings_.countdown;
  keys_.PrepareKeys();
}

void HoldSequencer::Timer2_Timer() {
  rt::CheckedDecrement(intCount);
  controls_.SetCommand1Caption(kCountdownPrefix + rt::StrI2(intCount));
  if (intCount == 0) {
    PressHeldKey();
    SetTimer(TimerId::kTimer2, false);
  }
}

void HoldSequencer::PressHeldKey() {
  pressed_key_ = settings_.key;
  keys_.PressKey(pressed_key_);
  key_down_ = true;
  in_gap_ = false;
  intCount = 0;
  if (settings_.hold == HoldMode::kTwice) {
    SetTimer(TimerId::kTimer1, true);
  } else if (timer1_on_) {
    // Chosen during a gap, whose timer would end this hold too.
    SetTimer(TimerId::kTimer1, false);
  }
}

void HoldSequencer::Timer1_Timer() {
  if (in_gap_) {
    if (gap_ticks_) SetHoldTicks(accepted_interval_);
    PressHeldKey();
    return;
  }
  if (intCount == 1) {
    ++holds_done_;
    if (settings_.repeat == kRepeatForever || holds_done_ < settings_.repeat) {
      ReleaseForGap();
      return;
    }
    EndHold();
  }
  rt::CheckedIncrement(intCount);
}

void HoldSequencer::ReleaseForGap() {
  const std::int32_t gap = settings_.gap_ms.value_or(accepted_interval_);
  // Timer1 goes on at the interval's pace when the gap is one interval. A
  // gap of its own starts before the key-up, which waits for the display
  // server: the gap is timed from the release, not from its answer.
  if (gap != 0 && gap != accepted_interval_) SetHoldTicks(gap);
  keys_.ReleaseKey(pressed_key_);
  key_down_ = false;
  if (gap == 0) {
    PressHeldKey();
    return;
  }
  in_gap_ = true;
}

void HoldSequencer::SetHoldTicks(std::int32_t interval_ms) {
  controls_.SetTimer1Interval(interval_ms);
  gap_ticks_ = interval_ms != accepted_interval_;
}

void HoldSequencer::EndHold() {
  // The key first: a failure after it must not leave it down.
  if (key_down_) keys_.ReleaseKey(pressed_key_);
  key_down_ = false;
  in_gap_ = false;
  controls_.SetCommand1Caption(kIdleCaption);
  SetTimer(TimerId::kTimer1, false);
  if (gap_ticks_) SetHoldTicks(accepted_interval_);
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
    keys_.ReleaseKey(pressed_key_);
    key_down_ = false;
  }
  in_gap_ = false;
  SetTimer(TimerId::kTimer1, false);
  SetTimer(TimerId::kTimer2, false);
  if (gap_ticks_) SetHoldTicks(accepted_interval_);
  intCount = 0;
  controls_.SetCommand1Caption(kIdleCaption);
}

std::string HoldSequencer::Start() {
  if (Busy()) return {};
  // A hold until stopped needs no interval to end.
  if (accepted_interval_ == 0 && settings_.hold == HoldMode::kTwice) {
    const std::string message = NoIntervalMessage(settings_.key);
    controls_.ShowIntervalProblem(message);
    return message;
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
    // A gap of its own under way keeps its length; the next hold takes this.
    if (!gap_ticks_) controls_.SetTimer1Interval(interval);
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

std::string HoldSequencer::RefuseIntervalRequest(std::string_view text) {
  // Characters, as the box counts them, not bytes.
  const auto characters = std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  });
  if (characters > kTxtIntervalMaxLength) {
    RefuseLongText();
    return IntervalProblemMessage(IntervalProblem::kTooLong, accepted_interval_);
  }
  if (!Busy() || settings_.hold != HoldMode::kTwice) return {};
  try {
    if (rt::FpI4(rt::Val(std::string(text))) != 0) return {};
  } catch (const rt::Error&) {
    return {};  // the box says why
  }
  const std::string message = "Not changed while Tollmere counts down or holds: with 0 ms, " +
                              SettingText(settings_, "key") + " would stay down. Keeping " +
                              std::to_string(accepted_interval_) + " ms.";
  controls_.ShowIntervalProblem(message);
  return message;
}

void HoldSequencer::RefuseLongText() {
  controls_.ShowIntervalProblem(
      IntervalProblemMessage(IntervalProblem::kTooLong, accepted_interval_));
}

std::string HoldSequencer::SetSetting(std::string_view name, std::string_view text) {
  HoldSettings next = settings_;
  if (std::string refusal = ApplySetting(next, name, text); !refusal.empty()) return refusal;
  if (next.key != settings_.key) {
    if (std::string problem = keys_.KeyProblem(next.key); !problem.empty()) {
      return "--key: " + problem;
    }
  }
  settings_ = next;
  return {};
}

std::string NoIntervalMessage(std::uint8_t key) {
  if (key == kSpaceKey) return kNoIntervalMessage;
  HoldSettings settings;
  settings.key = key;
  const std::string name = SettingText(settings, "key");
  return "Not started: with an interval of 0 ms, " + name +
         " would stay down. Type an interval in the box, give one with --interval=MS, or "
         "choose --hold=until-stopped.";
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
