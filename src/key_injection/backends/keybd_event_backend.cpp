#include "key_injection/backends/keybd_event_backend.h"

#include <windows.h>

#include "key_injection/backends/win32_input.h"
#include "key_injection/key_table.h"

namespace tollmere::key_injection {
namespace {

using KeybdEventFn = void(WINAPI*)(BYTE vk, BYTE scan, DWORD flags, ULONG_PTR extra);

class KeybdEventBackend final : public KeystrokeBackend {
 public:
  explicit KeybdEventBackend(KeybdEventFn fn) : keybd_event_(fn) {}
  void KeyDown(std::uint8_t vk) override { keybd_event_(vk, 0, Extended(vk), 0); }
  void KeyUp(std::uint8_t vk) override { keybd_event_(vk, 0, Extended(vk) | KEYEVENTF_KEYUP, 0); }
  std::string_view Name() const override { return "keybd_event"; }

 private:
  // The arrows, Insert, Delete, ... are told from the keypad's by this flag.
  // The side of a modifier is in its code (VK_LSHIFT, VK_RCONTROL), which
  // the system turns into the shared one and the flag for the message.
  static DWORD Extended(std::uint8_t vk) {
    const std::optional<Key> key = KeyByVk(vk);
    return key && (key->scan >> 8) == 0xE0 ? KEYEVENTF_EXTENDEDKEY : 0;
  }

  KeybdEventFn keybd_event_;
};

}  // namespace

std::unique_ptr<KeystrokeBackend> OpenKeybdEventBackend(const wchar_t* library,
                                                        const char* function) {
  return std::make_unique<KeybdEventBackend>(reinterpret_cast<KeybdEventFn>(
      reinterpret_cast<void*>(FindKeyboardFunction(library, function))));
}

}  // namespace tollmere::key_injection
