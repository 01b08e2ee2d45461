#include "hold_sequencer/hold_settings.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "key_injection/key_table.h"

namespace tollmere::hold_sequencer {
namespace {

namespace ki = tollmere::key_injection;

bool Same(std::string_view text, std::string_view word) {
  return text.size() == word.size() &&
         std::equal(text.begin(), text.end(), word.begin(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == b;
         });
}

// Plain digits from `low` to `high`; no sign, no spaces, no unit.
std::optional<std::int32_t> Number(std::string_view text, std::int32_t low, std::int32_t high) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::string KeyName(std::uint8_t vk) {
  const std::optional<ki::Key> key = ki::KeyByVk(vk);
  return key ? std::string(key->name) : std::to_string(vk);
}

constexpr std::int32_t kMost = std::numeric_limits<std::int32_t>::max();

}  // namespace

std::string ApplySetting(HoldSettings& settings, std::string_view name, std::string_view text) {
  const std::string shown(text);
  if (name == "key") {
    const std::optional<ki::Key> key = ki::KeyNamed(text);
    if (!key) return "--key: unknown key '" + shown + "': use one of " + ki::kKeyNames;
    // Refused rather than put back on the way out: a lock left switched by a
    // way out nothing can catch would have the user typing capitals.
    if (ki::IsLockKey(key->vk)) {
      return "--key: " + std::string(key->name) +
             " is a lock key: each hold would switch it on or off, and Tollmere does not hold "
             "lock keys. Choose another key.";
    }
    settings.key = key->vk;
  } else if (name == "hold") {
    if (Same(text, "twice")) {
      settings.hold = HoldMode::kTwice;
    } else if (Same(text, "until-stopped")) {
      settings.hold = HoldMode::kUntilStopped;
    } else {
      return "--hold: '" + shown + "' is neither twice nor until-stopped";
    }
  } else if (name == "repeat") {
    const std::optional<std::int32_t> count = Number(text, 1, kMost);
    if (Same(text, "forever")) {
      settings.repeat = kRepeatForever;
    } else if (count) {
      settings.repeat = *count;
    } else {
      return "--repeat: '" + shown + "' is not a count of holds from 1 to 2147483647, or forever";
    }
  } else if (name == "gap") {
    const std::optional<std::int32_t> ms = Number(text, 0, kMost);
    if (Same(text, "interval")) {
      settings.gap_ms.reset();
    } else if (ms) {
      settings.gap_ms = ms;
    } else {
      return "--gap: '" + shown + "' is not 0 to 2147483647 ms, or interval";
    }
  } else if (name == "countdown") {
    const std::optional<std::int32_t> seconds = Number(text, 0, kCountdownMax);
    if (!seconds) {
      return "--countdown: '" + shown + "' is not 0 to " + std::to_string(kCountdownMax) +
             " seconds";
    }
    settings.countdown = static_cast<std::int16_t>(*seconds);
  } else {
    return "no setting is called '" + std::string(name) + "'";
  }
  return {};
}

std::string SettingText(const HoldSettings& settings, std::string_view name) {
  if (name == "key") return KeyName(settings.key);
  if (name == "hold") return settings.hold == HoldMode::kTwice ? "twice" : "until-stopped";
  if (name == "repeat") {
    return settings.repeat == kRepeatForever ? "forever" : std::to_string(settings.repeat);
  }
  if (name == "gap") return settings.gap_ms ? std::to_string(*settings.gap_ms) : "interval";
  if (name == "countdown") return std::to_string(settings.countdown);
  return {};
}

std::string Describe(const HoldSettings& settings) {
  std::string text =
      "Holds " + (settings.key == 32 ? std::string("the space bar") : KeyName(settings.key));
  text += settings.hold == HoldMode::kTwice ? " for two intervals" : " until stopped";
  // Repeats follow a hold that ends by itself.
  if (settings.hold == HoldMode::kTwice && settings.repeat != 1) {
    text += settings.repeat == kRepeatForever ? ", again and again until stopped"
                                              : ", " + std::to_string(settings.repeat) + " times";
    text += settings.gap_ms ? ", " + std::to_string(*settings.gap_ms) + " ms apart"
                            : ", one interval apart";
  }
  text += ", in the window that has the keyboard focus. ";
  if (settings.countdown == 0) return text + "Starts at once.";
  return text + "Starts after a " + std::to_string(settings.countdown) + "-second countdown.";
}

}  // namespace tollmere::hold_sequencer
