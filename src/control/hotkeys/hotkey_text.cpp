#include "control/hotkeys/hotkey_text.h"

#include <algorithm>
#include <cctype>

#include "key_injection/key_table.h"

namespace tollmere::control {
namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

// The key a name gives, or nothing; modifiers are not keys of a hotkey.
std::optional<Hotkey> KeyFor(std::string_view name) {
  const std::optional<key_injection::Key> key = key_injection::KeyNamed(name);
  if (!key) return std::nullopt;
  Hotkey hotkey;
  hotkey.keysym = std::string(key->keysym_name);
  hotkey.virtual_key = key->vk;
  return hotkey;
}

// Which modifier of a hotkey a held key is, if it is one.
bool* ModifierOf(Hotkey& hotkey, std::uint8_t vk) {
  switch (vk) {
    case 0xA0:
    case 0xA1: return &hotkey.shift;
    case 0xA2:
    case 0xA3: return &hotkey.ctrl;
    case 0xA4:
    case 0xA5: return &hotkey.alt;
    case 0x5B:
    case 0x5C: return &hotkey.super;
    default: return nullptr;
  }
}

HotkeyParse Refused(std::string why) { return {std::nullopt, std::move(why)}; }

}  // namespace

std::string HotkeyClash(const Hotkey& hotkey, std::uint8_t held_vk) {
  const std::optional<key_injection::Key> held = key_injection::KeyByVk(held_vk);
  const std::string held_name = held ? std::string(held->name) : std::to_string(held_vk);
  Hotkey copy = hotkey;
  const bool* modifier = ModifierOf(copy, held_vk);
  if (hotkey.virtual_key != held_vk && (modifier == nullptr || !*modifier)) return {};
  return HotkeyName(hotkey) + " uses " + held_name +
         ", the key Tollmere holds: its own key-down would work the hotkey. Choose another "
         "hotkey or another key";
}

Hotkey AsPressedWhileHeld(const Hotkey& hotkey) {
  Hotkey pressed = hotkey;
  if (bool* modifier = ModifierOf(pressed, hotkey.held_modifier)) *modifier = true;
  return pressed;
}

HotkeyParse ParseHotkey(std::string_view text, std::uint8_t held_vk) {
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
      const std::optional<key_injection::Key> named = key_injection::KeyNamed(part);
      if (named && named->modifier) {
        return Refused(std::string("'") + std::string(rest) +
                       "' is a modifier; a hotkey ends with another key, as in Ctrl+F8");
      }
      std::optional<Hotkey> key = KeyFor(part);
      if (!key) {
        return Refused(std::string("unknown key '") + std::string(rest) + "': use one of " +
                       key_injection::kKeyNames);
      }
      key->ctrl = hotkey.ctrl;
      key->alt = hotkey.alt;
      key->shift = hotkey.shift;
      key->super = hotkey.super;
      if (std::string clash = HotkeyClash(*key, held_vk); !clash.empty()) return Refused(clash);
      if (ModifierOf(*key, held_vk) != nullptr) key->held_modifier = held_vk;
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
  const std::optional<key_injection::Key> key = key_injection::KeyByVk(hotkey.virtual_key);
  return name + (key ? std::string(key->name) : hotkey.keysym);
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
