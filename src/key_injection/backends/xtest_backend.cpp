// Kept free of toolkit headers: Xlib's macros (None, Bool, KeyPress, ...)
// clash with them.
#include "key_injection/backends/xtest_backend.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

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
static_assert(KeyNamesFor(0x60).keysym == XK_KP_0 && KeyNamesFor(0x6F).keysym == XK_KP_Divide &&
              KeyNamesFor(0x6E).keysym == XK_KP_Decimal);
static_assert(KeyNamesFor(0xBA).keysym == XK_semicolon &&
              KeyNamesFor(0xDE).keysym == XK_apostrophe && KeyNamesFor(0xC0).keysym == XK_grave);
static_assert(KeyNamesFor(0xA0).keysym == XK_Shift_L && KeyNamesFor(0xA3).keysym == XK_Control_R &&
              KeyNamesFor(0xA5).keysym == XK_Alt_R && KeyNamesFor(0x5C).keysym == XK_Super_R);
static_assert(KeyNamesFor(0x14).keysym == XK_Caps_Lock && KeyNamesFor(0x90).keysym == XK_Num_Lock &&
              KeyNamesFor(0x91).keysym == XK_Scroll_Lock);

// Xlib calls this when the server goes away. Nothing can be released on a
// dead server, and returning would let Xlib exit through handlers that talk
// to it again: say what happened and leave at once.
int OnConnectionLost(Display*) {
  static const char kMessage[] = "tollmere: the connection to the X server was lost; ending.\n";
  (void)!write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  _exit(1);
}

// Every key code a Tollmere on this display has lent, with a window that
// stands for the lender: a property of the root window, changed only under
// a server grab, so that two Tollmeres never lend the same code. The server
// destroys a lender's window with its connection, however the program
// ended, so the next Tollmere can give back what a killed one lent.
constexpr char kLentProperty[] = "_TOLLMERE_LENT_KEYCODES";

struct Loan {
  long code;
  long owner;
};

std::vector<Loan> ReadLoans(Display* display, Atom property) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::vector<Loan> loans;
  if (XGetWindowProperty(display, DefaultRootWindow(display), property, 0, 1024, False, XA_INTEGER,
                         &type, &format, &count, &after, &data) == Success &&
      type == XA_INTEGER && format == 32) {
    const auto* longs = reinterpret_cast<const long*>(data);
    for (unsigned long i = 0; i + 1 < count; i += 2) loans.push_back({longs[i], longs[i + 1]});
  }
  if (data != nullptr) XFree(data);
  return loans;
}

void WriteLoans(Display* display, Atom property, const std::vector<Loan>& loans) {
  std::vector<long> longs;
  for (const Loan& loan : loans) longs.insert(longs.end(), {loan.code, loan.owner});
  XChangeProperty(display, DefaultRootWindow(display), property, XA_INTEGER, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(longs.data()),
                  static_cast<int>(longs.size()));
}

bool window_missing = false;
int NoteMissingWindow(Display*, XErrorEvent* error) {
  window_missing = window_missing || error->error_code == BadWindow;
  return 0;
}

// Whether the window still exists: whether its lender is still connected.
bool WindowExists(Display* display, Window window) {
  window_missing = false;
  const auto previous = XSetErrorHandler(NoteMissingWindow);
  XWindowAttributes attributes;
  XGetWindowAttributes(display, window, &attributes);
  XSync(display, False);
  XSetErrorHandler(previous);
  return !window_missing;
}

// The server's keyboard mapping, as read: Xlib's own copy is refreshed only
// by events this connection never reads, and the user may have changed the
// keymap since Tollmere started.
class Mapping {
 public:
  // `lent` are the codes other Tollmeres lent: theirs to give back.
  Mapping(Display* display, std::set<KeyCode> lent) : lent_(std::move(lent)) {
    XDisplayKeycodes(display, &min_, &max_);
    syms_ = XGetKeyboardMapping(display, static_cast<KeyCode>(min_), max_ - min_ + 1, &per_);
  }
  ~Mapping() {
    if (syms_ != nullptr) XFree(syms_);
  }
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;

