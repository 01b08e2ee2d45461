#include "key_injection/backends/wayland_backend.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <bitset>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "key_injection/backends/evdev_keys.h"
#include "key_injection/key_table.h"
#include "runtime/error.h"
#include "session/session_type.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace tollmere::key_injection {
namespace {

namespace rt = tollmere::runtime;

// What the registry offered, filled by the listener below.
struct Globals {
  wl_seat* seat = nullptr;
  zwp_virtual_keyboard_manager_v1* manager = nullptr;
};

void OnGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t /*version*/) {
  auto* globals = static_cast<Globals*>(data);
  if (globals->seat == nullptr && std::strcmp(interface, wl_seat_interface.name) == 0) {
    globals->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  } else if (globals->manager == nullptr &&
             std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
    globals->manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
        wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
  }
}
void OnGlobalRemove(void*, wl_registry*, std::uint32_t) {}
constexpr wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

struct XkbFree {
  void operator()(xkb_context* context) const { xkb_context_unref(context); }
  void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
  void operator()(xkb_state* state) const { xkb_state_unref(state); }
  void operator()(char* text) const { std::free(text); }
};
template <typename T>
using XkbPtr = std::unique_ptr<T, XkbFree>;

// Whether the key with evdev code `code` types `sym` at some level of the
// first layout (the keypad's digits sit at the NumLock level).
bool Types(xkb_keymap* keymap, std::uint16_t code, xkb_keysym_t sym) {
  const xkb_keycode_t keycode = code + 8u;  // XKB's codes are evdev's plus 8
  const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, keycode, 0);
  for (xkb_level_index_t level = 0; level < levels; ++level) {
    const xkb_keysym_t* syms = nullptr;
    const int count = xkb_keymap_key_get_syms_by_level(keymap, keycode, 0, level, &syms);
    for (int i = 0; i < count; ++i) {
      if (syms[i] == sym) return true;
    }
  }
  return false;
}

// Statements that make each key of the table that the layout gives another
// symbol (F13-F24 are media keys in the usual ones; a letter moves in some)
// type the table's; appended to the symbols, they override the layout's.
std::string Overrides(xkb_keymap* keymap) {
  std::string out;
  for (unsigned vk = 1; vk < 256; ++vk) {
    const std::optional<Key> key = KeyByVk(static_cast<std::uint8_t>(vk));
    if (!key || Types(keymap, key->evdev, key->keysym)) continue;
    const char* name = xkb_keymap_key_get_name(keymap, key->evdev + 8u);
    if (name == nullptr) continue;  // not in the keycodes: KeyProblem says so
    const xkb_keysym_t upper = xkb_keysym_to_upper(key->keysym);
    char upper_name[64] = {};
    xkb_keysym_get_name(upper, upper_name, sizeof upper_name);
    out += "key <" + std::string(name) + "> { [ " + std::string(key->keysym_name) +
           (upper != key->keysym ? ", " + std::string(upper_name) : "") + " ] };\n";
  }
  return out;
}

