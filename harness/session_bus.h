#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

namespace tollmere::e2e {

// A private D-Bus session bus (dbus-daemon --session), ready when the
// constructor returns (it throws otherwise), so that programs under test
// find each other there and never on the user's own bus. The destructor ends
// and reaps it; the daemon also dies if we do.
class SessionBusDaemon {
 public:
  explicit SessionBusDaemon(std::chrono::milliseconds startup_timeout = std::chrono::seconds(10));
  ~SessionBusDaemon();
  SessionBusDaemon(const SessionBusDaemon&) = delete;
  SessionBusDaemon& operator=(const SessionBusDaemon&) = delete;

  // For DBUS_SESSION_BUS_ADDRESS.
  const std::string& address() const { return address_; }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  std::string address_;
};

}  // namespace tollmere::e2e
