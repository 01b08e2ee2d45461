#include "harness/probe.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <stdexcept>

#include "harness/x_connection.h"

namespace tollmere::e2e {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Probe::Probe(const std::string& display_name) : x_(std::make_unique<XConnection>(display_name)) {
  Display* d = x_->get();
  Bool supported = False;
  XkbSetDetectableAutoRepeat(d, True, &supported);
  if (!supported) throw std::runtime_error("the X server has no detectable autorepeat");

  // Bottom right, clear of the program's window at the top left.
  const int screen = DefaultScreen(d);
  XSetWindowAttributes attrs{};
  attrs.background_pixel = BlackPixel(d, screen);
  attrs.event_mask =
      KeyPressMask | KeyReleaseMask | PropertyChangeMask | StructureNotifyMask | FocusChangeMask;
  window_ = XCreateWindow(d, RootWindow(d, screen), 500, 380, 120, 80, 0, CopyFromParent,
                          InputOutput, CopyFromParent, CWBackPixel | CWEventMask, &attrs);
  XStoreName(d, window_, "Tollmere test probe");
  time_atom_ = XInternAtom(d, "TOLLMERE_PROBE_TIME", False);
  XMapWindow(d, window_);
  XSync(d, False);
  XWindowAttributes wa{};
  const auto deadline = Clock::now() + 5s;
  while (XGetWindowAttributes(d, window_, &wa) && wa.map_state != IsViewable) {
    if (Clock::now() > deadline) throw std::runtime_error("probe window never became viewable");
    Pump(10ms);
  }
}

Probe::~Probe() = default;

void Probe::TakeFocus() {
  Display* d = x_->get();
  XSetInputFocus(d, window_, RevertToPointerRoot, CurrentTime);
  if (const int error = x_->SyncAndTakeError(); error != 0) {
    throw std::runtime_error("XSetInputFocus on the probe failed, error " + std::to_string(error));
  }
  ::Window focus = 0;
  int revert = 0;
  XGetInputFocus(d, &focus, &revert);
  if (focus != window_) throw std::runtime_error("the probe did not get the input focus");
}

std::uint32_t Probe::ServerTime() {
  // A zero-length append changes nothing but makes the server send a
  // PropertyNotify carrying its current time.
  Display* d = x_->get();
  time_seen_ = false;
  XChangeProperty(d, window_, time_atom_, XA_STRING, 8, PropModeAppend, nullptr, 0);
  XFlush(d);
  const auto deadline = Clock::now() + 5s;
  while (!time_seen_) {
    if (Clock::now() > deadline || x_->lost())
      throw std::runtime_error("no PropertyNotify from the server");
    Pump(50ms);
  }
  return time_;
}

void Probe::Handle(const void* xevent) {
  const XEvent& ev = *static_cast<const XEvent*>(xevent);
  if (ev.type == PropertyNotify && ev.xproperty.atom == time_atom_) {
    time_seen_ = true;
    time_ = static_cast<std::uint32_t>(ev.xproperty.time);
    return;
  }
  if (ev.type != KeyPress && ev.type != KeyRelease) return;
  XKeyEvent key = ev.xkey;
  KeyEvent out;
  out.press = ev.type == KeyPress;
  out.keycode = key.keycode;
  out.keysym = XLookupKeysym(&key, 0);
  out.server_ms = static_cast<std::uint32_t>(key.time);
  out.repeat = out.press && down_[key.keycode & 0xFF];
  down_[key.keycode & 0xFF] = out.press;
  events_.push_back(out);
}

void Probe::Pump(std::chrono::milliseconds wait) {
  Display* d = x_->get();
  if (x_->lost()) return;
  if (XPending(d) == 0) {
    pollfd pfd{ConnectionNumber(d), POLLIN, 0};
    poll(&pfd, 1, static_cast<int>(wait.count()));
  }
  while (!x_->lost() && XPending(d) > 0) {
    XEvent ev;
    XNextEvent(d, &ev);
    Handle(&ev);
  }
}

std::vector<KeyEvent> Probe::Transitions(unsigned long keysym, std::size_t from) const {
  std::vector<KeyEvent> out;
  for (std::size_t i = from; i < events_.size(); ++i) {
    if (events_[i].keysym == keysym && !events_[i].repeat) out.push_back(events_[i]);
  }
  return out;
}

bool Probe::WaitForKeys(std::size_t count, std::chrono::milliseconds timeout, unsigned long keysym,
                        std::size_t from) {
  const auto deadline = Clock::now() + timeout;
  while (Transitions(keysym, from).size() < count) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || x_->lost()) return false;
    Pump(std::min(left, std::chrono::milliseconds(100)));
  }
  return true;
}

void Probe::Collect(std::chrono::milliseconds duration) {
  const auto deadline = Clock::now() + duration;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || x_->lost()) return;
    Pump(left);
  }
}

std::vector<unsigned> Probe::KeycodesDown() {
  char keys[32] = {};
  XQueryKeymap(x_->get(), keys);
  std::vector<unsigned> out;
  for (unsigned code = 0; code < 256; ++code) {
    if (keys[code / 8] & (1 << (code % 8))) out.push_back(code);
  }
  return out;
}

bool Probe::AnyKeyDown() { return !KeycodesDown().empty(); }

bool Probe::KeyDown(unsigned long keysym) {
  const KeyCode code = XKeysymToKeycode(x_->get(), keysym);
  for (unsigned down : KeycodesDown()) {
    if (down == code) return true;
  }
  return false;
}

std::string Probe::KeysDownText() {
  std::string out;
  for (unsigned code : KeycodesDown()) {
    const KeySym sym = XkbKeycodeToKeysym(x_->get(), static_cast<KeyCode>(code), 0, 0);
    const char* name = sym == NoSymbol ? nullptr : XKeysymToString(sym);
    if (!out.empty()) out += ", ";
    out += name != nullptr ? name : "keycode " + std::to_string(code);
  }
  return out.empty() ? "none" : out;
}

}  // namespace tollmere::e2e
