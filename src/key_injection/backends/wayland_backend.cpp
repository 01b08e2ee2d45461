#include "key_injection/backends/wayland_backend.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "key_injection/backends/evdev_keys.h"
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

// The keymap the compositor needs before a virtual keyboard's first key: the
// session's default layout (XKB_DEFAULT_* are honoured), as xkb text in a
// sealed memory file.
int KeymapFile(std::uint32_t& size) {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  if (context == nullptr)
    throw FacilityUnavailable("Cannot start libxkbcommon to describe the keyboard.");
  xkb_keymap* keymap = xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
  char* text =
      keymap == nullptr ? nullptr : xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
  if (keymap != nullptr) xkb_keymap_unref(keymap);
  xkb_context_unref(context);
  if (text == nullptr) {
    throw FacilityUnavailable("Cannot build a keyboard description: is xkb-data installed?");
  }
  const std::size_t length = std::strlen(text) + 1;  // the compositor expects the NUL
  const int fd = memfd_create("tollmere-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  bool written = fd >= 0;
  for (std::size_t done = 0; written && done < length;) {
    const ssize_t n = write(fd, text + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) done += static_cast<std::size_t>(n);
  }
  std::free(text);
  if (!written) {
    const int error = errno;
    if (fd >= 0) close(fd);
    throw FacilityUnavailable(
        std::string("Cannot hand the keyboard description to the compositor: ") +
        std::strerror(error));
  }
  fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
  size = static_cast<std::uint32_t>(length);
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
                 zwp_virtual_keyboard_v1* keyboard)
      : display_(display), registry_(registry), globals_(globals), keyboard_(keyboard) {}

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

 private:
  void Send(std::uint8_t vk, wl_keyboard_key_state state) {
    const std::uint16_t code = EvdevCodeFor(vk);
    if (code == 0) throw KeyNotOnKeyboard(vk);
    zwp_virtual_keyboard_v1_key(keyboard_, NowMs(), code, state);
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
  try {
    fd = KeymapFile(size);
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
  return std::make_unique<WaylandBackend>(display, registry, globals, keyboard);
}

}  // namespace tollmere::key_injection