// The keymap the compositor needs before a virtual keyboard's first key: the
// session's default layout (XKB_DEFAULT_* are honoured) with every key of
// the table typing its own symbol, as xkb text in a sealed memory file.
// `typable` gets the keys that then do, `kept` the keymap itself.
int KeymapFile(std::uint32_t& size, std::bitset<256>& typable, XkbPtr<xkb_keymap>& kept) {
  const XkbPtr<xkb_context> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
  if (!context) throw FacilityUnavailable("Cannot start libxkbcommon to describe the keyboard.");
  XkbPtr<xkb_keymap> keymap(
      xkb_keymap_new_from_names(context.get(), nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS));
  XkbPtr<char> text(keymap ? xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1)
                           : nullptr);
  if (!text) {
    throw FacilityUnavailable("Cannot build a keyboard description: is xkb-data installed?");
  }
  // The symbols are the last section: insert before its closing "};".
  std::string source(text.get());
  const std::size_t keymap_end = source.rfind("};");
  const std::size_t symbols_end = keymap_end == std::string::npos || keymap_end == 0
                                      ? keymap_end
                                      : source.rfind("};", keymap_end - 1);
  if (const std::string extra = Overrides(keymap.get());
      !extra.empty() && symbols_end != std::string::npos) {
    source.insert(symbols_end, extra);
    XkbPtr<xkb_keymap> patched(xkb_keymap_new_from_string(
        context.get(), source.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
    XkbPtr<char> patched_text(
        patched ? xkb_keymap_get_as_string(patched.get(), XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr);
    if (patched_text) {  // else the layout as it is, with the keys it has
      keymap = std::move(patched);
      text = std::move(patched_text);
    }
  }
  for (unsigned vk = 1; vk < 256; ++vk) {
    const std::optional<Key> key = KeyByVk(static_cast<std::uint8_t>(vk));
    typable[vk] = key && Types(keymap.get(), key->evdev, key->keysym);
  }
  const std::size_t length = std::strlen(text.get()) + 1;  // the compositor expects the NUL
  const int fd = memfd_create("tollmere-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  bool written = fd >= 0;
  for (std::size_t done = 0; written && done < length;) {
    const ssize_t n = write(fd, text.get() + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) done += static_cast<std::size_t>(n);
  }
  if (!written) {
    const int error = errno;
    if (fd >= 0) close(fd);
    throw FacilityUnavailable(
        std::string("Cannot hand the keyboard description to the compositor: ") +
        std::strerror(error));
  }
  fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
  size = static_cast<std::uint32_t>(length);
  kept = std::move(keymap);
  return fd;
}

std::uint32_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1'000'000);
}

class WaylandBackend final : public KeystrokeBackend {
 public:
  WaylandBackend(wl_display* display, wl_registry* registry, Globals globals,
                 zwp_virtual_keyboard_v1* keyboard, std::bitset<256> typable,
                 XkbPtr<xkb_state> state)
      : display_(display),
        registry_(registry),
        globals_(globals),
        keyboard_(keyboard),
        typable_(typable),
        state_(std::move(state)) {}

  ~WaylandBackend() override {
    // Module1 released the keys still down before closing us: wlroots
    // would on destroying the keyboard, but a compositor need not.
    zwp_virtual_keyboard_v1_destroy(keyboard_);
    wl_display_roundtrip(display_);
    zwp_virtual_keyboard_manager_v1_destroy(globals_.manager);
    wl_seat_destroy(globals_.seat);
    wl_registry_destroy(registry_);
    wl_display_disconnect(display_);
  }

  void KeyDown(std::uint8_t vk) override { Send(vk, WL_KEYBOARD_KEY_STATE_PRESSED); }
  void KeyUp(std::uint8_t vk) override { Send(vk, WL_KEYBOARD_KEY_STATE_RELEASED); }
  std::string_view Name() const override { return "Wayland virtual keyboard"; }
  std::string KeyProblem(std::uint8_t vk) override {
    if (const std::string problem = EvdevKeyProblem(vk); !problem.empty()) return problem;
    if (typable_[vk]) return {};
    return "The keyboard description Tollmere gives the compositor has no key that types " +
           std::string(KeyByVk(vk)->keysym_name) +
           " (check XKB_DEFAULT_LAYOUT and the other XKB_DEFAULT_* settings). Choose another "
           "key.";
  }

 private:
  void Send(std::uint8_t vk, wl_keyboard_key_state state) {
    const std::uint16_t code = EvdevCodeFor(vk);
    if (code == 0) throw KeyNotOnKeyboard(vk);
    zwp_virtual_keyboard_v1_key(keyboard_, NowMs(), code, state);
    // The compositor leaves a virtual keyboard's modifiers to its client:
    // a held Shift, Ctrl or lock key counts only once they are sent.
    const bool down = state == WL_KEYBOARD_KEY_STATE_PRESSED;
    if (state_ &&
        xkb_state_update_key(state_.get(), code + 8u, down ? XKB_KEY_DOWN : XKB_KEY_UP) != 0) {
      xkb_state* s = state_.get();
      zwp_virtual_keyboard_v1_modifiers(keyboard_,
                                        xkb_state_serialize_mods(s, XKB_STATE_MODS_DEPRESSED),
                                        xkb_state_serialize_mods(s, XKB_STATE_MODS_LATCHED),
                                        xkb_state_serialize_mods(s, XKB_STATE_MODS_LOCKED),
                                        xkb_state_serialize_layout(s, XKB_STATE_LAYOUT_EFFECTIVE));
    }
    // A round trip, not a flush: the key counts as sent once the compositor
    // has handled it, so the caller's timing is the compositor's.
    if (wl_display_roundtrip(display_) < 0) {
      throw FacilityUnavailable(
          "The connection to the Wayland compositor was lost while sending a key.");
    }
  }

  wl_display* display_;
  wl_registry* registry_;
  Globals globals_;
  zwp_virtual_keyboard_v1* keyboard_;
  std::bitset<256> typable_;
  XkbPtr<xkb_state> state_;  // what our own keys hold down or lock
};

}  // namespace

std::unique_ptr<KeystrokeBackend> OpenWaylandBackend() {
  const std::string name = session::SessionFromEnvironment().wayland_display;
  if (name.empty()) {
    throw FacilityUnavailable("Not a Wayland session: WAYLAND_DISPLAY is not set.");
  }
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) {
    throw FacilityUnavailable(std::string("Cannot connect to the Wayland compositor \"") + name +
                              "\": " + std::strerror(errno) + ".");
  }
  Globals globals;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistryListener, &globals);
  const bool listed = wl_display_roundtrip(display) >= 0;
  auto give_up = [&](const std::string& message) {
    if (globals.manager != nullptr) zwp_virtual_keyboard_manager_v1_destroy(globals.manager);
    if (globals.seat != nullptr) wl_seat_destroy(globals.seat);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    throw FacilityUnavailable(message);
  };
  if (!listed) give_up("The Wayland compositor closed the connection.");
  if (globals.manager == nullptr) {
    give_up(
        "This Wayland compositor offers no virtual keyboard "
        "(zwp_virtual_keyboard_manager_v1); sway, Hyprland and river do.");
  }
  if (globals.seat == nullptr) give_up("This Wayland compositor has no seat to type on.");

  std::uint32_t size = 0;
  int fd = -1;
  std::bitset<256> typable;
  XkbPtr<xkb_keymap> keymap;
  try {
    fd = KeymapFile(size, typable, keymap);
  } catch (const rt::Error& error) {
    give_up(error.what());
  }
  zwp_virtual_keyboard_v1* keyboard =
      zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(globals.manager, globals.seat);
  zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, size);
  close(fd);  // the request carries its own duplicate
  if (wl_display_roundtrip(display) < 0) {
    zwp_virtual_keyboard_v1_destroy(keyboard);
    give_up("The Wayland compositor refused a virtual keyboard (error " +
            std::to_string(wl_display_get_error(display)) + ").");
  }
  return std::make_unique<WaylandBackend>(display, registry, globals, keyboard, typable,
                                          XkbPtr<xkb_state>(xkb_state_new(keymap.get())));
}

}  // namespace tollmere::key_injection
