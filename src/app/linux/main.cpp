#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/linux/display_check.h"
#include "app/linux/exit_guard.h"
#include "control/dbus/remote_control.h"
#include "control/hotkeys/global_hotkey.h"
#include "control/hotkeys/hotkey_text.h"
#include "key_injection/backend_choice.h"
#include "key_injection/module1.h"
#include "runtime/fatal.h"
#include "runtime/trace.h"
#include "session/session_bus.h"
#include "tollmere_version.h"
#include "window/qt/fatal_dialog.h"
#include "window/qt/form1.h"

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
  std::string usage = "Usage: tollmere [--trace] [--hotkey=KEY] [--backend=" + ki::BackendNames() +
                      "]\n                [--interval=MS] [--start | --stop | --toggle]\n";
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
      "  --interval=MS  put MS in the interval box of the running Tollmere\n"
      "  --start     start its countdown if it is idle\n"
      "  --stop      end its countdown or hold now\n"
      "  --toggle    start it when idle, else stop it\n"
      "              With no Tollmere running, these open one that then acts\n"
      "              (--stop alone just says so).\n";
  usage +=
      "  --new-window  open another window even with Tollmere running; a plain\n"
      "              start brings the running one forward instead\n"
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

// Hands the command options to the Tollmere that owns the bus name. An exit
// status when that settles it; nullopt when this process is to open the
// window and act itself (`no_owner`: because none was running).
std::optional<int> HandOver(const mw::RemoteRequest& request, bool& no_owner) {
  using Outcome = mw::HandOver::Outcome;
  const mw::HandOver result = mw::HandOverToRunning(request);
  no_owner = result.outcome == Outcome::kNoOwner;
  switch (result.outcome) {
    case Outcome::kDone:
      if (request.raise) std::fputs("tollmere: brought the running Tollmere forward\n", stderr);
      return 0;
    case Outcome::kRefused:
    case Outcome::kFailed: std::fprintf(stderr, "tollmere: %s\n", result.message.c_str()); return 1;
    case Outcome::kNoBus:
    case Outcome::kSilentBus:
      // A plain start just opens its window.
      if (!request.Any()) break;
      std::fprintf(stderr, "tollmere: no running Tollmere can be reached: %s\n",
                   result.message.c_str());
      break;
    case Outcome::kNoOwner:
      if (request.OnlyStop()) std::fputs("tollmere: no Tollmere was running\n", stderr);
      break;
  }
  // Behind a silent bus a Tollmere may be holding the key: not stopped.
  if (request.OnlyStop()) return result.outcome == Outcome::kSilentBus ? 1 : 0;
  return std::nullopt;
}

// Something the desktop user should know: standard error is not enough.
// Each source keeps one notice; "" withdraws it once it no longer holds.
mw::Form1* notice_window = nullptr;
std::function<void(const std::string&)> NoticesFrom(std::string source) {
  return [source = std::move(source)](const std::string& notice) {
    if (notice.empty()) {
      mw::Trace("notice-gone " + source);
    } else {
      std::fprintf(stderr, "tollmere: %s\n", notice.c_str());
      mw::Trace("notice " + mw::Quoted(notice));
    }
    if (notice_window != nullptr) notice_window->ShowNotice(source, notice);
  };
}

}  // namespace

