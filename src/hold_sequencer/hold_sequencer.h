#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "hold_sequencer/form_controls.h"
#include "hold_sequencer/hold_settings.h"

namespace tollmere::hold_sequencer {

inline constexpr std::int32_t kSpaceKey = 32;
inline constexpr const char* kCountdownPrefix = "Starting in ";
inline constexpr const char* kIdleCaption = "Start";
// Why a start from outside the window is refused while the interval is 0:
// nobody is looking at the box, and that hold would never end by itself.
inline constexpr const char* kNoIntervalMessage =
    "Not started: with an interval of 0 ms the space bar would stay down. Type an interval in "
    "the box, or give one with --interval=MS.";
// The most characters the interval box holds.
inline constexpr int kTxtIntervalMaxLength = 32767;

// The counter and the handlers that turn a click on "Start" into a timed
// keystroke: a countdown of four ticks of Timer2 shown on the button, a
// key-down, two ticks of Timer1, the key-up. A click is taken in every
// state: during a hold it lets the key up first, so that no second click
// can keep the key down for good.
//
// The settings change the key, the countdown's length, and the hold: until
// stopped (no Timer1), or again after a gap with the key up, with no
// countdown in between. The key that goes up is always the one that went
// down, whatever the settings became meanwhile.
class HoldSequencer {
 public:
  HoldSequencer(FormControls& controls, KeyProcedures& keys);

  void Command1_Click();
  void Timer2_Timer();
  void Timer1_Timer();
  void txtInterval_Change();
  // A text longer than kTxtIntervalMaxLength, kept out of the box: cut, it
  // would read as another number. Says so; the interval stays.
  void RefuseLongText();

  // Requests from outside the window (a hotkey, another process). Start does
  // what a click does when idle and nothing otherwise: unlike a click, a
  // request to start never starts a countdown or a hold over. With an
  // interval of 0 it is refused: it returns kNoIntervalMessage, also shown
  // beside the box; otherwise "". Stop ends a countdown, or a hold at once
  // with the key-up first, and shows "Start"; idle, it does nothing. Toggle
  // starts when idle, else stops. None of them changes what the handlers
  // above do.
  std::string Start();
  void Stop();
  std::string Toggle();
  // Checks an interval text from outside before it goes into the box: one
  // longer than the box takes, or one of 0 ms while busy, which would leave
  // the key down for good, is refused and shown beside the box (the
  // interval stays); returns the refusal, or "".
  std::string RefuseIntervalRequest(std::string_view text);
  // Counting down or holding (also a hold whose Timer1 has interval 0).
  bool Busy() const noexcept { return timer1_on_ || timer2_on_ || key_down_; }

  std::int16_t Count() const noexcept { return intCount; }

  // Takes effect at the next click; a hold under way keeps its key. The
  // refusal, or "".
  std::string SetSetting(std::string_view name, std::string_view text);
  const HoldSettings& Settings() const noexcept { return settings_; }

 private:
  void SetTimer(TimerId timer, bool enabled);
  // The key-up that ends a hold, and the idle caption.
  void EndHold();
  // The key-down at the countdown's 0, and at each repeat.
  void PressHeldKey();
  // After a hold that is not the last: the key-up, then the gap.
  void ReleaseForGap();
  void SetHoldTicks(std::int32_t interval_ms);

  FormControls& controls_;
  KeyProcedures& keys_;
  std::int16_t intCount = 0;
  // What the handlers last set, so that Stop knows what to undo.
  bool timer1_on_ = false;
  bool timer2_on_ = false;
  bool key_down_ = false;
  // The interval Timer1 last took, quoted when a new entry is refused.
  std::int32_t accepted_interval_ = 0;
  HoldSettings settings_;
  std::uint8_t pressed_key_ = 32;  // what the next key-up releases
  std::int32_t holds_done_ = 0;
  bool in_gap_ = false;
  // Timer1 runs at the gap's length rather than the interval's.
  bool gap_ticks_ = false;
};

// Why a start from outside is refused with an interval of 0, naming `key`.
std::string NoIntervalMessage(std::uint8_t key);

enum class IntervalProblem { kTooLarge, kNegative, kTooLong };

// What the user is told when an entry cannot become the interval; `still_ms`
// is the interval that stays in force.
std::string IntervalProblemMessage(IntervalProblem problem, std::int32_t still_ms);

}  // namespace tollmere::hold_sequencer
