#include "key_injection/backends/win32_input.h"

#include "key_injection/keystroke_backend.h"

namespace tollmere::key_injection {
namespace {

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; *text; ++text) out += *text < 0x80 ? static_cast<char>(*text) : '?';
  return out;
}

runtime::Error Unavailable(const std::string& what) {
  return FacilityUnavailable("Cannot send keystrokes: " + what +
                             ". This Windows lacks the keyboard input functions Tollmere needs.");
}

}  // namespace

FARPROC FindKeyboardFunction(const wchar_t* library, const char* function) {
  // user32 is loaded in every GUI process, so this only takes a reference;
  // the module is never freed because the pointer is used until exit.
  HMODULE module = LoadLibraryW(library);
  if (module == nullptr) throw Unavailable("the library " + Narrow(library) + " was not found");
  FARPROC proc = GetProcAddress(module, function);
  if (proc == nullptr)
    throw Unavailable(std::string(function) + " was not found in " + Narrow(library));
  return proc;
}

std::string SystemErrorText(DWORD error) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out(text != nullptr ? text : "", length);
  if (text != nullptr) LocalFree(text);
  while (!out.empty() &&
         (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
    out.pop_back();
  return (out.empty() ? "system error" : out) + " (error " + std::to_string(error) + ")";
}

}  // namespace tollmere::key_injection
