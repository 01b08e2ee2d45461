#include "window/win32/settings_menu.h"

#include <iterator>
#include <vector>

#include "runtime/win32/text.h"
#include "window/settings_menu.h"
#include "window/win32/dialog_template.h"

namespace tollmere::window::win32 {

namespace {

using runtime::win32::Narrow;
using runtime::win32::Widen;

constexpr int kFirstChoiceId = 1000;
// Each setting's items take ids from kFirstChoiceId + its index * kIdsEach;
// the one past its choices is "Other…".
constexpr int kIdsEach = 100;

void Append(HMENU menu, UINT id, const std::wstring& label, bool checked, bool enabled = true) {
  MENUITEMINFOW item{};
  item.cbSize = sizeof item;
  item.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_STRING;
  item.fType = MFT_STRING | MFT_RADIOCHECK;
  item.fState = (checked ? MFS_CHECKED : 0u) | (enabled ? 0u : MFS_DISABLED);
  item.wID = id;
  item.dwTypeData = const_cast<wchar_t*>(label.c_str());
  InsertMenuItemW(menu, GetMenuItemCount(menu), TRUE, &item);
}

struct Asked {
  std::wstring prompt;
  std::wstring text;
};

constexpr int kPromptId = 100;
constexpr int kTextId = 101;

INT_PTR CALLBACK AskProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    const auto* asked = reinterpret_cast<const Asked*>(lparam);
    SetWindowLongPtrW(dialog, DWLP_USER, lparam);
    SetDlgItemTextW(dialog, kPromptId, asked->prompt.c_str());
    SetDlgItemTextW(dialog, kTextId, asked->text.c_str());
    return TRUE;  // the focus to the box, its text selected
  }
  if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
    auto* asked = reinterpret_cast<Asked*>(GetWindowLongPtrW(dialog, DWLP_USER));
    HWND box = GetDlgItem(dialog, kTextId);
    asked->text.assign(static_cast<std::size_t>(GetWindowTextLengthW(box)) + 1, L'\0');
    asked->text.resize(static_cast<std::size_t>(
        GetWindowTextW(box, asked->text.data(), static_cast<int>(asked->text.size()))));
    EndDialog(dialog, LOWORD(wparam));
    return TRUE;
  }
  return FALSE;
}

// The box's template, made in memory: the question, the answer, OK and Cancel.
std::vector<WORD> AskTemplate() {
  return DialogTemplate(
      DS_CENTER, 220, 62, 9,
      {{SS_LEFT, 7, 7, 206, 18, kPromptId, 0x0082, L""},
       {WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 7, 26, 206, 12, kTextId, 0x0081, L""},
       {WS_TABSTOP | BS_DEFPUSHBUTTON, 109, 43, 50, 14, IDOK, 0x0080, L"OK"},
       {WS_TABSTOP | BS_PUSHBUTTON, 163, 43, 50, 14, IDCANCEL, 0x0080, L"Cancel"}});
}

}  // namespace

std::optional<MenuPick> MenuPickFor(int id) {
  const int index = (id - kFirstChoiceId) / kIdsEach;
  const int item = (id - kFirstChoiceId) % kIdsEach;
  if (id < kFirstChoiceId || index >= static_cast<int>(std::size(kSettingsMenu))) return {};
  const MenuSetting& setting = kSettingsMenu[index];
  if (item > static_cast<int>(setting.choices.size()) ||
      (item == static_cast<int>(setting.choices.size()) && setting.prompt.empty())) {
    return {};
  }
  const bool other = item == static_cast<int>(setting.choices.size());
  return MenuPick{setting.name, other ? std::string_view() : setting.choices[item].text};
}

HMENU BuildSettingsMenu(const std::function<std::string(const std::string&)>& setting, bool busy) {
  HMENU menu = CreatePopupMenu();
  for (int index = 0; index < static_cast<int>(std::size(kSettingsMenu)); ++index) {
    const MenuSetting& sub = kSettingsMenu[index];
    const std::string now = setting(std::string(sub.name));
    HMENU items = CreatePopupMenu();
    bool offered = false;
    int id = kFirstChoiceId + index * kIdsEach;
    for (const MenuChoice& choice : sub.choices) {
      const bool checked = InForce(choice, now);
      offered = offered || checked;
      Append(items, static_cast<UINT>(id++), Widen(std::string(choice.label)), checked);
    }
    if (!sub.prompt.empty()) {
      AppendMenuW(items, MF_SEPARATOR, 0, nullptr);
      Append(items, static_cast<UINT>(id), Widen(OtherLabel(sub, now, offered)), !offered);
    }
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(items),
                Widen(std::string(sub.label)).c_str());
  }
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING | (busy ? 0u : MF_GRAYED), kStopNowId,
              Widen(std::string(kStopNowLabel)).c_str());
  return menu;
}

std::optional<std::string> AskForSetting(HWND owner, std::string_view name,
                                         const std::string& now) {
  Asked asked{L"", Widen(now)};
  for (const MenuSetting& sub : kSettingsMenu) {
    if (sub.name == name) asked.prompt = Widen(std::string(sub.prompt));
  }
  const std::vector<WORD> form = AskTemplate();
  if (DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                              reinterpret_cast<const DLGTEMPLATE*>(form.data()), owner, AskProc,
                              reinterpret_cast<LPARAM>(&asked)) != IDOK) {
    return std::nullopt;
  }
  return Narrow(asked.text);
}

}  // namespace tollmere::window::win32
