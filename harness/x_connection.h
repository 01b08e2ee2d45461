#pragma once
// Internal to the harness. Xlib's macros (None, Bool, Status, ...) clash with
// Qt and GoogleTest names, so only .cpp files include this.

#include <X11/Xlib.h>

#include <string>

namespace tollmere::e2e {

// One Xlib connection whose errors never end the test process: protocol
// errors are recorded instead of exiting, and a server that goes away marks
// the connection lost instead of calling exit().
class XConnection {
 public:
  explicit XConnection(const std::string& display_name);
  ~XConnection();
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;

  Display* get() const { return display_; }
  bool lost() const { return lost_; }

  // Runs XSync and returns the error code of the first protocol error since
  // the previous call (0 if none).
  int SyncAndTakeError();

 private:
  static void OnLost(Display*, void* self);

  Display* display_ = nullptr;
  bool lost_ = false;
};

}  // namespace tollmere::e2e
