#include "app/linux/display_check.h"

#include <unistd.h>

#include <QByteArray>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <string_view>

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
  const std::string_view wayland = Env("WAYLAND_DISPLAY");
  const std::string_view display = Env("DISPLAY");
  std::string message = "cannot open the window: ";
  if (Uses(platforms, "wayland") && !wayland.empty()) {
    message += "cannot connect to the Wayland display \"" + std::string(wayland) + "\"";
    if (Uses(platforms, "xcb") && !display.empty()) {
      message += ", nor to the X display \"" + std::string(display) + "\"";
    }
  } else if (Uses(platforms, "xcb") && !display.empty()) {
    message += "cannot connect to the X display \"" + std::string(display) + "\"";
  }
  return message +
         ". Check that the display server is running and that this user may connect to it.";
}

QtMessageHandler previous_handler = nullptr;

void OnToolkitMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type != QtFatalMsg) {
    if (previous_handler != nullptr) previous_handler(type, context, text);
    return;
  }
  std::fprintf(stderr, "tollmere: %s\n", FailureMessage().c_str());
  std::fflush(stderr);
  _exit(1);  // nothing is pressed yet, and the toolkit would abort next
}

}  // namespace

void ChooseWindowSystem() {
  if (!Env("QT_QPA_PLATFORM").empty() || Env("WAYLAND_DISPLAY").empty()) return;
  qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("wayland;xcb"));
}

std::string DisplayProblem() {
  const std::string_view platforms = Env("QT_QPA_PLATFORM");
  if (!Uses(platforms, "xcb") && !Uses(platforms, "wayland")) return {};  // offscreen, vnc, ...
  if ((Uses(platforms, "xcb") && !Env("DISPLAY").empty()) ||
      (Uses(platforms, "wayland") && !Env("WAYLAND_DISPLAY").empty())) {
    return {};
  }
  return "no display to open the window on: neither DISPLAY nor WAYLAND_DISPLAY is set. "
         "Start Tollmere from a desktop session.";
}

void ExplainWindowSystemFailure() { previous_handler = qInstallMessageHandler(OnToolkitMessage); }
void EndWindowSystemWatch() { qInstallMessageHandler(previous_handler); }

}  // namespace tollmere::app
