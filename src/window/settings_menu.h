#pragma once
// The settings menu of both windows: each setting a submenu of common
// values with the one in force checked, then "Other…", which asks for any
// value and names one the items do not offer. Labels carry their mnemonic
// after "&"; in the box's menu the settings follow its edit actions (Undo,
// Redo, Cut, Copy, Paste), whose letters the top level avoids.

#include <cctype>
#include <span>
#include <string>
#include <string_view>

namespace tollmere::window {

struct MenuChoice {
  std::string_view label;
  std::string_view text;  // as SetSetting takes it
};

struct MenuSetting {
  std::string_view name;  // as SetSetting takes it
  std::string_view label;
  std::span<const MenuChoice> choices;
  std::string_view unit;    // after a value "Other" names: " s"
  std::string_view prompt;  // what "Other…" asks; empty: no "Other…"
};

// The keys people most often have held for them; any other by name.
inline constexpr MenuChoice kKeyChoices[] = {{"S&pace", "Space"},
                                             {"&Enter", "Enter"},
                                             {"&Tab", "Tab"},
                                             {"&Up arrow", "Up"},
                                             {"Dow&n arrow", "Down"},
                                             {"&Left arrow", "Left"},
                                             {"&Right arrow", "Right"},
                                             {"&W", "W"},
                                             {"&A", "A"},
                                             {"&S", "S"},
                                             {"&D", "D"},
                                             {"&E", "E"},
                                             {"Left S&hift", "LeftShift"},
                                             {"Left &Ctrl", "LeftCtrl"},
                                             {"Left A&lt", "LeftAlt"}};
inline constexpr MenuChoice kHoldChoices[] = {{"&Two intervals", "twice"},
                                              {"&Until stopped", "until-stopped"}};
inline constexpr MenuChoice kRepeatChoices[] = {{"O&nce", "1"},      {"&2 times", "2"},
                                                {"&3 times", "3"},   {"&5 times", "5"},
                                                {"1&0 times", "10"}, {"&Forever", "forever"}};
inline constexpr MenuChoice kGapChoices[] = {{"One &interval", "interval"}};
inline constexpr MenuChoice kCountdownChoices[] = {{"&None", "0"}, {"&1 s", "1"}, {"&2 s", "2"},
                                                   {"&3 s", "3"},  {"&4 s", "4"}, {"&5 s", "5"},
                                                   {"1&0 s", "10"}};

inline constexpr MenuSetting kSettingsMenu[] = {
    {"key", "&Key", kKeyChoices, "",
     "The key to hold, by name (for example F7, Q, Enter, LeftCtrl, Numpad5):"},
    {"hold", "&Hold", kHoldChoices, "", ""},
    {"repeat", "R&epeat", kRepeatChoices, " times", "How many holds in all, or forever:"},
    {"gap", "&Gap", kGapChoices, " ms",
     "How long the key stays up between holds, in ms, or interval:"},
    {"countdown", "Count&down", kCountdownChoices, " s",
     "Seconds before the key goes down, 0 to 60:"},
};

inline constexpr std::string_view kStopNowLabel = "&Stop now";

// Whether `choice` is the value in force, `now` (key names in any case).
inline bool InForce(const MenuChoice& choice, std::string_view now) {
  if (choice.text.size() != now.size()) return false;
  for (std::size_t i = 0; i < now.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(choice.text[i])) !=
        std::tolower(static_cast<unsigned char>(now[i])))
      return false;
  }
  return true;
}

// "&Other…", or "&Other (7 s)…" when no item is the value in force.
inline std::string OtherLabel(const MenuSetting& setting, const std::string& now, bool offered) {
  if (offered) return "&Other…";
  return "&Other (" + now + std::string(setting.unit) + ")…";
}

}  // namespace tollmere::window
