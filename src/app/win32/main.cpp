#include "app/win32/console.h"
#include "app/win32/instance.h"
#include "app/win32/run_window.h"
#include "app/window_target.h"
#include "control/command_line.h"
#include "control/hotkeys/win32_hotkey.h"
#include "control/win32/hand_over.h"
#include "key_injection/backends/keybd_event_backend.h"
#include "key_injection/backends/scancode_backend.h"
#include "key_injection/module1.h"
#include "tollmere_version.h"

namespace {

namespace app = tollmere::app;
namespace control = tollmere::control;
namespace ki = tollmere::key_injection;
using tollmere::window::win32::Form1;
using Outcome = control::HandOver::Outcome;

const control::Backends kBackends{
    [](std::string_view name) { return name == "keybd_event" || name == "scancode"; },
    "keybd_event, scancode",
    "                 keybd_event: virtual keys, scan code 0 (the default)\n"
    "                 scancode: SendInput with the key's scan code, which games\n"
    "                 and remote-desktop clients need; it names a key's place, so\n"
    "                 some layouts type another character with it\n"};

// On standard error, if it leads anywhere; returns `status`.
int Report(const std::string& text, int status = control::kExitFailed) {
  app::Say("tollmere: " + text + "\n", true, app::Otherwise::kSayNothing);
  return status;
}

// The command's request in the window it opened, each refusal said.
void ApplyAtStart(control::RequestTarget& target, const control::Request& request) {
  const auto say = [](const std::string& text) { Report(text); };
  const control::Request rest = control::ApplyAtLaunch(target, request, say);
  if (!rest.Any()) return;
  if (const std::string refusal = control::ApplyRequest(target, rest); !refusal.empty())
    say(refusal);
}

// Whether a Tollmere window counts down or holds a key, by the mark each
// keeps on its window.
bool AnotherTollmereBusy() {
  for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, control::kWindowClass, nullptr));) {
    if (GetPropW(w, Form1::kBusyMark) != nullptr) return true;
  }
  return false;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_command) {
  control::CommandLine line = control::ParseCommandLine(app::Arguments(), kBackends);
  if (!line.error.empty()) {
    app::Say("tollmere: " + line.error + "\n" + control::Usage(kBackends), true,
             app::Otherwise::kTextWindow);
    return control::kExitUsage;
  }
  if (line.help || line.version) {
    app::Say(line.help ? control::Usage(kBackends) : "tollmere " TOLLMERE_VERSION "\n", false,
             line.help ? app::Otherwise::kTextWindow : app::Otherwise::kMessageBox);
    return control::kExitDone;
  }
  app::EnableTrace(line.trace);

  // One window is enough: a plain start brings the running one forward.
  line.request.raise = !line.request.Any() && !line.new_window;
  app::Instance single;
  // What a new window is asked for is its own; only a stop is for the others.
  const bool for_others = !line.new_window || line.request.OnlyStop();
  if ((line.request.Any() && for_others) || line.request.raise) {
    const control::HandOver handed = app::HandOverOrTake(line.request, single);
    if (!handed.message.empty()) Report(handed.message);
    if (handed.outcome != Outcome::kNoWindow)
      return handed.outcome == Outcome::kDone ? control::kExitDone : control::kExitFailed;
    if (line.request.OnlyStop()) return Report("no Tollmere was running", control::kExitDone);
  }

  ki::InstallModule1(line.backend == "scancode"
                         ? ki::BackendBinder([] { return ki::OpenScancodeBackend(); })
                         : [] { return ki::OpenKeybdEventBackend(); });
  const bool load_keystroke = control::SendsLoadKeystroke(line.new_window, AnotherTollmereBusy);
  return app::RunWindow(
      instance, show_command, load_keystroke, [&](Form1& form, const app::MessageLoop& loop) {
        control::Win32Hotkey hotkey(
            form.Window(), [&form] { form.Toggle(); },
            [&form](const std::string& notice) { form.ShowNotice(notice); });
        app::WindowTarget<Form1> target(
            form,
            [&](const std::string& text) {
              return hotkey.Set(text, form.Sequencer().Settings().key,
                                ki::TheModule1().HeldModifier());
            },
            [&hotkey] { return hotkey.Current(); });
        // The menu's choices are checked against the hotkey as the command's are.
        form.SetOnSettingChosen([&target](const std::string& name, const std::string& text) {
          return target.SetSetting(name, text);
        });
        form.AddMessageHook(hotkey.Hook());
        form.AddMessageHook(control::HandOverReceiver(form.Window(), target));
        ApplyAtStart(target, line.request);
        single.Serve(form.Window());  // with its hooks in place
        loop();
      });
}
