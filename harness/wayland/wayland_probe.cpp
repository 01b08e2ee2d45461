#include "harness/wayland/wayland_probe.h"

#include <poll.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "harness/wayland/headless_sway.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace tollmere::e2e {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct WaylandProbe::Wayland {
  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  wl_compositor* compositor = nullptr;
  wl_shm* shm = nullptr;
  xdg_wm_base* wm_base = nullptr;
  wl_seat* seat = nullptr;
  std::uint32_t seat_version = 0;
  zwp_virtual_keyboard_manager_v1* keyboard_manager = nullptr;
  zwp_virtual_keyboard_v1* virtual_keyboard = nullptr;
  wl_keyboard* keyboard = nullptr;
  wl_surface* surface = nullptr;
  xdg_surface* window = nullptr;
  xdg_toplevel* toplevel = nullptr;
  wl_buffer* buffer = nullptr;
  void* pixels = nullptr;
  std::size_t pixels_size = 0;
  int width = 0;  // from the last toplevel configure; 0 leaves it to us
  int height = 0;
  bool configured = false;
  // Callbacks run inside libwayland's C code and must not throw: a failure
  // is kept here and thrown once the dispatch returns.
  std::string failure;
};

// The listeners, with access to the probe; `data` is always the probe.
struct WaylandProbeCallbacks {
  static WaylandProbe& P(void* data) { return *static_cast<WaylandProbe*>(data); }