  // The key that types `sym` unshifted in the first group, 0 when none: one
  // that types it only with Shift or in another group would type something
  // else. Keypad keysyms count at any level too (KP_1 shares its key with
  // KP_End, NumLock choosing), so the keypad's own key is the one pressed.
  KeyCode Find(KeySym sym) const {
    const int columns = IsKeypadKey(sym) ? per_ : 1;
    for (int column = 0; syms_ != nullptr && column < columns; ++column) {
      for (int code = min_; code <= max_; ++code) {
        if (At(code, column) == sym && lent_.count(static_cast<KeyCode>(code)) == 0)
          return static_cast<KeyCode>(code);
      }
    }
    return 0;
  }

  // A key code the keymap leaves empty, from the top down (the low codes are
  // the real keys'); 0 when every code types something.
  KeyCode Spare() const {
    for (int code = max_; syms_ != nullptr && code >= min_; --code) {
      bool empty = lent_.count(static_cast<KeyCode>(code)) == 0;
      for (int column = 0; empty && column < per_; ++column) empty = At(code, column) == NoSymbol;
      if (empty) return static_cast<KeyCode>(code);
    }
    return 0;
  }

 private:
  KeySym At(int code, int column) const { return syms_[(code - min_) * per_ + column]; }

  std::set<KeyCode> lent_;
  int min_ = 0, max_ = 0, per_ = 0;
  KeySym* syms_ = nullptr;
};

class XTestBackend final : public KeystrokeBackend {
 public:
  explicit XTestBackend(Display* display)
      : display_(display), property_(XInternAtom(display, kLentProperty, False)) {
    // What a killed Tollmere lent is given back before anything is pressed.
    if (!ReadLoans(display_, property_).empty()) ChangeLoans(0);
  }
  ~XTestBackend() override {
    // Module1 put the keys up before closing us; what was lent goes back.
    if (!lent_.empty()) ChangeLoans(0, true);
    XSync(display_, False);
    XCloseDisplay(display_);
  }

  void KeyDown(std::uint8_t vk) override {
    const KeySym sym = KeyNamesFor(vk).keysym;
    KeyCode code = 0;
    if (const auto it = pressed_.find(vk); it != pressed_.end()) {
      code = it->second;  // down again: the same key
    } else if (const auto lent = lent_.find(sym); lent != lent_.end()) {
      code = lent->second;  // lent once, for every hold after
    } else if (sym != NoSymbol) {
      code = Current().Find(sym);
      if (code == 0) code = ChangeLoans(sym);
    }
    if (code == 0) throw KeyNotOnKeyboard(vk);
    pressed_[vk] = code;
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    // Written at once, not waited for: the caller starts timing the hold
    // when this returns, and waiting for the server's reply would add that
    // round trip (about a millisecond) to every hold.
    XFlush(display_);
  }

  void KeyUp(std::uint8_t vk) override {
    const auto it = pressed_.find(vk);
    const KeySym sym = KeyNamesFor(vk).keysym;
    const KeyCode code = it != pressed_.end() ? it->second
                         : sym != NoSymbol    ? Mapping(display_, {}).Find(sym)
                                              : 0;
    if (code == 0) throw KeyNotOnKeyboard(vk);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    if (it != pressed_.end()) pressed_.erase(it);
    // A lent code stays lent: a client reading this release after the code
    // went back would read it as no key at all.
    // Waited for: a server drops what it has not yet read from a client
    // that dies right after a last release. The reply also confirms that
    // the key-down before it was taken.
    XSync(display_, False);
  }

  std::string_view Name() const override { return "XTest"; }

  // Read at the click, so that the key-down at the countdown's 0 (and each
  // repeat's) costs no round trip to the server.
  void Prepare() override { mapping_.reset(); }

