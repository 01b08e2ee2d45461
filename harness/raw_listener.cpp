#include "harness/raw_listener.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>

namespace tollmere::e2e {

struct RawListener::Connection {
  Display* display = nullptr;
  int xi_opcode = 0;
  bool lost = false;
  ~Connection() {
    if (display != nullptr) XCloseDisplay(display);
  }
};

RawListener::RawListener(const std::string& display_name) : x_(std::make_unique<Connection>()) {
  x_->display = XOpenDisplay(display_name.c_str());
  Display* d = x_->display;
  if (d == nullptr) throw std::runtime_error("listener: cannot open X display " + display_name);
  // A server that goes away ends the recording, not the benchmark.
  XSetIOErrorExitHandler(
      d, [](Display*, void* self) { static_cast<Connection*>(self)->lost = true; }, x_.get());
  int event = 0, error = 0;
  if (!XQueryExtension(d, "XInputExtension", &x_->xi_opcode, &event, &error)) {
    throw std::runtime_error("listener: the X server has no XInput extension");
  }
  int major = 2, minor = 2;
  if (XIQueryVersion(d, &major, &minor) != Success || major < 2) {
    throw std::runtime_error("listener: the X server has no XInput 2");
  }
  unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(bits, XI_RawKeyPress);
  XISetMask(bits, XI_RawKeyRelease);
  XISetMask(bits, XI_RawButtonPress);
  XISetMask(bits, XI_RawButtonRelease);
  // Master devices only: each slave's event also reaches its master, and
  // listening to both would count every keystroke twice.
  XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
  XISelectEvents(d, DefaultRootWindow(d), &mask, 1);
  space_keycode_ = XKeysymToKeycode(d, XK_space);
  XSync(d, False);

  stop_fd_ = eventfd(0, EFD_CLOEXEC);
  reader_ = std::thread([this] { Read(); });
}

RawListener::~RawListener() {
  const std::uint64_t one = 1;
  (void)!write(stop_fd_, &one, sizeof one);
  reader_.join();
  close(stop_fd_);
}

void RawListener::Read() {
  Display* d = x_->display;
  while (!x_->lost) {
    if (XPending(d) == 0) {
      pollfd fds[2] = {{ConnectionNumber(d), POLLIN, 0}, {stop_fd_, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
      if (fds[1].revents != 0) return;
      if ((fds[0].revents & (POLLHUP | POLLERR)) != 0) return;
      if (x_->lost || XPending(d) == 0) continue;
    }
    XEvent ev;
    XNextEvent(d, &ev);
    if (ev.type != GenericEvent || ev.xcookie.extension != x_->xi_opcode) continue;
    if (!XGetEventData(d, &ev.xcookie)) continue;
    const auto* raw = static_cast<const XIRawEvent*>(ev.xcookie.data);
    RawInput in{};
    bool wanted = true;
    switch (ev.xcookie.evtype) {
      case XI_RawKeyPress: in.kind = RawInput::kKeyPress; break;
      case XI_RawKeyRelease: in.kind = RawInput::kKeyRelease; break;
      case XI_RawButtonPress: in.kind = RawInput::kButtonPress; break;
      case XI_RawButtonRelease: in.kind = RawInput::kButtonRelease; break;
      default: wanted = false;
    }
    // A repeat is no change of the key.
    wanted = wanted && (raw->flags & XIKeyRepeat) == 0;
    in.detail = static_cast<unsigned>(raw->detail);
    in.server_ms = static_cast<std::uint32_t>(raw->time);
    XFreeEventData(d, &ev.xcookie);
    if (!wanted) continue;
    std::lock_guard lock(mutex_);
    events_.push_back(in);
    changed_.notify_all();
  }
}

std::vector<RawInput> RawListener::Events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::vector<KeyTransition> RawListener::SpaceTransitions() const {
  std::vector<KeyTransition> out;
  for (const RawInput& in : Events()) {
    if ((in.kind == RawInput::kKeyPress || in.kind == RawInput::kKeyRelease) &&
        in.detail == space_keycode_) {
      out.push_back({in.kind == RawInput::kKeyPress, in.server_ms});
    }
  }
  return out;
}

bool RawListener::WaitUntil(const std::function<bool(const std::vector<RawInput>&)>& done,
                            std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return done(events_); });
}

}  // namespace tollmere::e2e
