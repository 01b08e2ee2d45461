#include "key_injection/backends/keybd_event_backend.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "key_injection/backends/foreground_reach.h"
#include "runtime/error.h"

namespace tollmere::key_injection {
namespace {

namespace rt = tollmere::runtime;

rt::Error OpenFailure(const wchar_t* library, const char* function) {
  try {
    OpenKeybdEventBackend(library, function);
  } catch (const rt::Error& error) {
    return error;
  }
  ADD_FAILURE() << "the back end opened";
  return rt::Error(rt::ErrorNumber::kInternal, "");
}

TEST(KeybdEventBackendTest, MissingLibraryOrFunctionIsNamedInTheError) {
  const rt::Error no_library = OpenFailure(L"no_such_library_here", "keybd_event");
  EXPECT_EQ(no_library.number(), rt::ErrorNumber::kKeystrokeFacilityUnavailable);
  EXPECT_NE(std::string(no_library.what()).find("no_such_library_here"), std::string::npos)
      << no_library.what();

  const rt::Error no_function = OpenFailure(L"user32", "no_such_function");
  EXPECT_EQ(no_function.number(), rt::ErrorNumber::kKeystrokeFacilityUnavailable);
  EXPECT_NE(std::string(no_function.what()).find("no_such_function"), std::string::npos)
      << no_function.what();
  EXPECT_NE(std::string(no_function.what()).find("user32"), std::string::npos)
      << no_function.what();
}

TEST(ForegroundReachTest, KeysToAHigherLevelOrAnUnreadableProcessAreSaidToBeDropped) {
  constexpr DWORD kMedium = SECURITY_MANDATORY_MEDIUM_RID;
  constexpr DWORD kHigh = SECURITY_MANDATORY_HIGH_RID;
  const std::string elevated = DroppedKeysNotice({kHigh}, kMedium, L"Admin shell");
  EXPECT_NE(elevated.find("\"Admin shell\""), std::string::npos) << elevated;
  EXPECT_NE(elevated.find("as administrator too"), std::string::npos) << elevated;
  const std::string refused = DroppedKeysNotice({0, ERROR_ACCESS_DENIED}, kMedium, L"");
  EXPECT_NE(refused.find("the window in front"), std::string::npos) << refused;
  EXPECT_EQ(DroppedKeysNotice({kHigh}, kHigh, L"x"), "");
  EXPECT_EQ(DroppedKeysNotice({SECURITY_MANDATORY_LOW_RID}, kMedium, L"x"), "");
  EXPECT_EQ(DroppedKeysNotice({0, ERROR_INVALID_PARAMETER}, kMedium, L"gone"), "");
  EXPECT_LT(DroppedKeysNotice({kHigh}, kMedium, std::wstring(500, L'x')).size(), 300u);
}

// The keystrokes reach the window with the focus as WM_KEYDOWN / WM_KEYUP.
std::vector<UINT> g_seen;

LRESULT CALLBACK RecordKeys(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if ((message == WM_KEYDOWN || message == WM_KEYUP) && wparam == VK_SPACE)
    g_seen.push_back(message);
  return DefWindowProcW(window, message, wparam, lparam);
}

void PumpUntil(std::size_t count) {
  const ULONGLONG give_up = GetTickCount64() + 3000;
  while (g_seen.size() < count && GetTickCount64() < give_up) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(5);
  }
}

TEST(KeybdEventBackendTest, PressAndReleaseReachTheFocusedWindow) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = RecordKeys;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"KeyRecorder";
  ASSERT_NE(RegisterClassW(&wc), 0);
  HWND window = CreateWindowW(L"KeyRecorder", L"recorder", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                              200, 100, nullptr, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  SetForegroundWindow(window);
  SetFocus(window);
  PumpUntil(0);

  auto backend = OpenKeybdEventBackend();
  EXPECT_EQ(backend->Name(), "keybd_event");
  backend->KeyDown(VK_SPACE);
  PumpUntil(1);
  EXPECT_LT(GetAsyncKeyState(VK_SPACE), 0) << "space is not down";
  backend->KeyUp(VK_SPACE);
  PumpUntil(2);
  EXPECT_GE(GetAsyncKeyState(VK_SPACE), 0) << "space is still down";
  EXPECT_EQ(g_seen, (std::vector<UINT>{WM_KEYDOWN, WM_KEYUP}));
  DestroyWindow(window);
}

}  // namespace
}  // namespace tollmere::key_injection
