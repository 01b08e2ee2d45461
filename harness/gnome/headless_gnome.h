#pragma once

#include <sys/types.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "harness/child_process.h"

namespace tollmere::e2e {

// Thrown when mutter is installed but ends while starting (no renderer, no
// seat it can use): a reason to skip, not a fault of the code under test.
struct GnomeCannotStart : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A private headless GNOME session: a session bus of its own, mutter on a
// 1024x768 virtual monitor (Wayland only, no Xwayland), and the desktop
// portal with its GNOME back end, which the bus starts when first called.
// A headless seat has no keyboard, and a key sent while one joins it is
// lost or shows only in a focus change; so, as on a real desktop, a
// keyboard of ours (a remote-desktop session of mutter's) stays on the seat
// throughout, and every later one joins a seat that has a keyboard.
// Everything lives in a runtime directory of its own (mode 0700), removed by
// the destructor. Ready for clients when the constructor returns; it throws
// otherwise, with mutter's log.
class HeadlessGnome {
 public:
  explicit HeadlessGnome(std::chrono::milliseconds startup_timeout = std::chrono::seconds(15));
  ~HeadlessGnome();
  HeadlessGnome(const HeadlessGnome&) = delete;
  HeadlessGnome& operator=(const HeadlessGnome&) = delete;

  // Empty when everything is installed, else what is missing, for GTEST_SKIP.
  static std::string Unavailable();

  const std::string& runtime_dir() const { return runtime_dir_; }
  const std::string& bus_address() const { return bus_address_; }
  // The Wayland socket's full path, for WAYLAND_DISPLAY.
  std::string socket_path() const { return runtime_dir_ + "/" + kDisplayName; }
  pid_t mutter_pid() const { return mutter_pid_; }

  // The environment for a client of this session, Qt included: its Wayland
  // display and session bus, and none of ours (no X display).
  std::vector<EnvChange> ClientEnvironment() const;

  // Answer the portal's "Remote desktop" dialog as a person would: wait up
  // to 10 s for it, tick "Allow remote interaction" and press "Share",
  // leaving "Remember this selection" ticked where the request asked to be
  // remembered (`persistent`) and the portal shows it; or press Escape.
  // True once the dialog has closed.
  bool ApproveRemoteDesktopDialog(bool persistent = false) const;
  bool RefuseRemoteDesktopDialog() const;

  // The portal's RemoteDesktop version (2 and later remember a permission),
  // 0 if it does not answer.
  unsigned RemoteDesktopVersion() const;

  // Presses each key through mutter's own remote-desktop interface, to the
  // focused window: keysym names, '+' joining keys held together.
  bool PressKeys(const std::vector<std::string>& keys) const;

  // The log of mutter, the bus and the portals so far, the end of it if long.
  std::string Log() const;

 private:
  static constexpr const char* kDisplayName = "wayland-tollmere";

  bool RunMutterKeys(std::vector<std::string> args) const;
  // dbus-send's reply on this session's bus, empty if the call failed.
  std::string BusQuery(std::vector<std::string> args) const;
  void Stop();

  std::string runtime_dir_;
  std::string bus_address_;
  pid_t bus_pid_ = -1;
  pid_t mutter_pid_ = -1;
  pid_t seat_keyboard_pid_ = -1;
  int log_fd_ = -1;
};

// The keyboard calls made to the portal on a session's bus, as dbus-monitor
// sees them: what a client asked for, told apart from what the desktop did
// on its own (it releases the keys of a session that ends).
class PortalKeyCalls {
 public:
  struct Call {
    int keycode = 0;
    bool press = false;
  };

  // Watching when the constructor returns; throws if dbus-monitor cannot.
  explicit PortalKeyCalls(const HeadlessGnome& gnome);
  ~PortalKeyCalls();
  PortalKeyCalls(const PortalKeyCalls&) = delete;
  PortalKeyCalls& operator=(const PortalKeyCalls&) = delete;

  // NotifyKeyboardKeycode calls so far, in order.
  std::vector<Call> Calls() const;

 private:
  pid_t pid_ = -1;
  int out_fd_ = -1;
};

}  // namespace tollmere::e2e