  // A keysym no key types unshifted (F13-F24 in many layouts, ";" in some)
  // is lent a key code the keymap leaves empty, so it is refused only when
  // there is none.
  std::string KeyProblem(std::uint8_t vk) override {
    const std::optional<Key> key = KeyByVk(vk);
    if (!key) return "key code " + std::to_string(vk) + " is no key of a standard keyboard";
    mapping_.reset();
    const Mapping& mapping = Current();
    if (lent_.count(key->keysym) != 0 || mapping.Find(key->keysym) != 0 || mapping.Spare() != 0)
      return {};
    const std::string sym(key->keysym_name);
    return "No key of this X keyboard types " + sym +
           ", and its keymap has no free key code to lend it for the hold. Choose another "
           "key, or put " +
           sym +
           " on a key you do not use, for example with "
           "`xmodmap -e 'keycode CODE = " +
           sym + "'` (`xev` shows a key's code).";
  }

 private:
  // The keymap as last read: at the first key, at each click, at each
  // choice of a key, and after a loan.
  const Mapping& Current() {
    if (!mapping_) mapping_ = std::make_unique<Mapping>(display_, OthersLoans());
    return *mapping_;
  }

  std::set<KeyCode> OthersLoans() {
    std::set<KeyCode> codes;
    for (const Loan& loan : ReadLoans(display_, property_)) {
      if (loan.owner != static_cast<long>(owner_)) codes.insert(static_cast<KeyCode>(loan.code));
    }
    return codes;
  }

  // Under a server grab: gives back what lenders that are gone lent, and
  // what this one lent and no longer holds (all of it with `all`), then
  // lends `sym` (unless 0) a free code. Returns that code, 0 when none.
  KeyCode ChangeLoans(KeySym sym, bool all = false) {
    mapping_.reset();
    XGrabServer(display_);
    std::vector<Loan> kept;
    for (const Loan& loan : ReadLoans(display_, property_)) {
      const bool ours = loan.owner == static_cast<long>(owner_);
      const bool held = std::any_of(pressed_.begin(), pressed_.end(), [&](const auto& p) {
        return p.second == static_cast<KeyCode>(loan.code);
      });
      const bool give_back =
          ours ? all || !held : !WindowExists(display_, static_cast<Window>(loan.owner));
      if (!give_back) {
        kept.push_back(loan);
        continue;
      }
      KeySym none = NoSymbol;
      XChangeKeyboardMapping(display_, static_cast<int>(loan.code), 1, &none, 1);
      if (ours) std::erase_if(lent_, [&](const auto& l) { return l.second == loan.code; });
    }
    KeyCode code = 0;
    if (sym != NoSymbol) {
      std::set<KeyCode> taken;
      for (const Loan& loan : kept) taken.insert(static_cast<KeyCode>(loan.code));
      code = Mapping(display_, std::move(taken)).Spare();
    }
    if (code != 0) {
      if (owner_ == None) {
        owner_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 1, 1, 0, 0, 0);
      }
      KeySym pair[2] = {};
      XConvertCase(sym, &pair[0], &pair[1]);
      XChangeKeyboardMapping(display_, code, pair[0] == pair[1] ? 1 : 2, pair, 1);
      kept.push_back({code, static_cast<long>(owner_)});
      lent_[sym] = code;
    }
    WriteLoans(display_, property_, kept);
    XUngrabServer(display_);
    // Waited for, so the mapping is in place before the key-down, and every
    // client is told of it before the key event reaches them.
    XSync(display_, False);
    return code;
  }

  Display* display_;
  Atom property_;
  Window owner_ = None;  // stands for this Tollmere in the loans, once it lends
  std::unique_ptr<Mapping> mapping_;
  // Released by the code they went down with, whatever the keymap does since.
  std::map<std::uint8_t, KeyCode> pressed_;
  std::map<KeySym, KeyCode> lent_;  // given back when another key is lent, and at the end
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