  static void Global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                     std::uint32_t version) {
    WaylandProbe::Wayland& wl = *P(data).wl_;
    const std::string_view iface = interface;
    auto bind = [&](const wl_interface* type, std::uint32_t max) {
      return wl_registry_bind(registry, name, type, std::min(version, max));
    };
    if (iface == wl_compositor_interface.name && wl.compositor == nullptr) {
      wl.compositor = static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4));
    } else if (iface == wl_shm_interface.name && wl.shm == nullptr) {
      wl.shm = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
    } else if (iface == xdg_wm_base_interface.name && wl.wm_base == nullptr) {
      wl.wm_base = static_cast<xdg_wm_base*>(bind(&xdg_wm_base_interface, 1));
      xdg_wm_base_add_listener(wl.wm_base, &kWmBase, data);
    } else if (iface == wl_seat_interface.name && wl.seat == nullptr) {
      wl.seat_version = std::min(version, 5u);
      wl.seat = static_cast<wl_seat*>(bind(&wl_seat_interface, 5));
      wl_seat_add_listener(wl.seat, &kSeat, data);
    } else if (iface == zwp_virtual_keyboard_manager_v1_interface.name &&
               wl.keyboard_manager == nullptr) {
      wl.keyboard_manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
          bind(&zwp_virtual_keyboard_manager_v1_interface, 1));
    }
  }
  static void GlobalRemove(void*, wl_registry*, std::uint32_t) {}
  static constexpr wl_registry_listener kRegistry{Global, GlobalRemove};

  static void Ping(void*, xdg_wm_base* base, std::uint32_t serial) {
    xdg_wm_base_pong(base, serial);
  }
  static constexpr xdg_wm_base_listener kWmBase{Ping};

  static void Capabilities(void* data, wl_seat* seat, std::uint32_t caps) {
    WaylandProbe::Wayland& wl = *P(data).wl_;
    // Asking for the keyboard before the seat has one is a protocol error.
    if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) != 0 && wl.keyboard == nullptr) {
      wl.keyboard = wl_seat_get_keyboard(seat);
      wl_keyboard_add_listener(wl.keyboard, &kKeyboard, data);
    } else if ((caps & WL_SEAT_CAPABILITY_KEYBOARD) == 0 && wl.keyboard != nullptr) {
      wl_keyboard_destroy(wl.keyboard);
      wl.keyboard = nullptr;
      P(data).focused_ = false;
      P(data).keys_down_.clear();
    }
  }
  static void SeatName(void*, wl_seat*, const char*) {}
  static constexpr wl_seat_listener kSeat{Capabilities, SeatName};

  static void Keymap(void*, wl_keyboard*, std::uint32_t, int fd, std::uint32_t) { close(fd); }
  static void Enter(void* data, wl_keyboard*, std::uint32_t, wl_surface* surface, wl_array* keys) {
    WaylandProbe& probe = P(data);
    if (surface != probe.wl_->surface) return;
    WaylandFocusEvent event{true, {}, MonotonicMs()};
    const auto* key = static_cast<const std::uint32_t*>(keys->data);
    for (std::size_t i = 0; i < keys->size / sizeof *key; ++i) event.keys_down.push_back(key[i]);
    probe.focused_ = true;
    probe.keys_down_ = {event.keys_down.begin(), event.keys_down.end()};
    probe.focus_events_.push_back(std::move(event));
  }
  static void Leave(void* data, wl_keyboard*, std::uint32_t, wl_surface*) {
    WaylandProbe& probe = P(data);
    probe.focused_ = false;
    probe.keys_down_.clear();
    probe.focus_events_.push_back({false, {}, MonotonicMs()});
  }
  static void Key(void* data, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t key,
                  std::uint32_t state) {
    WaylandProbe& probe = P(data);
    const bool press = state == WL_KEYBOARD_KEY_STATE_PRESSED;
    probe.events_.push_back({press, key, MonotonicMs()});
    if (press) {
      probe.keys_down_.insert(key);
    } else {
      probe.keys_down_.erase(key);
    }
  }
  static void Modifiers(void* data, wl_keyboard*, std::uint32_t, std::uint32_t depressed,
                        std::uint32_t, std::uint32_t, std::uint32_t) {
    P(data).modifiers_down_ = depressed;
  }
  static void RepeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
  static constexpr wl_keyboard_listener kKeyboard{Keymap, Enter, Leave, Key, Modifiers, RepeatInfo};

  static void ToplevelConfigure(void* data, xdg_toplevel*, std::int32_t width, std::int32_t height,
                                wl_array*) {
    WaylandProbe::Wayland& wl = *P(data).wl_;
    wl.width = width;
    wl.height = height;
  }
  static void ToplevelClose(void* data, xdg_toplevel*) {
    P(data).wl_->failure = "the compositor asked the probe window to close";
  }
  static constexpr xdg_toplevel_listener kToplevel{ToplevelConfigure, ToplevelClose, nullptr,
                                                   nullptr};

  static void SurfaceConfigure(void* data, xdg_surface* window, std::uint32_t serial) {
    WaylandProbe::Wayland& wl = *P(data).wl_;
    xdg_surface_ack_configure(window, serial);
    // One buffer, of the first size sway asks for; later sizes only crop or
    // pad it, which is all a probe needs.
    if (wl.buffer == nullptr) {
      AttachBuffer(wl, wl.width > 0 ? wl.width : 320, wl.height > 0 ? wl.height : 240);
      if (wl.buffer == nullptr) return;
    }
    wl_surface_commit(wl.surface);
    wl.configured = true;
  }
  static constexpr xdg_surface_listener kSurface{SurfaceConfigure};

  static void AttachBuffer(WaylandProbe::Wayland& wl, int width, int height) {
    const int stride = width * 4;
    wl.pixels_size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
    const int fd = memfd_create("tollmere-probe-buffer", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(wl.pixels_size)) != 0) {
      if (fd >= 0) close(fd);
      wl.failure = std::string("cannot make the probe's buffer: ") + std::strerror(errno);
      return;
    }
    wl.pixels = mmap(nullptr, wl.pixels_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (wl.pixels == MAP_FAILED) {
      wl.pixels = nullptr;
      close(fd);
      wl.failure = "cannot map the probe's buffer";
      return;
    }
    // A teal that stands out in screenshots.
    auto* pixel = static_cast<std::uint32_t*>(wl.pixels);
    std::fill(pixel, pixel + wl.pixels_size / 4, 0xff208080u);
    wl_shm_pool* pool = wl_shm_create_pool(wl.shm, fd, static_cast<std::int32_t>(wl.pixels_size));
    wl.buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_surface_attach(wl.surface, wl.buffer, 0, 0);
    wl_surface_damage(wl.surface, 0, 0, width, height);
  }
};

namespace {

// The keymap a virtual keyboard must send before its first key: plain US.
std::string UsKeymap() {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
  if (context == nullptr) throw std::runtime_error("xkb_context_new failed");
  const xkb_rule_names names{"evdev", "pc105", "us", "", ""};
  xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
  std::string text;
  if (keymap != nullptr) {
    char* raw = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    if (raw != nullptr) text = raw;
    std::free(raw);
    xkb_keymap_unref(keymap);
  }
  xkb_context_unref(context);
  if (text.empty()) throw std::runtime_error("cannot compile a US keymap (xkb-data missing?)");
  return text;
}

void SendKeymap(zwp_virtual_keyboard_v1* keyboard) {
  const std::string keymap = UsKeymap();
  // The size counts the terminating NUL.
  const std::size_t size = keymap.size() + 1;
  const int fd = memfd_create("tollmere-probe-keymap", MFD_CLOEXEC);
  if (fd < 0) throw std::runtime_error("memfd_create failed");
  const bool written = write(fd, keymap.c_str(), size) == static_cast<ssize_t>(size);
  if (written) {
    zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<std::uint32_t>(size));
  }
  close(fd);  // libwayland sends a duplicate
  if (!written) throw std::runtime_error("cannot write the keymap");
}

