#include "window/win32/settings_menu.h"

#include <iterator>
#include <vector>

#include "runtime/win32/text.h"

namespace tollmere::window::win32 {

namespace {

using runtime::win32::Narrow;
using runtime::win32::Widen;

constexpr int kFirstChoiceId = 1000;

// In the menu's order; each name's items make its submenu.
constexpr MenuChoice kChoices[] = {
    {"key", "Space", L"Space"},
    {"key", "Enter", L"Enter"},
    {"key", "Tab", L"Tab"},
    {"key", "Up", L"Up arrow"},
    {"key", "Down", L"Down arrow"},
    {"key", "Left", L"Left arrow"},
    {"key", "Right", L"Right arrow"},
    {"key", "W", L"W"},
    {"key", "A", L"A"},
    {"key", "S", L"S"},
    {"key", "D", L"D"},
    {"key", "E", L"E"},
    {"key", "LeftShift", L"Left Shift"},
    {"key", "LeftCtrl", L"Left Ctrl"},
    {"key", "LeftAlt", L"Left Alt"},
    {"key", "", L"Other key"},
    {"hold", "twice", L"Two intervals"},
    {"hold", "until-stopped", L"Until stopped"},
    {"repeat", "1", L"Once"},
    {"repeat", "2", L"2 times"},
    {"repeat", "3", L"3 times"},
    {"repeat", "5", L"5 times"},
    {"repeat", "10", L"10 times"},
    {"repeat", "forever", L"Forever"},
    {"repeat", "", L"Other"},
    {"gap", "interval", L"One interval"},
    {"gap", "", L"Other"},
    {"countdown", "0", L"None"},
    {"countdown", "1", L"1 s"},
    {"countdown", "2", L"2 s"},
    {"countdown", "3", L"3 s"},
    {"countdown", "4", L"4 s"},
    {"countdown", "5", L"5 s"},
    {"countdown", "10", L"10 s"},
    {"countdown", "", L"Other"},
};

struct Submenu {
  std::string_view name;
  const wchar_t* label;
  const wchar_t* unit;    // after a value that "Other" shows
  const wchar_t* prompt;  // in the box that asks
};

constexpr Submenu kSubmenus[] = {
    {"key", L"&Key", L"",
     L"The key to hold, by name: A, 7, F8, Enter, Up, Numpad5, LeftShift, ..."},
    {"hold", L"&Hold", L"", L""},
    {"repeat", L"&Repeat", L" times", L"How many holds, or forever:"},
    {"gap", L"&Gap", L" ms", L"How long the key stays up between holds, in ms, or interval:"},
    {"countdown", L"&Countdown", L" s", L"How many seconds the countdown runs, 0 to 60:"},
};

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
  std::vector<WORD> t;
  const auto dword = [&t](DWORD v) {
    t.push_back(LOWORD(v));
    t.push_back(HIWORD(v));
  };
  const auto text = [&t](const wchar_t* s) {
    do t.push_back(*s);
    while (*s++ != L'\0');
  };
  dword(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU);
  dword(0);
  t.insert(t.end(), {4, 0, 0, 220, 62, 0, 0});  // four items, the size, no menu or class
  text(L"Tollmere");
  t.push_back(9);
  text(L"MS Shell Dlg");
  const auto item = [&](DWORD style, std::initializer_list<WORD> place, WORD id, WORD control,
                        const wchar_t* title) {
    if (t.size() % 2 != 0) t.push_back(0);  // items start on a DWORD
    dword(style | WS_CHILD | WS_VISIBLE);
    dword(0);
    t.insert(t.end(), place);
    t.insert(t.end(), {id, 0xFFFF, control});
    text(title);
    t.push_back(0);  // no creation data
  };
  item(SS_LEFT, {7, 7, 206, 18}, kPromptId, 0x0082, L"");
  item(WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, {7, 26, 206, 12}, kTextId, 0x0081, L"");
  item(WS_TABSTOP | BS_DEFPUSHBUTTON, {109, 43, 50, 14}, IDOK, 0x0080, L"OK");
  item(WS_TABSTOP | BS_PUSHBUTTON, {163, 43, 50, 14}, IDCANCEL, 0x0080, L"Cancel");
  return t;
}

}  // namespace

const MenuChoice* MenuChoiceFor(int id) {
  const int index = id - kFirstChoiceId;
  if (index < 0 || index >= static_cast<int>(std::size(kChoices))) return nullptr;
  return &kChoices[index];
}

HMENU BuildSettingsMenu(const std::function<std::string(const std::string&)>& setting, bool busy) {
  HMENU menu = CreatePopupMenu();
  for (const Submenu& sub : kSubmenus) {
    const std::string now = setting(std::string(sub.name));
    HMENU items = CreatePopupMenu();
    bool found = false;
    for (int i = 0; i < static_cast<int>(std::size(kChoices)); ++i) {
      const MenuChoice& choice = kChoices[i];
      if (choice.name != sub.name) continue;
      const UINT id = static_cast<UINT>(kFirstChoiceId + i);
      if (!choice.text.empty()) {
        const bool checked = choice.text == now;
        found = found || checked;
        Append(items, id, choice.label, checked);
      } else {
        // "Other" checked shows the value it stands for.
        AppendMenuW(items, MF_SEPARATOR, 0, nullptr);
        Append(items, id,
               found ? std::wstring(choice.label) + L"…"
                     : std::wstring(choice.label) + L" (" + Widen(now) + sub.unit + L")…",
               !found);
      }
    }
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(items), sub.label);
  }
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING | (busy ? 0u : MF_GRAYED), kStopNowId, L"&Stop now");
  return menu;
}

std::optional<std::string> AskForSetting(HWND owner, std::string_view name,
                                         const std::string& now) {
  Asked asked{L"", Widen(now)};
  for (const Submenu& sub : kSubmenus) {
    if (sub.name == name) asked.prompt = sub.prompt;
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
