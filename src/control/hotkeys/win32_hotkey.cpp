#include "control/hotkeys/win32_hotkey.h"

#include <array>
#include <cctype>
#include <string>
#include <utility>

namespace tollmere::main_window {

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::optional<unsigned> Modifier(const std::string& name) {
  if (name == "ctrl" || name == "control") return kHotkeyControl;
  if (name == "alt") return kHotkeyAlt;
  if (name == "shift") return kHotkeyShift;
  if (name == "win" || name == "super") return kHotkeyWin;
  return std::nullopt;
}

std::optional<unsigned> Key(const std::string& name) {
  if (name.size() == 1) {
    const char c = name[0];
    if (c >= 'a' && c <= 'z') return static_cast<unsigned>(c - 'a' + 'A');
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c);
    return std::nullopt;
  }
  if (name[0] == 'f' && name.size() <= 3 && std::isdigit(static_cast<unsigned char>(name[1])) &&
      name[1] != '0') {
    int n = 0;
    for (std::size_t i = 1; i < name.size(); ++i) {
      if (!std::isdigit(static_cast<unsigned char>(name[i]))) return std::nullopt;
      n = n * 10 + (name[i] - '0');
    }
    if (n >= 1 && n <= 24) return 0x70u + static_cast<unsigned>(n - 1);  // VK_F1...
    return std::nullopt;
  }
  static constexpr std::array<std::pair<std::string_view, unsigned>, 17> kNamed{{
      {"insert", 0x2D},
      {"delete", 0x2E},
      {"home", 0x24},
      {"end", 0x23},
      {"pageup", 0x21},
      {"pagedown", 0x22},
      {"up", 0x26},
      {"down", 0x28},
      {"left", 0x25},
      {"right", 0x27},
      {"pause", 0x13},
      {"escape", 0x1B},
      {"esc", 0x1B},
      {"tab", 0x09},
      {"enter", 0x0D},
      {"return", 0x0D},
      {"backspace", 0x08},
  }};
  for (const auto& [key_name, code] : kNamed) {
    if (name == key_name) return code;
  }
  return std::nullopt;
}

}  // namespace

std::optional<Win32Hotkey> ParseWin32Hotkey(std::string_view text) {
  Win32Hotkey hotkey;
  while (true) {
    const std::size_t plus = text.find('+');
    const std::string part = Lower(text.substr(0, plus));
    if (part.empty()) return std::nullopt;
    if (plus == std::string_view::npos) {
      const auto key = Key(part);
      if (!key) return std::nullopt;
      hotkey.virtual_key = *key;
      return hotkey;
    }
    const auto modifier = Modifier(part);
    // Each modifier once: "Ctrl+Ctrl+H" is a typing mistake, not a wish.
    if (!modifier || (hotkey.modifiers & *modifier) != 0) return std::nullopt;
    hotkey.modifiers |= *modifier;
    text.remove_prefix(plus + 1);
  }
}

}  // namespace tollmere::main_window
