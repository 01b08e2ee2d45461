#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "key_injection/backend_choice.h"
#include "key_injection/module1.h"
#include "main_window/display_check.h"
#include "main_window/exit_guard.h"
#include "main_window/fatal_dialog.h"
#include "main_window/form1.h"
#include "main_window/global_hotkey.h"
#include "main_window/hotkey_text.h"
#include "main_window/trace.h"
#include "runtime/fatal.h"
#include "tollmere_version.h"

// The icon's images, compiled in: XPM is C, and reading it from memory
// spares start-up the search for image-format plug-ins that a file needs.
#include "tollmere-16-16c.xpm"
#include "tollmere-32-16c.xpm"
#include "tollmere-32-2c.xpm"

namespace {

namespace mw = tollmere::main_window;
namespace ki = tollmere::key_injection;
namespace rt = tollmere::runtime;

std::string Usage() {
  std::string usage =
      "Usage: tollmere [--trace] [--hotkey=KEY] [--backend=" + ki::BackendNames() + "]\n";
  usage +=
      "Holds the space bar for you: type an interval in milliseconds, click Start;\n"
      "after a countdown of 4 seconds the space bar is held for two intervals.\n"
      "\n"
      "  --trace     write captions and keystrokes, with times, to standard error\n"
      "  --hotkey=KEY\n"
      "              a global hotkey that starts the countdown, or stops at once when\n"
      "              counting down or holding: F8, Ctrl+Alt+H, Super+F8, Shift+F12\n"
      "              (Ctrl, Alt, Shift, Super; F1-F24, A-Z, 0-9, Pause, Insert, Home,\n"
      "              End, ...). It works with NumLock and CapsLock on. X11: grabbed\n"
      "              from every program. Wayland: through the desktop's global\n"
      "              shortcuts portal (KDE); where there is none (sway, GNOME), bind\n"
      "              the desktop's own shortcut to 'tollmere --toggle' instead.\n"
      "  --backend=NAME\n"
      "              send keystrokes this way instead of choosing by the session:\n";
  usage += ki::BackendHelp("                ");
  usage +=
      "  --help      show this help and exit\n"
      "  --version   show the version and exit\n";
  return usage;
}

// Before an output appears (a Wayland session can start that way) there is
// no screen to ask; the window then takes the common 96 dpi.
double LogicalDpi() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->logicalDotsPerInch() : 96.0;
}

void ReleaseHeldKeys() { ki::TheModule1().ReleaseHeldKeys(); }

// Something the desktop user should know: standard error is not enough.
mw::Form1* notice_window = nullptr;
void Notify(const std::string& notice) {
  std::fprintf(stderr, "tollmere: %s\n", notice.c_str());
  mw::Trace("notice " + mw::Quoted(notice));
  if (notice_window != nullptr) notice_window->ShowNotice(notice);
}

}  // namespace

int main(int argc, char** argv) {
  bool trace = false;
  ki::BackendRequest backend = ki::BackendRequest::kAuto;
  std::optional<mw::Hotkey> hotkey;
  constexpr std::string_view kBackendOption = "--backend=";
  constexpr std::string_view kHotkeyOption = "--hotkey=";
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(Usage().c_str(), stdout);
      return 0;
    }
    if (arg == "--version") {
      std::puts("tollmere " TOLLMERE_VERSION);
      return 0;
    }
    if (arg == "--trace") {
      trace = true;
      continue;
    }
    if (arg.starts_with(kBackendOption)) {
      const auto named = ki::ParseBackendName(arg.substr(kBackendOption.size()));
      if (!named) {
        std::fprintf(stderr, "tollmere: unknown back end '%s': use one of %s\n",
                     argv[i] + kBackendOption.size(), ki::BackendNames().c_str());
        return 2;
      }
      backend = *named;
      continue;
    }
    if (arg.starts_with(kHotkeyOption)) {
      const mw::HotkeyParse parsed = mw::ParseHotkey(arg.substr(kHotkeyOption.size()));
      if (!parsed.hotkey) {
        std::fprintf(stderr, "tollmere: --hotkey: %s\n", parsed.error.c_str());
        return 2;
      }
      hotkey = parsed.hotkey;
      continue;
    }
    std::fprintf(stderr, "tollmere: unknown option '%s'\n%s", argv[i], Usage().c_str());
    return 2;
  }
  mw::EnableTrace(trace);

  mw::ChooseWindowSystem();
  if (const std::string problem = mw::DisplayProblem(); !problem.empty()) {
    std::fprintf(stderr, "tollmere: %s\n", problem.c_str());
    return 1;
  }

  // Qt's argument parsing must not see the options we took.
  int qt_argc = 1;
  mw::ExplainWindowSystemFailure();
  QApplication app(qt_argc, argv);
  mw::EndWindowSystemWatch();
  QApplication::setApplicationName(QStringLiteral("Tollmere"));
  QApplication::setApplicationVersion(QStringLiteral(TOLLMERE_VERSION));
  QIcon icon;
  icon.addPixmap(QPixmap(tollmere_32_2c));
  icon.addPixmap(QPixmap(tollmere_32_16c));
  icon.addPixmap(QPixmap(tollmere_16_16c));
  QApplication::setWindowIcon(icon);

  // The back end is bound in Form_Load, once the window exists to carry
  // a notice; the desktop user does not see standard error.
  ki::InstallModule1(ki::DefaultBinder(backend, Notify));
  mw::Form1 form(LogicalDpi());
  notice_window = &form;

  int fatal_status = 0;
  rt::SetFatalPolicy({
      .cleanup =
          [&form] {
            form.StopEverything();
            ReleaseHeldKeys();
          },
      .report = [&form](const rt::Error& error) { mw::ShowFatalDialog(&form, error); },
      .exit =
          [&fatal_status](int status) {
            fatal_status = status;
            QCoreApplication::exit(status);
          },
  });
  mw::InstallExitGuard(ReleaseHeldKeys);

  rt::RunHandler([&form] { form.Form_Load(); });
  if (fatal_status != 0) return fatal_status;

  std::optional<mw::GlobalHotkey> global_hotkey;
  if (hotkey) {
    global_hotkey.emplace(
        *hotkey, [&form] { form.Toggle(); },
        [] { return ki::TheModule1().IsHeld(tollmere::hold_sequencer::kSpaceKey); }, Notify);
  }

  form.show();
  const int status = QApplication::exec();
  ReleaseHeldKeys();
  return fatal_status != 0 ? fatal_status : status;
}