std::uint32_t KeyFor(char c) {
  if (c == '0') return KEY_0;
  if (c >= '1' && c <= '9') return static_cast<std::uint32_t>(KEY_1 + (c - '1'));
  if (c == ' ') return KEY_SPACE;
  if (c == '\n') return KEY_ENTER;
  if (c == '\b') return KEY_BACKSPACE;
  throw std::invalid_argument(std::string("TypeText cannot type '") + c + "'");
}

}  // namespace

WaylandProbe::WaylandProbe(const HeadlessSway& sway, std::string name)
    : WaylandProbe(sway.socket_path(), std::move(name)) {
  if (!CanType()) throw std::runtime_error("sway gave the probe no virtual keyboard");
}

WaylandProbe::WaylandProbe(const std::string& socket_path, std::string name)
    : name_(std::move(name)), wl_(std::make_unique<Wayland>()) {
  using C = WaylandProbeCallbacks;
  // A full path: the process environment stays out of it.
  wl_->display = wl_display_connect(socket_path.c_str());
  if (wl_->display == nullptr) {
    throw std::runtime_error("cannot connect to " + socket_path + ": " + std::strerror(errno));
  }
  wl_->registry = wl_display_get_registry(wl_->display);
  wl_registry_add_listener(wl_->registry, &C::kRegistry, this);
  Roundtrip();
  std::string missing;
  if (wl_->compositor == nullptr) missing += " wl_compositor";
  if (wl_->shm == nullptr) missing += " wl_shm";
  if (wl_->wm_base == nullptr) missing += " xdg_wm_base";
  if (wl_->seat == nullptr) missing += " wl_seat";
  if (!missing.empty()) throw std::runtime_error("the compositor lacks" + missing);

  if (wl_->keyboard_manager != nullptr) {
    wl_->virtual_keyboard =
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(wl_->keyboard_manager, wl_->seat);
    SendKeymap(wl_->virtual_keyboard);
    Roundtrip();
  }

  wl_->surface = wl_compositor_create_surface(wl_->compositor);
  wl_->window = xdg_wm_base_get_xdg_surface(wl_->wm_base, wl_->surface);
  xdg_surface_add_listener(wl_->window, &C::kSurface, this);
  wl_->toplevel = xdg_surface_get_toplevel(wl_->window);
  xdg_toplevel_add_listener(wl_->toplevel, &C::kToplevel, this);
  xdg_toplevel_set_title(wl_->toplevel, name_.c_str());
  xdg_toplevel_set_app_id(wl_->toplevel, name_.c_str());
  wl_surface_commit(wl_->surface);

  // Without a keyboard of our own, the seat may have none until someone
  // else (a remote-desktop session) adds one.
  const bool need_keyboard = CanType();
  if (!PumpUntil([&] { return wl_->configured && (wl_->keyboard != nullptr || !need_keyboard); },
                 5s)) {
    throw std::runtime_error(std::string("probe not ready after 5 s: ") +
                             (wl_->configured ? "" : "window never configured; ") +
                             (wl_->keyboard ? "" : "the seat never got a keyboard"));
  }
  // The commit with the buffer, sent from the configure handler, is what
  // maps the window: until sway has it, the window is in no tree.
  Roundtrip();
}

WaylandProbe::~WaylandProbe() {
  Wayland& wl = *wl_;
  if (wl.display == nullptr) return;
  if (wl.keyboard != nullptr) {
    if (wl.seat_version >= WL_KEYBOARD_RELEASE_SINCE_VERSION) {
      wl_keyboard_release(wl.keyboard);
    } else {
      wl_keyboard_destroy(wl.keyboard);
    }
  }
  if (wl.virtual_keyboard != nullptr) zwp_virtual_keyboard_v1_destroy(wl.virtual_keyboard);
  if (wl.toplevel != nullptr) xdg_toplevel_destroy(wl.toplevel);
  if (wl.window != nullptr) xdg_surface_destroy(wl.window);
  if (wl.surface != nullptr) wl_surface_destroy(wl.surface);
  if (wl.buffer != nullptr) wl_buffer_destroy(wl.buffer);
  if (wl.pixels != nullptr) munmap(wl.pixels, wl.pixels_size);
  if (wl.keyboard_manager != nullptr) zwp_virtual_keyboard_manager_v1_destroy(wl.keyboard_manager);
  if (wl.seat != nullptr) {
    if (wl.seat_version >= WL_SEAT_RELEASE_SINCE_VERSION) {
      wl_seat_release(wl.seat);
    } else {
      wl_seat_destroy(wl.seat);
    }
  }
  if (wl.wm_base != nullptr) xdg_wm_base_destroy(wl.wm_base);
  if (wl.shm != nullptr) wl_shm_destroy(wl.shm);
  if (wl.compositor != nullptr) wl_compositor_destroy(wl.compositor);
  if (wl.registry != nullptr) wl_registry_destroy(wl.registry);
  wl_display_disconnect(wl.display);
}

