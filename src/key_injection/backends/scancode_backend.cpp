#include "key_injection/backends/scancode_backend.h"

#include <windows.h>

#include <string>

#include "key_injection/backends/win32_input.h"
#include "key_injection/key_table.h"
#include "runtime/error.h"

namespace tollmere::key_injection {
namespace {

using SendInputFn = UINT(WINAPI*)(UINT count, INPUT* inputs, int size);

class ScancodeBackend final : public KeystrokeBackend {
 public:
  explicit ScancodeBackend(SendInputFn fn) : send_input_(fn) {}
  void KeyDown(std::uint8_t vk) override { Send(vk, 0); }
  void KeyUp(std::uint8_t vk) override { Send(vk, KEYEVENTF_KEYUP); }
  std::string_view Name() const override { return "scancode"; }

 private:
  void Send(std::uint8_t vk, DWORD up) {
    // The low byte is the code, the high one 0xE0 or 0xE1 for keys that
    // send a prefix (the arrows, Insert, Delete, ...). The table's own code
    // first: Windows maps some keys (the right-hand modifiers, the keypad's
    // Enter) to their left or main twin.
    const std::optional<Key> key = KeyByVk(vk);
    const UINT code = key && key->scan != 0 ? key->scan : MapVirtualKeyW(vk, MAPVK_VK_TO_VSC_EX);
    if ((code & 0xff) == 0) throw KeyNotOnKeyboard(vk);
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    // Windows ignores the virtual-key code beside a scan code; Wine reads it.
    input.ki.wVk = vk;
    input.ki.wScan = static_cast<WORD>(code & 0xff);
    input.ki.dwFlags = KEYEVENTF_SCANCODE | up;
    if ((code >> 8) == 0xE0) input.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
    if (send_input_(1, &input, sizeof input) != 1) {
      const DWORD error = GetLastError();
      // Windows refuses keys from every program while its own secure screen
      // (locked, or an administrator prompt) is in front, and keybd_event
      // drops them the same way without a word: the user's locking the
      // screen must not end the program.
      if (error == ERROR_ACCESS_DENIED) return;
      throw FacilityUnavailable(
          "Cannot send a key event through SendInput: " + SystemErrorText(error) + ".");
    }
  }

  SendInputFn send_input_;
};

}  // namespace

std::unique_ptr<KeystrokeBackend> OpenScancodeBackend(const wchar_t* library,
                                                      const char* function) {
  return std::make_unique<ScancodeBackend>(reinterpret_cast<SendInputFn>(
      reinterpret_cast<void*>(FindKeyboardFunction(library, function))));
}

}  // namespace tollmere::key_injection
