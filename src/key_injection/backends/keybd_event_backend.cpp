#include "key_injection/backends/keybd_event_backend.h"

#include <windows.h>

#include <string>

#include "runtime/error.h"

namespace tollmere::key_injection {
namespace {

using KeybdEventFn = void(WINAPI*)(BYTE vk, BYTE scan, DWORD flags, ULONG_PTR extra);

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; *text; ++text) out += *text < 0x80 ? static_cast<char>(*text) : '?';
  return out;
}

class KeybdEventBackend final : public KeystrokeBackend {
 public:
  explicit KeybdEventBackend(KeybdEventFn fn) : keybd_event_(fn) {}
  void KeyDown(std::uint8_t vk) override { keybd_event_(vk, 0, 0, 0); }
  void KeyUp(std::uint8_t vk) override { keybd_event_(vk, 0, KEYEVENTF_KEYUP, 0); }
  std::string_view Name() const override { return "keybd_event"; }

 private:
  KeybdEventFn keybd_event_;
};

runtime::Error Unavailable(const std::string& what) {
  return FacilityUnavailable("Cannot send keystrokes: " + what +
                             ". This Windows lacks the keyboard input functions Tollmere needs.");
}

}  // namespace

std::unique_ptr<KeystrokeBackend> OpenKeybdEventBackend(const wchar_t* library,
                                                        const char* function) {
  // user32 is loaded in every GUI process, so this only takes a reference;
  // the module is never freed because the pointer is used until exit.
  HMODULE module = LoadLibraryW(library);
  if (module == nullptr) throw Unavailable("the library " + Narrow(library) + " was not found");
  FARPROC proc = GetProcAddress(module, function);
  if (proc == nullptr)
    throw Unavailable(std::string(function) + " was not found in " + Narrow(library));
  return std::make_unique<KeybdEventBackend>(
      reinterpret_cast<KeybdEventFn>(reinterpret_cast<void*>(proc)));
}

}  // namespace tollmere::key_injection
