#pragma once
// The window's context menu: the settings a click uses, each a submenu of
// common values with the one in force checked, and "Other…" asking for
// any other in a small box.

#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tollmere::window::win32 {

inline constexpr int kStopNowId = 999;

// What a menu item sets: (name, text) as Form1::SetSetting takes them. An
// empty `text` is "Other…", which asks for it.
struct MenuPick {
  std::string_view name;
  std::string_view text;
};

// What the item with the command `id` sets, or none.
std::optional<MenuPick> MenuPickFor(int id);

// The menu as it opens now: `setting` gives each setting's text in force;
// "Stop now" is enabled while `busy`. The caller destroys it.
HMENU BuildSettingsMenu(const std::function<std::string(const std::string&)>& setting, bool busy);

// Asks for the setting `name` in a small modal box over `owner`, with
// `now` filled in; nothing if the user cancels.
std::optional<std::string> AskForSetting(HWND owner, std::string_view name, const std::string& now);

}  // namespace tollmere::window::win32
