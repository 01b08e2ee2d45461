#include "harness/x_connection.h"

#include <csignal>
#include <mutex>
#include <stdexcept>

namespace tollmere::e2e {
namespace {

// Connections are used from one thread at a time; Xlib calls the handler
// during the call that received the error.
int g_first_error = 0;

int RecordError(Display*, XErrorEvent* event) {
  if (g_first_error == 0) g_first_error = event->error_code;
  return 0;
}

int QuietIOError(Display*) { return 0; }

void InstallHandlersOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    XSetErrorHandler(RecordError);
    XSetIOErrorHandler(QuietIOError);
    // Writing to a server that was killed must not kill the tests.
    std::signal(SIGPIPE, SIG_IGN);
  });
}

}  // namespace

XConnection::XConnection(const std::string& display_name) {
  InstallHandlersOnce();
  display_ = XOpenDisplay(display_name.c_str());
  if (display_ == nullptr) throw std::runtime_error("cannot open X display " + display_name);
  XSetIOErrorExitHandler(display_, &XConnection::OnLost, this);
}

XConnection::~XConnection() {
  if (display_ != nullptr) XCloseDisplay(display_);
}

void XConnection::OnLost(Display*, void* self) { static_cast<XConnection*>(self)->lost_ = true; }

int XConnection::SyncAndTakeError() {
  if (!lost_) XSync(display_, False);
  const int error = g_first_error;
  g_first_error = 0;
  return error;
}

}  // namespace tollmere::e2e
