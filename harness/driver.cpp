#include "harness/driver.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <stdexcept>
#include <thread>

#include "harness/x_connection.h"

namespace tollmere::e2e {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Driver::Driver(const std::string& display_name) : x_(std::make_unique<XConnection>(display_name)) {
  int event_base, error_base, major, minor;
  if (!XTestQueryExtension(x_->get(), &event_base, &error_base, &major, &minor)) {
    throw std::runtime_error("the X server has no XTest extension");
  }
}

Driver::~Driver() = default;

std::string Driver::Title(unsigned long window) {
  Display* d = x_->get();
  const Atom net_wm_name = XInternAtom(d, "_NET_WM_NAME", False);
  const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  Atom type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(d, window, net_wm_name, 0, 1024, False, utf8, &type, &format, &count,
                         &after, &data) == Success &&
      data != nullptr && type == utf8) {
    title.assign(reinterpret_cast<char*>(data), count);
  }
  if (data != nullptr) XFree(data);
  if (!title.empty()) return title;
  char* name = nullptr;
  if (XFetchName(d, window, &name) && name != nullptr) {
    title = name;
    XFree(name);
  }
  return title;
}

unsigned long Driver::FindViewable(unsigned long under, const std::string& title,
                                   unsigned long other_than) {
  Display* d = x_->get();
  ::Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(d, under, &root, &parent, &children, &count)) return 0;
  unsigned long found = 0;
  for (unsigned i = 0; i < count && found == 0; ++i) {
    XWindowAttributes wa{};
    // A window may vanish while we look: its errors are only recorded.
    if (children[i] != other_than && XGetWindowAttributes(d, children[i], &wa) &&
        wa.map_state == IsViewable && Title(children[i]) == title) {
      found = children[i];
    } else {
      found = FindViewable(children[i], title, other_than);
    }
  }
  if (children != nullptr) XFree(children);
  return found;
}

unsigned long Driver::WaitForWindow(const std::string& title, std::chrono::milliseconds timeout,
                                    unsigned long other_than) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const unsigned long w = FindViewable(DefaultRootWindow(x_->get()), title, other_than);
    x_->SyncAndTakeError();
    if (w != 0 || Clock::now() > deadline || x_->lost()) return w;
    std::this_thread::sleep_for(20ms);
  }
}

void Driver::Focus(unsigned long window) {
  XSetInputFocus(x_->get(), window, RevertToPointerRoot, CurrentTime);
  if (const int error = x_->SyncAndTakeError(); error != 0) {
    throw std::runtime_error("XSetInputFocus failed, error " + std::to_string(error));
  }
}

unsigned long Driver::FocusedWindow() {
  ::Window focus = 0;
  int revert = 0;
  XGetInputFocus(x_->get(), &focus, &revert);
  return focus;
}

void Driver::Key(unsigned keycode, bool down) {
  XTestFakeKeyEvent(x_->get(), keycode, down ? True : False, CurrentTime);
  XSync(x_->get(), False);
}

void Driver::PressKey(unsigned long keysym) { Key(XKeysymToKeycode(x_->get(), keysym), true); }

void Driver::ReleaseKey(unsigned long keysym) { Key(XKeysymToKeycode(x_->get(), keysym), false); }

void Driver::Chord(unsigned long modifier, unsigned long keysym) {
  Display* d = x_->get();
  const KeyCode mod = XKeysymToKeycode(d, modifier);
  const KeyCode key = XKeysymToKeycode(d, keysym);
  if (mod == 0 || key == 0) throw std::runtime_error("Chord: a keysym has no key");
  Key(mod, true);
  Key(key, true);
  Key(key, false);
  Key(mod, false);
}

bool Driver::LockOn(unsigned long keysym) {
  Display* d = x_->get();
  const KeyCode code = XKeysymToKeycode(d, keysym);
  XModifierKeymap* map = XGetModifierMapping(d);
  unsigned mask = 0;
  for (int i = 0; i < 8 * map->max_keypermod; ++i) {
    if (code != 0 && map->modifiermap[i] == code) mask |= 1u << (i / map->max_keypermod);
  }
  XFreeModifiermap(map);
  if (mask == 0) throw std::runtime_error("LockOn: the key is no modifier");
  XkbStateRec state{};
  XkbGetState(d, XkbUseCoreKbd, &state);
  return (state.locked_mods & mask) != 0;
}

void Driver::GrabKey(unsigned long keysym) {
  Display* d = x_->get();
  XGrabKey(d, XKeysymToKeycode(d, keysym), AnyModifier, DefaultRootWindow(d), False, GrabModeAsync,
           GrabModeAsync);
  if (const int error = x_->SyncAndTakeError(); error != 0) {
    throw std::runtime_error("XGrabKey failed, error " + std::to_string(error));
  }
}

void Driver::Type(std::string_view text) {
  Display* d = x_->get();
  const KeyCode shift = XKeysymToKeycode(d, XK_Shift_L);
  for (char c : text) {
    if (c < 0x20 || c > 0x7e) throw std::invalid_argument("Type: printable ASCII only");
    // Latin-1 keysyms equal their character codes.
    const KeySym sym = static_cast<unsigned char>(c);
    const KeyCode code = XKeysymToKeycode(d, sym);
    if (code == 0) throw std::runtime_error(std::string("no key types '") + c + "'");
    const bool shifted = XkbKeycodeToKeysym(d, code, 0, 0) != sym;
    if (shifted && XkbKeycodeToKeysym(d, code, 0, 1) != sym) {
      throw std::runtime_error(std::string("'") + c + "' is on neither level of its key");
    }
    if (shifted) Key(shift, true);
    Key(code, true);
    Key(code, false);
    if (shifted) Key(shift, false);
  }
}

void Driver::Click(unsigned long window, int x, int y) {
  Display* d = x_->get();
  int root_x = 0, root_y = 0;
  ::Window child = 0;
  if (!XTranslateCoordinates(d, window, DefaultRootWindow(d), x, y, &root_x, &root_y, &child)) {
    throw std::runtime_error("Click: window is not on the default screen");
  }
  XTestFakeMotionEvent(d, DefaultScreen(d), root_x, root_y, CurrentTime);
  XSync(d, False);
  XTestFakeButtonEvent(d, 1, True, CurrentTime);
  XSync(d, False);
  XTestFakeButtonEvent(d, 1, False, CurrentTime);
  XSync(d, False);
}

void Driver::RequestClose(unsigned long window) {
  Display* d = x_->get();
  XEvent ev{};
  ev.xclient.type = ClientMessage;
  ev.xclient.window = window;
  ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  ev.xclient.format = 32;
  ev.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  ev.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, window, False, NoEventMask, &ev);
  if (const int error = x_->SyncAndTakeError(); error != 0) {
    throw std::runtime_error("WM_DELETE_WINDOW could not be sent, error " + std::to_string(error));
  }
}

}  // namespace tollmere::e2e