int main(int argc, char** argv) {
  bool trace = false;
  bool new_window = false;
  ki::BackendRequest backend = ki::BackendRequest::kAuto;
  std::optional<mw::Hotkey> hotkey;
  constexpr std::string_view kBackendOption = "--backend=";
  mw::RemoteRequest request;
  constexpr std::string_view kIntervalOption = "--interval=";
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
    if (arg == "--new-window") {
      new_window = true;
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
    if (arg.starts_with(kIntervalOption)) {
      request.interval = std::string(arg.substr(kIntervalOption.size()));
      continue;
    }
    using Action = mw::RemoteRequest::Action;
    const Action action = arg == "--start"    ? Action::kStart
                          : arg == "--stop"   ? Action::kStop
                          : arg == "--toggle" ? Action::kToggle
                                              : Action::kNone;
    if (action != Action::kNone && request.action != Action::kNone && request.action != action) {
      std::fputs("tollmere: use only one of --start, --stop and --toggle\n", stderr);
      return 2;
    }
    if (action != Action::kNone) {
      request.action = action;
      continue;
    }
    std::fprintf(stderr, "tollmere: unknown option '%s'\n%s", argv[i], Usage().c_str());
    return 2;
  }
  mw::EnableTrace(trace);

  // Before anything here, Qt included, connects to the session bus.
  if (const std::string silence = tollmere::session::AvoidSilentSessionBus();
      !silence.empty() && !request.Any()) {
    std::fprintf(stderr, "tollmere: %s: other commands cannot reach this window\n",
                 silence.c_str());
  }

  // One window is enough: a plain start brings the running one forward.
  if (!request.Any() && !new_window) {
    request.raise = true;
    if (const char* token = std::getenv("XDG_ACTIVATION_TOKEN")) request.token = token;
  }

  // Before any window: a request for a running Tollmere needs no display.
  bool no_owner = false;
  if (request.Any() || request.raise) {
    if (const auto status = HandOver(request, no_owner)) {
      // A hotkey belongs to the process that grabs it: not handed over.
      if (hotkey && !no_owner) {
        std::fputs("tollmere: --hotkey applies only to a window this command opens\n", stderr);
      }
      return *status;
    }
  }

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
  // The launcher's name as the window's Wayland app_id, so the desktop ties
  // the running window to its launcher, icon and actions.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.tollmere.Tollmere"));
  QIcon icon;
  icon.addPixmap(QPixmap(tollmere_32_2c));
  icon.addPixmap(QPixmap(tollmere_32_16c));
  icon.addPixmap(QPixmap(tollmere_16_16c));
  QApplication::setWindowIcon(icon);

  // The back end is bound in Form_Load, once the window exists to carry
  // a notice; the desktop user does not see standard error.
  ki::InstallModule1(ki::DefaultBinder(backend, NoticesFrom("keys")));
  mw::Form1 form(LogicalDpi());
  notice_window = &form;
  // Another Tollmere may have taken the name since we asked: it gets the
  // request, and this one closes before it has pressed anything.
  if (!mw::OfferOnSessionBus(form) && no_owner && (request.Any() || request.raise)) {
    if (const auto status = HandOver(request, no_owner)) return *status;
  }

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
  mw::InstallExitGuard(ReleaseHeldKeys, [&form] { form.Stop(); });

  // The start-up keystroke's release would end another window's hold of
  // the same key.
  if (new_window && mw::AnotherTollmereBusy()) {
    mw::Trace("load-keystroke-skipped");
  } else {
    rt::RunHandler([&form] { form.Form_Load(); });
  }
  if (fatal_status != 0) return fatal_status;

  std::optional<mw::GlobalHotkey> global_hotkey;
  if (hotkey) {
    global_hotkey.emplace(
        *hotkey,
        [&form] {
          if (const std::string refusal = form.Toggle(); !refusal.empty())
            std::fprintf(stderr, "tollmere: %s\n", refusal.c_str());
        },
        [] { return ki::TheModule1().IsHeld(tollmere::hold_sequencer::kSpaceKey); },
        NoticesFrom("hotkey"));
    form.SetBeforeKeyDown([&global_hotkey] { global_hotkey->LetGo(); });
  }

  form.show();
  if (request.Any()) {
    QTimer::singleShot(0, &form, [&form, &request] {
      const std::string problem = mw::ApplyRequest(form, request);
      if (!problem.empty()) std::fprintf(stderr, "tollmere: %s\n", problem.c_str());
    });
  }
  const int status = QApplication::exec();
  ReleaseHeldKeys();
  return fatal_status != 0 ? fatal_status : status;
}
