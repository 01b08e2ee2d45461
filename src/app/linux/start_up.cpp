#include "app/linux/start_up.h"

#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/linux/display_check.h"
#include "control/dbus/remote_control.h"
#include "hold_sequencer/hold_sequencer.h"
#include "key_injection/backend_choice.h"
#include "key_injection/module1.h"
#include "runtime/fatal.h"
#include "runtime/trace.h"
#include "session/session_bus.h"
#include "session/session_type.h"
#include "tollmere_version.h"
#include "window/qt/fatal_dialog.h"
#include "window/qt/form1.h"

// The icon's images, compiled in: XPM is C, and reading it from memory
// spares start-up the search for image-format plug-ins that a file needs.
#include "tollmere-16-16c.xpm"
#include "tollmere-32-16c.xpm"
#include "tollmere-32-2c.xpm"

namespace tollmere::app {

namespace ki = key_injection;
namespace rt = runtime;

void Say(const std::string& text) { std::fprintf(stderr, "tollmere: %s\n", text.c_str()); }

control::Backends LinuxBackends() {
  return {[](std::string_view name) { return ki::ParseBackendName(name).has_value(); },
          ki::BackendNames(), ki::BackendHelp("                 ")};
}

std::optional<int> AnsweredByTheCommandLine(const control::CommandLine& line) {
  if (!line.error.empty()) {
    Say(line.error);
    return control::kExitUsage;
  }
  if (line.help) {
    std::fputs(control::Usage(LinuxBackends()).c_str(), stdout);
    return control::kExitDone;
  }
  if (line.version) {
    std::puts("tollmere " TOLLMERE_VERSION);
    return control::kExitDone;
  }
  return std::nullopt;
}

control::Request RequestOf(const control::CommandLine& line) {
  control::Request request = line.request;
  // Before anything here, Qt included, connects to the session bus.
  if (const std::string silence = session::AvoidSilentSessionBus();
      !silence.empty() && !request.Any()) {
    Say(silence + ": other commands cannot reach this window");
  }
  // One window is enough: a plain start brings the running one forward.
  if (!request.Any() && !line.new_window) {
    request.raise = true;
    if (const char* token = std::getenv("XDG_ACTIVATION_TOKEN")) request.token = token;
  }
  return request;
}

std::optional<int> HandOver(const control::Request& request, bool new_window, bool& no_owner) {
  if (!request.Any() && !request.raise) return std::nullopt;
  // What a new window is asked for is its own; only a stop is for the others.
  if (new_window && !request.OnlyStop()) return std::nullopt;
  using Outcome = control::HandOver::Outcome;
  const control::HandOver result = control::HandOverToRunning(request);
  no_owner = result.outcome == Outcome::kNoOwner;
  switch (result.outcome) {
    case Outcome::kDone:
      if (request.raise) Say("brought the running Tollmere forward");
      return control::kExitDone;
    case Outcome::kRefused:
    case Outcome::kFailed: Say(result.message); return control::kExitFailed;
    case Outcome::kNoBus:
    case Outcome::kSilentBus:
      // A plain start just opens its window.
      if (request.Any()) Say("no running Tollmere can be reached: " + result.message);
      break;
    case Outcome::kNoOwner:
      if (request.OnlyStop()) Say("no Tollmere was running");
      break;
  }
  // Behind a silent bus a Tollmere may be holding the key: not stopped.
  if (request.OnlyStop()) {
    return result.outcome == Outcome::kSilentBus ? control::kExitFailed : control::kExitDone;
  }
  return std::nullopt;
}

std::optional<int> NoDisplay() {
  ChooseWindowSystem();
  if (const std::string problem = DisplayProblem(); !problem.empty()) {
    Say(problem);
    return control::kExitFailed;
  }
  return std::nullopt;
}

void DescribeApplication() {
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
}

// Before an output appears (a Wayland session can start that way) there is
// no screen to ask; the window then takes the common 96 dpi.
double LogicalDpi() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->logicalDotsPerInch() : 96.0;
}

std::function<void(const std::string&)> Notices::From(std::string source) {
  return [this, source = std::move(source)](const std::string& notice) {
    if (notice.empty()) {
      rt::Trace("notice-gone " + source);
    } else {
      Say(notice);
      rt::Trace("notice " + rt::Quoted(notice));
    }
    if (form_ != nullptr) {
      form_->ShowNotice(source, notice);
    } else {
      waiting_[source] = notice;
    }
  };
}

