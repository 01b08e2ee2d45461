#pragma once
// What a click does, beyond the interval: which key, how long it is held,
// how often, and how long the countdown runs. Each has a default that keeps
// the window's own behaviour; each is set from text, the same text on every
// way of control.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tollmere::hold_sequencer {

enum class HoldMode { kTwice, kUntilStopped };

// `repeat` for holds that go on until stopped.
inline constexpr std::int32_t kRepeatForever = 0;
inline constexpr std::int16_t kCountdownMax = 60;

struct HoldSettings {
  std::uint8_t key = 32;  // virtual-key code: the space bar
  HoldMode hold = HoldMode::kTwice;
  std::int32_t repeat = 1;             // holds in all, or kRepeatForever
  std::optional<std::int32_t> gap_ms;  // key up between holds; none: one interval
  std::int16_t countdown = 4;          // seconds

  bool operator==(const HoldSettings&) const = default;
};

// The settings by name, as --NAME=TEXT gives them.
inline constexpr std::string_view kSettingNames[] = {"key", "hold", "repeat", "gap", "countdown"};

// Sets `name` from `text` ("A", "until-stopped", "forever", "250", "0"), or
// says why not and leaves `settings` as they were.
std::string ApplySetting(HoldSettings& settings, std::string_view name, std::string_view text);

// The text ApplySetting takes for the value in force: "Space", "twice",
// "1", "interval", "4"; "" for a name that is no setting.
std::string SettingText(const HoldSettings& settings, std::string_view name);

// What a click will do, in a sentence or two: "Holds A until stopped. Starts
// after a 4-second countdown."
std::string Describe(const HoldSettings& settings);

}  // namespace tollmere::hold_sequencer
