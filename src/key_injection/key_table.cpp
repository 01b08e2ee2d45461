#include "key_injection/key_table.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace tollmere::key_injection {
namespace {

struct Alias {
  std::string_view name;  // lower case
  std::uint8_t vk;
};

// Other names people use for the same keys.
constexpr Alias kAliases[] = {
    {"esc", 0x1B},
    {"return", 0x0D},
    {"spacebar", 0x20},
    {"pgup", 0x21},
    {"pgdn", 0x22},
    {"ins", 0x2D},
    {"del", 0x2E},
    {"prtsc", 0x2C},
    {"shift", 0xA0},
    {"lshift", 0xA0},
    {"rshift", 0xA1},
    {"ctrl", 0xA2},
    {"control", 0xA2},
    {"lctrl", 0xA2},
    {"leftcontrol", 0xA2},
    {"rctrl", 0xA3},
    {"rightcontrol", 0xA3},
    {"alt", 0xA4},
    {"lalt", 0xA4},
    {"ralt", 0xA5},
    {"altgr", 0xA5},
    {"super", 0x5B},
    {"win", 0x5B},
    {"meta", 0x5B},
    {"lsuper", 0x5B},
    {"leftwin", 0x5B},
    {"rsuper", 0x5C},
    {"rightwin", 0x5C},
    {"quote", 0xDE},
    {"backquote", 0xC0},
    {"dot", 0xBE},
    {"equals", 0xBB},
    {"leftbracket", 0xDB},
    {"rightbracket", 0xDD},
    {";", 0xBA},
    {"=", 0xBB},
    {",", 0xBC},
    {"-", 0xBD},
    {".", 0xBE},
    {"/", 0xBF},
    {"`", 0xC0},
    {"[", 0xDB},
    {"\\", 0xDC},
    {"]", 0xDD},
    {"'", 0xDE},
};

bool SameName(std::string_view lower, std::string_view shown) {
  return lower.size() == shown.size() &&
         std::equal(lower.begin(), lower.end(), shown.begin(), [](char a, char b) {
           return a == static_cast<char>(std::tolower(static_cast<unsigned char>(b)));
         });
}

}  // namespace

std::optional<Key> KeyNamed(std::string_view name) {
  std::string lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const Alias& alias : kAliases) {
    if (alias.name == lower) return KeyByVk(alias.vk);
  }
  for (int vk = 1; vk < 256; ++vk) {
    const std::optional<Key> key = KeyByVk(static_cast<std::uint8_t>(vk));
    if (key && SameName(lower, key->name)) return key;
  }
  return std::nullopt;
}

}  // namespace tollmere::key_injection
