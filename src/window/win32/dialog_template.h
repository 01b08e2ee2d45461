#pragma once
// The template of a small modal box made in memory: no resource file, and
// each box's controls stand beside the code that runs it.

#include <windows.h>

#include <initializer_list>
#include <vector>

namespace tollmere::window::win32 {

struct DialogItem {
  DWORD style;                // besides WS_CHILD | WS_VISIBLE
  short x, y, width, height;  // dialog units; any, when laid out on opening
  WORD id;
  WORD control_class;  // 0x0080 button, 0x0081 edit, 0x0082 static
  const wchar_t* title;
};

// A box captioned "Tollmere" in MS Shell Dlg of `points`, `width` by
// `height` dialog units, holding `items`.
inline std::vector<WORD> DialogTemplate(DWORD style, short width, short height, WORD points,
                                        std::initializer_list<DialogItem> items) {
  std::vector<WORD> t;
  const auto dword = [&t](DWORD v) {
    t.push_back(LOWORD(v));
    t.push_back(HIWORD(v));
  };
  const auto text = [&t](const wchar_t* s) {
    do t.push_back(*s);
    while (*s++ != L'\0');
  };
  dword(style | DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU);
  dword(0);
  // The items, the place, no menu and no class of its own.
  t.insert(t.end(), {static_cast<WORD>(items.size()), 0, 0, static_cast<WORD>(width),
                     static_cast<WORD>(height), 0, 0});
  text(L"Tollmere");
  t.push_back(points);
  text(L"MS Shell Dlg");
  for (const DialogItem& item : items) {
    if (t.size() % 2 != 0) t.push_back(0);  // items start on a DWORD
    dword(item.style | WS_CHILD | WS_VISIBLE);
    dword(0);
    t.insert(t.end(),
             {static_cast<WORD>(item.x), static_cast<WORD>(item.y), static_cast<WORD>(item.width),
              static_cast<WORD>(item.height), item.id, 0xFFFF, item.control_class});
    text(item.title);
    t.push_back(0);  // no creation data
  }
  return t;
}

}  // namespace tollmere::window::win32
