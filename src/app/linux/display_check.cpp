#include "app/linux/display_check.h"

#include <unistd.h>

#include <QByteArray>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "session/session_type.h"

namespace tollmere::app {
namespace {

std::string_view Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string_view{} : std::string_view{value};
}

bool Uses(std::string_view platforms, std::string_view name) {
  return platforms.empty() || platforms.find(name) != std::string_view::npos;
}

std::string FailureMessage() {
  const std::string_view platforms = Env("QT_QPA_PLATFORM");
  const session::SessionType session = session::SessionFromEnvironment();
  std::string message = "cannot open the window: ";
  if (Uses(platforms, "wayland") && session.Wayland()) {
    message += "cannot connect to the Wayland display \"" + session.wayland_display + "\"";
    if (Uses(platforms, "xcb") && session.X11()) {
      message += ", nor to the X display \"" + session.x11_display + "\"";
    }
  } else if (Uses(platforms, "xcb") && session.X11()) {
    message += "cannot connect to the X display \"" + session.x11_display + "\"";
  }
  return message +
         ". Check that the display server is running and that this user may connect to it.";
}

QtMessageHandler previous_handler = nullptr;
std::function<void()> before_exit;

void OnToolkitMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type != QtFatalMsg) {
    if (previous_handler != nullptr) previous_handler(type, context, text);
    return;
  }
  if (before_exit) before_exit();
  std::fprintf(stderr, "tollmere: %s\n", FailureMessage().c_str());
  std::fflush(stderr);
  _exit(1);  // nothing is pressed now, and the toolkit would abort next
}

}  // namespace

void ChooseWindowSystem() {
  if (!Env("QT_QPA_PLATFORM").empty() || !session::SessionFromEnvironment().Wayland()) return;
  qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("wayland;xcb"));
}

std::string DisplayProblem() {
  const std::string_view platforms = Env("QT_QPA_PLATFORM");
  if (!Uses(platforms, "xcb") && !Uses(platforms, "wayland")) return {};  // offscreen, vnc, ...
  const session::SessionType session = session::SessionFromEnvironment();
  if ((Uses(platforms, "xcb") && session.X11()) ||
      (Uses(platforms, "wayland") && session.Wayland())) {
    return {};
  }
  return "no display to open the window on: neither DISPLAY nor WAYLAND_DISPLAY is set. "
         "Start Tollmere from a desktop session.";
}

void ExplainWindowSystemFailure(std::function<void()> then) {
  before_exit = std::move(then);
  previous_handler = qInstallMessageHandler(OnToolkitMessage);
}
void EndWindowSystemWatch() { qInstallMessageHandler(previous_handler); }

}  // namespace tollmere::app
