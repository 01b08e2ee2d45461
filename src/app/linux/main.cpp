// Start-up on Linux: each step in the order it runs, the steps themselves in
// start_up.cpp.
#include <QApplication>

#include "app/linux/display_check.h"
#include "app/linux/exit_guard.h"
#include "app/linux/start_up.h"
#include "app/window_target.h"
#include "control/dbus/remote_control.h"
#include "runtime/fatal.h"
#include "runtime/trace.h"
#include "window/qt/form1.h"

using namespace tollmere;

int main(int argc, char** argv) {
  const control::CommandLine line =
      control::ParseCommandLine({argv + 1, argv + argc}, app::LinuxBackends());
  if (const auto status = app::AnsweredByTheCommandLine(line)) return *status;
  runtime::EnableTrace(line.trace);
  const control::Request request = app::RequestOf(line);
  bool no_owner = false;
  // Before any window: a request for a running Tollmere needs no display.
  if (const auto status = app::HandOver(request, line.new_window, no_owner)) return *status;
  if (const auto status = app::NoDisplay()) return *status;
  app::Notices notices;
  app::EarlyLoad load(line, notices);

  int qt_argc = 1;  // Qt's argument parsing must not see the options we took.
  app::ExplainWindowSystemFailure([&load] { load.Wait(); });
  QApplication application(qt_argc, argv);
  app::EndWindowSystemWatch();
  load.Wait();
  app::DescribeApplication();
  window::qt::Form1 form(app::LogicalDpi());
  notices.ShowIn(form);
  app::HotkeyOwner hotkey(form, notices.From("hotkey"));
  app::WindowTarget target(
      form, [&hotkey](const std::string& text) { return hotkey.Set(text); },
      [&hotkey] { return hotkey.Current(); });
  // The context menu's choices meet the hotkey's checks as any other request does.
  form.SetOnSettingChosen([&target](const std::string& name, const std::string& text) {
    return target.SetSetting(name, text);
  });
  // Another Tollmere may have taken the name since we asked: it gets the
  // request, and this one closes before it has pressed anything.
  if (!control::OfferOnSessionBus(target, &form) && no_owner) {
    if (const auto status = app::HandOver(request, line.new_window, no_owner)) return *status;
  }
  int fatal_status = 0;
  app::InstallFatalPolicy(form, fatal_status);
  app::InstallExitGuard(app::ReleaseHeldKeys, [&form] { form.Stop(); });
  app::FinishLoad(form, load);
  if (fatal_status != 0) return fatal_status;
  const control::Request rest = control::ApplyAtLaunch(target, request, app::Say);
  form.show();
  app::ApplyOnceShown(form, target, rest);
  const int status = QApplication::exec();
  app::ReleaseHeldKeys();
  return fatal_status != 0 ? fatal_status : status;
}