void WaylandProbe::CheckError() const {
  if (!wl_->failure.empty()) throw std::runtime_error(wl_->failure);
  const int error = wl_display_get_error(wl_->display);
  if (error == 0) return;
  if (error == EPROTO) {
    const wl_interface* interface = nullptr;
    std::uint32_t id = 0;
    const std::uint32_t code = wl_display_get_protocol_error(wl_->display, &interface, &id);
    throw std::runtime_error("Wayland protocol error " + std::to_string(code) + " on " +
                             (interface != nullptr ? interface->name : "?") + "@" +
                             std::to_string(id));
  }
  throw std::runtime_error(std::string("lost the Wayland connection: ") + std::strerror(error));
}

void WaylandProbe::Roundtrip() {
  wl_display_roundtrip(wl_->display);
  CheckError();
}

void WaylandProbe::Dispatch(std::chrono::milliseconds wait) {
  wl_display* d = wl_->display;
  // The usual prepare/poll/read dance, so that no event already queued
  // waits behind the poll.
  while (wl_display_prepare_read(d) != 0) {
    if (wl_display_dispatch_pending(d) < 0) CheckError();
  }
  wl_display_flush(d);
  pollfd pfd{wl_display_get_fd(d), POLLIN, 0};
  if (poll(&pfd, 1, static_cast<int>(std::max<long long>(wait.count(), 0))) > 0) {
    wl_display_read_events(d);
  } else {
    wl_display_cancel_read(d);
  }
  wl_display_dispatch_pending(d);
  CheckError();
}

template <typename Done>
bool WaylandProbe::PumpUntil(Done done, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!done()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    Dispatch(std::min<std::chrono::milliseconds>(left, 50ms));
  }
  return true;
}

void WaylandProbe::Pump(std::chrono::milliseconds duration) {
  PumpUntil([] { return false; }, duration);
}

bool WaylandProbe::WaitForFocus(std::chrono::milliseconds timeout, bool focused) {
  return PumpUntil([&] { return focused_ == focused; }, timeout);
}

void WaylandProbe::FocusSelf(const HeadlessSway& sway) {
  if (!sway.FocusWindow(name_)) throw std::runtime_error("sway could not focus " + name_);
  if (!WaitForFocus(5s)) throw std::runtime_error(name_ + " focused by sway but no keyboard enter");
}

bool WaylandProbe::WaitForKeys(std::size_t count, std::chrono::milliseconds timeout,
                               std::uint32_t key, std::size_t from) {
  return PumpUntil([&] { return Transitions(key, from).size() >= count; }, timeout);
}

std::vector<WaylandKeyEvent> WaylandProbe::Transitions(std::uint32_t key, std::size_t from) const {
  std::vector<WaylandKeyEvent> out;
  for (std::size_t i = from; i < events_.size(); ++i) {
    if (events_[i].key == key) out.push_back(events_[i]);
  }
  return out;
}

std::string WaylandProbe::KeysDownText() const {
  std::string text;
  for (std::uint32_t key : keys_down_) {
    if (!text.empty()) text += ' ';
    text += std::to_string(key);
  }
  return text;
}

bool WaylandProbe::CanType() const { return wl_->virtual_keyboard != nullptr; }

void WaylandProbe::Type(std::uint32_t key, bool down) {
  if (!CanType()) throw std::logic_error("the compositor gave the probe no virtual keyboard");
  zwp_virtual_keyboard_v1_key(
      wl_->virtual_keyboard, static_cast<std::uint32_t>(MonotonicMs()), key,
      down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
  Roundtrip();
}

void WaylandProbe::TypeText(const std::string& text) {
  for (char c : text) {
    const std::uint32_t key = KeyFor(c);
    Type(key, true);
    Type(key, false);
  }
}

}  // namespace tollmere::e2e
