#include "control/hotkeys/hotkey_text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace tollmere::main_window {
namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

// Named keys by their lower-case names; more than one name may give a keysym.
constexpr std::array<std::pair<std::string_view, std::string_view>, 14> kNamedKeys{{
    {"pause", "Pause"},
    {"insert", "Insert"},
    {"ins", "Insert"},
    {"home", "Home"},
    {"end", "End"},
    {"delete", "Delete"},
    {"del", "Delete"},
    {"pageup", "Prior"},
    {"pgup", "Prior"},
    {"pagedown", "Next"},
    {"pgdn", "Next"},
    {"print", "Print"},
    {"scrolllock", "Scroll_Lock"},
    {"menu", "Menu"},
}};

// The keysym for a key name, or empty.
std::string KeysymFor(const std::string& name) {
  if (name.size() == 1 && (std::isalnum(static_cast<unsigned char>(name[0])) != 0)) return name;
  if (name.size() >= 2 && name.size() <= 3 && name[0] == 'f' &&
      std::all_of(name.begin() + 1, name.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
      name[1] != '0') {
    const int number = std::stoi(name.substr(1));
    // Appended, not "F" + ...: g++ 12 at -O3 warns wrongly about the latter.
    if (number >= 1 && number <= 24) return std::string("F").append(std::to_string(number));
  }
  for (const auto& [key, keysym] : kNamedKeys) {
    if (name == key) return std::string(keysym);
  }
  return {};
}

HotkeyParse Refused(std::string why) { return {std::nullopt, std::move(why)}; }

}  // namespace

HotkeyParse ParseHotkey(std::string_view text) {
  Hotkey hotkey;
  std::string_view rest = text;
  for (;;) {
    const std::size_t plus = rest.find('+');
    const std::string part = Lower(rest.substr(0, plus));
    if (part.empty()) {
      return Refused(std::string("'") + std::string(text) +
                     "' has an empty part; write it as F8 or Ctrl+Alt+H");
    }
    if (plus == std::string_view::npos) {
      hotkey.keysym = KeysymFor(part);
      if (hotkey.keysym.empty()) {
        return Refused(std::string("unknown key '") + std::string(rest) +
                       "': use F1-F24, A-Z, 0-9, Pause, Insert, Home, End, Delete, PageUp, "
                       "PageDown, Print, ScrollLock or Menu");
      }
      return {hotkey, {}};
    }
    bool* modifier = part == "ctrl" || part == "control" ? &hotkey.ctrl
                     : part == "alt"                     ? &hotkey.alt
                     : part == "shift"                   ? &hotkey.shift
                     : part == "super" || part == "meta" ? &hotkey.super
                                                         : nullptr;
    if (modifier == nullptr) {
      return Refused(std::string("unknown modifier '") + std::string(rest.substr(0, plus)) +
                     "': use Ctrl, Alt, Shift or Super");
    }
    if (*modifier) {
      return Refused(std::string("'") + std::string(text) + "' names a modifier twice");
    }
    *modifier = true;
    rest.remove_prefix(plus + 1);
  }
}

std::string HotkeyName(const Hotkey& hotkey) {
  std::string name;
  if (hotkey.ctrl) name += "Ctrl+";
  if (hotkey.alt) name += "Alt+";
  if (hotkey.shift) name += "Shift+";
  if (hotkey.super) name += "Super+";
  const std::string& key = hotkey.keysym;
  if (key.size() == 1)
    return name + static_cast<char>(std::toupper(static_cast<unsigned char>(key[0])));
  if (key == "Prior") return name + "PageUp";
  if (key == "Next") return name + "PageDown";
  if (key == "Scroll_Lock") return name + "ScrollLock";
  return name + key;
}

std::string PortalTrigger(const Hotkey& hotkey) {
  std::string trigger;
  if (hotkey.ctrl) trigger += "CTRL+";
  if (hotkey.alt) trigger += "ALT+";
  if (hotkey.shift) trigger += "SHIFT+";
  if (hotkey.super) trigger += "LOGO+";
  return trigger + hotkey.keysym;
}

}  // namespace tollmere::main_window
