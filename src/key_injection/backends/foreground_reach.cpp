#include "key_injection/backends/foreground_reach.h"

#include <vector>

#include "runtime/win32/text.h"

namespace tollmere::key_injection {
namespace {

constexpr std::size_t kLongestTitle = 60;

IntegrityReading ReadToken(HANDLE process) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return {0, GetLastError()};
  IntegrityReading reading;
  DWORD size = 0;
  GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size != 0 && GetTokenInformation(token, TokenIntegrityLevel, buffer.data(), size, &size)) {
    const PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer.data())->Label.Sid;
    const UCHAR count = *GetSidSubAuthorityCount(sid);
    reading.level = count != 0 ? *GetSidSubAuthority(sid, count - 1U) : 0;
  } else {
    reading.error = GetLastError();
  }
  CloseHandle(token);
  return reading;
}

IntegrityReading ReadProcess(DWORD id) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (process == nullptr) return {0, GetLastError()};
  const IntegrityReading reading = ReadToken(process);
  CloseHandle(process);
  return reading;
}

}  // namespace

std::string DroppedKeysNotice(const IntegrityReading& theirs, DWORD ours,
                              const std::wstring& title) {
  const bool higher =
      theirs.error == ERROR_SUCCESS ? theirs.level > ours : theirs.error == ERROR_ACCESS_DENIED;
  if (!higher) return {};
  std::wstring shown = title.substr(0, kLongestTitle);
  if (shown.size() < title.size()) shown += L"...";
  const std::string window =
      shown.empty() ? "the window in front" : "\"" + runtime::win32::Narrow(shown) + "\"";
  return "Windows drops the keys Tollmere sends to " + window +
         ", because that program runs as administrator. To reach it, close Tollmere and "
         "start it as administrator too (right-click, Run as administrator).";
}

std::string ForegroundDropsKeysNotice() {
  HWND window = GetForegroundWindow();
  DWORD id = 0;
  if (window == nullptr || GetWindowThreadProcessId(window, &id) == 0 ||
      id == GetCurrentProcessId())
    return {};
  static const IntegrityReading ours = ReadToken(GetCurrentProcess());
  if (ours.error != ERROR_SUCCESS) return {};
  std::wstring title(256, L'\0');
  title.resize(static_cast<std::size_t>(
      GetWindowTextW(window, title.data(), static_cast<int>(title.size()))));
  return DroppedKeysNotice(ReadProcess(id), ours.level, title);
}

}  // namespace tollmere::key_injection