void Notices::ShowIn(Form1& form) {
  form_ = &form;
  for (const auto& [source, notice] : waiting_) form.ShowNotice(source, notice);
  waiting_.clear();
}

EarlyLoad::EarlyLoad(const control::CommandLine& line, Notices& notices) {
  const auto request = ki::ParseBackendName(line.backend).value_or(ki::BackendRequest::kAuto);
  ki::InstallModule1(ki::DefaultBinder(request, notices.From("keys")));
  // The start-up keystroke's release would end another window's hold of the
  // same key.
  if (!control::SendsLoadKeystroke(line.new_window, control::AnotherTollmereBusy)) {
    rt::Trace("load-keystroke-skipped");
    return;
  }
  // The portal answers through the event loop, and on Wayland the automatic
  // choice may come to the portal.
  if (request == ki::BackendRequest::kPortal ||
      (request == ki::BackendRequest::kAuto && session::SessionFromEnvironment().Wayland())) {
    left_to_window_ = true;
    return;
  }
  rt::SetFatalPolicy({.cleanup = ReleaseHeldKeys,
                      .report = [this](const rt::Error& e) { error_ = e; },
                      .exit = [](int) {}});
  sending_ = std::thread([] { rt::RunHandler([] { window::qt::Form1::LoadKeystroke(); }); });
}

void EarlyLoad::Wait() {
  if (sending_.joinable()) sending_.join();
}

void FinishLoad(Form1& form, const EarlyLoad& load) {
  if (load.Failure()) {
    rt::Fatal(*load.Failure());
  } else if (load.LeftToWindow()) {
    rt::RunHandler([&form] { form.Form_Load(); });
  }
}

HotkeyOwner::HotkeyOwner(Form1& form, std::function<void(const std::string&)> notice)
    : form_(form), notice_(std::move(notice)) {
  form_.SetBeforeKeyDown([this] {
    if (hotkey_) hotkey_->LetGo();
  });
}

std::string HotkeyOwner::Set(const std::string& text) {
  const control::HotkeyParse parsed = control::ParseHotkey(text, form_.Sequencer().Settings().key);
  if (!parsed.hotkey) return "--hotkey: " + parsed.error;
  control::Hotkey hotkey = *parsed.hotkey;
  // A modifier still down from before a change of key: the hotkey must end
  // that hold too.
  if (const std::uint8_t held = ki::TheModule1().HeldModifier(); held != 0)
    hotkey.held_modifier = held;
  // The old one lets go first: the new one may be the same key.
  const std::optional<control::Hotkey> old = current_;
  const std::string problem = Grab(hotkey);
  if (problem.empty()) return {};
  // A hotkey that works is not given up for one that does not.
  if (old && Grab(*old).empty()) {
    return "--hotkey: " + problem + " " + control::HotkeyName(*old) + " stays the hotkey.";
  }
  hotkey_.reset();
  current_.reset();
  notice_(problem);
  return "--hotkey: " + problem;
}

std::string HotkeyOwner::Grab(const control::Hotkey& hotkey) {
  hotkey_.reset();
  hotkey_.emplace(
      hotkey,
      [this] {
        if (const std::string refusal = form_.Toggle(); !refusal.empty()) Say(refusal);
      },
      [] { return ki::TheModule1().AnyHeld(); }, notice_);
  if (!hotkey_->Problem().empty()) return hotkey_->Problem();
  current_ = hotkey;
  return {};
}

void ApplyOnceShown(Form1& form, control::RequestTarget& target, control::Request request) {
  request.raise = false;  // it is in front
  if (!request.Any()) return;
  QTimer::singleShot(0, &form, [&target, request] {
    if (const std::string problem = control::ApplyRequest(target, request); !problem.empty())
      Say(problem);
  });
}

void InstallFatalPolicy(Form1& form, int& fatal_status) {
  rt::SetFatalPolicy({
      .cleanup =
          [&form] {
            form.StopEverything();
            ReleaseHeldKeys();
          },
      .report = [&form](const rt::Error& error) { window::qt::ShowFatalDialog(&form, error); },
      .exit =
          [&fatal_status](int status) {
            fatal_status = status;
            QCoreApplication::exit(status);
          },
  });
}

void ReleaseHeldKeys() { ki::TheModule1().ReleaseHeldKeys(); }

}  // namespace tollmere::app
