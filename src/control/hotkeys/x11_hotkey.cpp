// Kept free of toolkit headers: Xlib's macros (None, Bool, KeyPress, ...)
// clash with them.
#include "control/hotkeys/x11_hotkey.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <cstdlib>
#include <vector>

#include "runtime/trace.h"

namespace tollmere::control {

using runtime::Quoted;
using runtime::Trace;

struct X11Hotkey::Connection {
  Display* display = nullptr;
  KeyCode keycode = 0;
  unsigned modifiers = 0;
  unsigned num_lock = 0;
  bool down = false;

  ~Connection() {
    if (display != nullptr) XCloseDisplay(display);
  }

  // The grab is made once for each state of NumLock and CapsLock, which
  // the server counts as modifiers: otherwise the hotkey dies while
  // either is on.
  std::vector<unsigned> LockVariants() const {
    std::vector<unsigned> variants{0, LockMask};
    if (num_lock != 0) {
      variants.push_back(num_lock);
      variants.push_back(num_lock | LockMask);
    }
    return variants;
  }
};

namespace {

int grab_error = 0;

int OnGrabError(Display*, XErrorEvent* event) {
  if (grab_error == 0) grab_error = event->error_code;
  return 0;
}

// The modifier bit a key is mapped to (NumLock is Mod2 on most keyboards,
// not all), or 0.
unsigned ModifierOf(Display* display, KeySym keysym) {
  const KeyCode code = XKeysymToKeycode(display, keysym);
  if (code == 0) return 0;
  XModifierKeymap* map = XGetModifierMapping(display);
  unsigned mask = 0;
  for (int modifier = 0; modifier < 8 && mask == 0; ++modifier) {
    for (int i = 0; i < map->max_keypermod; ++i) {
      if (map->modifiermap[modifier * map->max_keypermod + i] == code) {
        mask = 1u << modifier;
        break;
      }
    }
  }
  XFreeModifiermap(map);
  return mask;
}

bool KeyIsDown(Display* display, KeyCode keycode) {
  char keys[32];
  XQueryKeymap(display, keys);
  return (keys[keycode / 8] & (1 << (keycode % 8))) != 0;
}

unsigned ModifierOr(Display* display, KeySym keysym, unsigned usual) {
  const unsigned mask = ModifierOf(display, keysym);
  return mask != 0 ? mask : usual;
}

}  // namespace

X11Hotkey::X11Hotkey(std::unique_ptr<Connection> connection) : x_(std::move(connection)) {}
X11Hotkey::~X11Hotkey() = default;

std::unique_ptr<X11Hotkey> X11Hotkey::Grab(const Hotkey& hotkey, std::string& problem) {
  const std::string name = HotkeyName(hotkey);
  auto x = std::make_unique<Connection>();
  x->display = XOpenDisplay(nullptr);
  if (x->display == nullptr) {
    problem = "The hotkey " + name + " is off: cannot connect to the X display.";
    return nullptr;
  }
  Display* d = x->display;
  const KeySym keysym = XStringToKeysym(hotkey.keysym.c_str());
  x->keycode = keysym == NoSymbol ? 0 : XKeysymToKeycode(d, keysym);
  if (x->keycode == 0) {
    problem =
        "The hotkey " + name + " is off: no key on this keyboard types " + hotkey.keysym + ".";
    return nullptr;
  }
  const auto mask = [d](const Hotkey& h) {
    return (h.ctrl ? ControlMask : 0u) | (h.shift ? ShiftMask : 0u) |
           (h.alt ? ModifierOr(d, XK_Alt_L, Mod1Mask) : 0u) |
           (h.super ? ModifierOr(d, XK_Super_L, Mod4Mask) : 0u);
  };
  x->modifiers = mask(hotkey);
  x->num_lock = ModifierOf(d, XK_Num_Lock);
  // While Tollmere holds a modifier, the user's press arrives with it.
  const unsigned held_mask = mask(AsPressedWhileHeld(hotkey)) & ~x->modifiers;

  // A key that another program has grabbed is refused with BadAccess,
  // which Xlib reports to the error handler, not to the caller.
  const Window root = DefaultRootWindow(d);
  XSync(d, False);
  grab_error = 0;
  const auto previous = XSetErrorHandler(OnGrabError);
  for (unsigned lock : x->LockVariants()) {
    XGrabKey(d, x->keycode, x->modifiers | lock, root, False, GrabModeAsync, GrabModeAsync);
    if (held_mask != 0) {
      XGrabKey(d, x->keycode, x->modifiers | held_mask | lock, root, False, GrabModeAsync,
               GrabModeAsync);
    }
  }
  XSync(d, False);
  XSetErrorHandler(previous);
  if (grab_error != 0) {
    problem = grab_error == BadAccess
                  ? "The hotkey " + name +
                        " is off: another program already uses it. Choose another with "
                        "--hotkey."
                  : "The hotkey " + name + " is off: the X server refused to grab it.";
    return nullptr;  // closing the connection lets go of any grab made
  }
  // A held key then sends presses without releases between them, and the
  // first press alone toggles.
  Bool supported = False;
  XkbSetDetectableAutoRepeat(d, True, &supported);
  XFlush(d);
  return std::unique_ptr<X11Hotkey>(new X11Hotkey(std::move(x)));
}

int X11Hotkey::Fd() const { return ConnectionNumber(x_->display); }

void X11Hotkey::HandleEvents(const std::function<void()>& on_press,
                             const std::function<bool()>& sends_key) {
  Display* d = x_->display;
  while (XPending(d) > 0) {
    XEvent event;
    XNextEvent(d, &event);
    if (event.type == KeyRelease && event.xkey.keycode == x_->keycode) {
      if (x_->down) XUngrabKeyboard(d, CurrentTime);
      x_->down = false;
      continue;
    }
    if (event.type != KeyPress || event.xkey.keycode != x_->keycode || x_->down) continue;
    x_->down = true;
    if (!sends_key()) {
      // The press's own grab ends when the key comes up.
      on_press();
      Trace("hotkey");
      continue;
    }
    // A tap already over (a script's, at machine speed): the grab ended with
    // its release, which is queued for us, so there is nothing to let go of,
    // and letting go now could send a release still on its way to the
    // focused window instead.
    if (!KeyIsDown(d, x_->keycode)) {
      on_press();
      Trace("hotkey");
      continue;
    }
    // The press made the server hand us the whole keyboard until the key
    // comes up, so the key-up that ends a hold would come to us instead of
    // the focused window: let go first, and wait until the server has.
    XUngrabKeyboard(d, CurrentTime);
    XSync(d, False);
    on_press();
    // Take the keyboard back so that the hotkey's own release, too, stays
    // away from the focused window. Grab first, then look: a key already up
    // would leave a grab that no release ends.
    if (XGrabKeyboard(d, DefaultRootWindow(d), False, GrabModeAsync, GrabModeAsync, CurrentTime) ==
        GrabSuccess) {
      if (!KeyIsDown(d, x_->keycode)) {
        XUngrabKeyboard(d, CurrentTime);
        x_->down = false;
      }
    } else {
      x_->down = false;
    }
    XFlush(d);
    Trace("hotkey");
  }
}

void X11Hotkey::LetGo() {
  if (!x_->down) return;
  XUngrabKeyboard(x_->display, CurrentTime);
  XSync(x_->display, False);
  x_->down = false;
}

}  // namespace tollmere::control
