// Kept free of toolkit headers: Xlib's macros (None, Bool, KeyPress, ...)
// clash with them.
#include "key_injection/backends/xtest_backend.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "key_injection/key_table.h"
#include "runtime/error.h"
#include "session/session_type.h"

namespace tollmere::key_injection {
namespace {

namespace rt = tollmere::runtime;

// The table's numbers against Xlib's names, one key of each kind.
static_assert(KeyNamesFor(' ').keysym == XK_space);
static_assert(KeyNamesFor('0').keysym == XK_0 && KeyNamesFor('A').keysym == XK_a);
static_assert(KeyNamesFor(0x70).keysym == XK_F1 && KeyNamesFor(0x87).keysym == XK_F24);
static_assert(KeyNamesFor(0x2E).keysym == XK_Delete && KeyNamesFor(0x21).keysym == XK_Prior);

// Xlib calls this when the server goes away. Nothing can be released on a
// dead server, and returning would let Xlib exit through handlers that talk
// to it again: say what happened and leave at once.
int OnConnectionLost(Display*) {
  static const char kMessage[] = "tollmere: the connection to the X server was lost; ending.\n";
  (void)!write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  _exit(1);
}

class XTestBackend final : public KeystrokeBackend {
 public:
  explicit XTestBackend(Display* display) : display_(display) {}
  ~XTestBackend() override { XCloseDisplay(display_); }

  void KeyDown(std::uint8_t vk) override { Send(vk, True); }
  void KeyUp(std::uint8_t vk) override { Send(vk, False); }
  std::string_view Name() const override { return "XTest"; }

 private:
  void Send(std::uint8_t vk, Bool down) {
    const KeySym sym = KeyNamesFor(vk).keysym;
    const KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(display_, sym);
    if (code == 0) throw KeyNotOnKeyboard(vk);
    XTestFakeKeyEvent(display_, code, down, CurrentTime);
    if (down) {
      // Written at once, not waited for: the caller starts timing the hold
      // when this returns, and waiting for the server's reply would add that
      // round trip (about a millisecond) to every hold.
      XFlush(display_);
    } else {
      // Waited for: a server drops what it has not yet read from a client
      // that dies right after a last release. The reply also confirms that
      // the key-down before it was taken.
      XSync(display_, False);
    }
  }

  Display* display_;
};

}  // namespace

std::unique_ptr<KeystrokeBackend> OpenXTestBackend() {
  const session::SessionType session = session::SessionFromEnvironment();
  const std::string& name = session.x11_display;
  if (!session.X11()) {
    throw FacilityUnavailable(session.Wayland()
                                  ? "This Wayland session has no X server to send keystrokes "
                                    "through. Enable Xwayland, or start Tollmere in an X11 session."
                                  : "No X display to send keystrokes to: DISPLAY is not set. "
                                    "Start Tollmere from a graphical session.");
  }
  XSetIOErrorHandler(OnConnectionLost);
  Display* display = XOpenDisplay(name.c_str());
  if (display == nullptr) {
    throw FacilityUnavailable(std::string("Cannot connect to the X display \"") + name +
                              "\" to send keystrokes. Check that the X server is running and "
                              "that this user may connect to it (xhost, XAUTHORITY).");
  }
  int event_base = 0, error_base = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(display, &event_base, &error_base, &major, &minor)) {
    XCloseDisplay(display);
    throw FacilityUnavailable(std::string("The X server on \"") + name +
                              "\" has no XTest extension, so keystrokes cannot be sent. "
                              "Enable XTest in the X server's configuration.");
  }
  return std::make_unique<XTestBackend>(display);
}

}  // namespace tollmere::key_injection
