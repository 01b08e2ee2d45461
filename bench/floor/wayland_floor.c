/* The Wayland floor: the space bar through a virtual keyboard, each change
 * followed by a round trip, as Tollmere's Wayland back end sends it. */
#define _GNU_SOURCE
#include <linux/input-event-codes.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "floor_clock.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

struct floor_wayland {
  struct wl_display* display;
  struct wl_seat* seat;
  struct zwp_virtual_keyboard_manager_v1* manager;
  struct zwp_virtual_keyboard_v1* keyboard;
};

static void on_global(void* data, struct wl_registry* registry, uint32_t name,
                      const char* interface, uint32_t version) {
  struct floor_wayland* w = data;
  (void)version;
  if (w->seat == NULL && strcmp(interface, wl_seat_interface.name) == 0) {
    w->seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
  } else if (w->manager == NULL &&
             strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
    w->manager = wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1);
  }
}
static void on_global_remove(void* data, struct wl_registry* registry, uint32_t name) {
  (void)data, (void)registry, (void)name;
}
static const struct wl_registry_listener registry_listener = {on_global, on_global_remove};

static int send_key(void* context, int down) {
  struct floor_wayland* w = context;
  const uint32_t ms = (uint32_t)(floor_now_ns() / 1000000LL);
  zwp_virtual_keyboard_v1_key(
      w->keyboard, ms, KEY_SPACE,
      down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
  return wl_display_roundtrip(w->display) < 0;
}

static int fail(const char* what) {
  fprintf(stderr, "wayland-floor: %s\n", what);
  return 1;
}

/* The process ends with the holds; its end closes the connection. */
int main(int argc, char** argv) {
  struct floor_wayland w = {0};
  w.display = wl_display_connect(NULL);
  if (w.display == NULL) return fail("cannot connect to the compositor");
  wl_registry_add_listener(wl_display_get_registry(w.display), &registry_listener, &w);
  wl_display_roundtrip(w.display);
  if (w.seat == NULL || w.manager == NULL) return fail("no seat or no virtual keyboards");
  w.keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(w.manager, w.seat);

  /* The compositor takes no key before a keymap: the default layout. */
  struct xkb_context* xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  struct xkb_keymap* keymap = xkb_keymap_new_from_names(xkb, NULL, XKB_KEYMAP_COMPILE_NO_FLAGS);
  const char* text = keymap ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : NULL;
  if (text == NULL) return fail("no keymap");
  const size_t size = strlen(text) + 1;
  const int fd = memfd_create("wayland-floor-keymap", MFD_CLOEXEC);
  if (fd < 0 || write(fd, text, size) != (ssize_t)size) return fail("cannot write the keymap");
  zwp_virtual_keyboard_v1_keymap(w.keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, (uint32_t)size);
  wl_display_roundtrip(w.display);
  return floor_run(argc, argv, send_key, &w);
}
