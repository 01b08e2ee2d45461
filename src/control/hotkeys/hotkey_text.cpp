#include "control/hotkeys/hotkey_text.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace tollmere::control {
namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

struct NamedKey {
  std::string_view name;  // lower case, as typed
  std::string_view shown;
  std::string_view keysym;
  std::uint8_t virtual_key;
};

// The keys with names; some have a short name too. The first of each is the
// one messages show.
constexpr std::array<NamedKey, 24> kNamedKeys{{
    {"insert", "Insert", "Insert", 0x2D},
    {"ins", "Insert", "Insert", 0x2D},
    {"delete", "Delete", "Delete", 0x2E},
    {"del", "Delete", "Delete", 0x2E},
    {"home", "Home", "Home", 0x24},
    {"end", "End", "End", 0x23},
    {"pageup", "PageUp", "Prior", 0x21},
    {"pgup", "PageUp", "Prior", 0x21},
    {"pagedown", "PageDown", "Next", 0x22},
    {"pgdn", "PageDown", "Next", 0x22},
    {"up", "Up", "Up", 0x26},
    {"down", "Down", "Down", 0x28},
    {"left", "Left", "Left", 0x25},
    {"right", "Right", "Right", 0x27},
    {"pause", "Pause", "Pause", 0x13},
    {"print", "Print", "Print", 0x2C},
    {"scrolllock", "ScrollLock", "Scroll_Lock", 0x91},
    {"menu", "Menu", "Menu", 0x5D},
    {"escape", "Escape", "Escape", 0x1B},
    {"esc", "Escape", "Escape", 0x1B},
    {"tab", "Tab", "Tab", 0x09},
    {"enter", "Enter", "Return", 0x0D},
    {"return", "Enter", "Return", 0x0D},
    {"backspace", "Backspace", "BackSpace", 0x08},
}};

// The key a lower-case name gives, or nothing.
std::optional<Hotkey> KeyFor(const std::string& name) {
  Hotkey key;
  const unsigned char first = name.empty() ? 0 : static_cast<unsigned char>(name[0]);
  if (name.size() == 1 && (std::isalnum(first) != 0)) {
    key.keysym = name;
    key.virtual_key = static_cast<std::uint8_t>(std::toupper(first));
    return key;
  }
  if (name.size() >= 2 && name.size() <= 3 && first == 'f' && name[1] != '0' &&
      std::all_of(name.begin() + 1, name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    const int number = std::stoi(name.substr(1));
    if (number < 1 || number > 24) return std::nullopt;
    // Appended, not "F" + ...: g++ 12 at -O3 warns wrongly about the latter.
    key.keysym = std::string("F").append(std::to_string(number));
    key.virtual_key = static_cast<std::uint8_t>(0x70 + number - 1);  // VK_F1...
    return key;
  }
  for (const NamedKey& named : kNamedKeys) {
    if (name == named.name) {
      key.keysym = std::string(named.keysym);
      key.virtual_key = named.virtual_key;
      return key;
    }
  }
  return std::nullopt;
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
      std::optional<Hotkey> key = KeyFor(part);
      if (!key) {
        return Refused(std::string("unknown key '") + std::string(rest) + "': use " + kHotkeyKeys);
      }
      key->ctrl = hotkey.ctrl;
      key->alt = hotkey.alt;
      key->shift = hotkey.shift;
      key->super = hotkey.super;
      return {std::move(key), {}};
    }
    bool* modifier = part == "ctrl" || part == "control"                  ? &hotkey.ctrl
                     : part == "alt"                                      ? &hotkey.alt
                     : part == "shift"                                    ? &hotkey.shift
                     : part == "super" || part == "win" || part == "meta" ? &hotkey.super
                                                                          : nullptr;
    if (modifier == nullptr) {
      return Refused(std::string("unknown modifier '") + std::string(rest.substr(0, plus)) +
                     "': use Ctrl, Alt, Shift or Super");
    }
    // Each modifier once: "Ctrl+Ctrl+H" is a typing mistake, not a wish.
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
  for (const NamedKey& named : kNamedKeys) {
    if (named.virtual_key == hotkey.virtual_key) return name + std::string(named.shown);
  }
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

}  // namespace tollmere::control
