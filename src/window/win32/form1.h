#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "hold_sequencer/form_controls.h"
#include "hold_sequencer/hold_sequencer.h"
#include "runtime/win32/text.h"
#include "window/form1_layout.h"
#include "window/win32/win32_timer.h"

struct IAccPropServices;

namespace tollmere::window::win32 {

using runtime::win32::Narrow;
using runtime::win32::Widen;

// Sees a message the window does not handle itself; its answer, or nothing
// to leave the message to the next hook and then to DefWindowProc.
using MessageHook = std::function<std::optional<LRESULT>(UINT, WPARAM, LPARAM)>;

// The program's one window, on plain Win32: the interval box, the "Start"
// button and the two timers, wired to the handlers of the hold sequencer.
// Created hidden; the caller shows it after Form_Load.
class Form1 final : private hold_sequencer::FormControls, private hold_sequencer::KeyProcedures {
 public:
  // `class_name`: the window class, by which other processes find the window.
  // `timers`: how the timers keep time (the defaults but in tests).
  Form1(HINSTANCE instance, const wchar_t* class_name, int dpi_x, int dpi_y,
        TimerQueue::Options timers = {});
  ~Form1() override;
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  // One complete space-bar keystroke before the window is shown; it also
  // binds the keystroke facility so a missing one is reported at once.
  void Form_Load();

  // On the way out after an error: no more ticks, no more input.
  void StopEverything();

  // Lays the window out at the dpi of the monitor it is on, where Windows
  // says which; the dpi given at creation is the system's.
  void FitToMonitor();

  // Shows the window; once active, the focus is in the interval box.
  void Show(int show_command);

  // Requests from outside the window (the command line, another Tollmere
  // process, the hotkey), run as the handlers are: the sequencer's Start,
  // Stop and Toggle. Refused once StopEverything has run: the program is on
  // its way out and has let go of its key. The refusal (also the
  // sequencer's), or "" when done.
  std::string Start();
  std::string Stop();
  std::string Toggle();
  bool Busy() const { return sequencer_.Busy(); }
  // Puts `text` into the box as typing would, so its rules decide; returns
  // the refusal shown below the box, or "" if taken.
  std::string SetIntervalText(const std::string& text);
  // One of the sequencer's settings by name ("key", "hold", ...), for the
  // next click; the button's tooltip and description follow. The refusal,
  // also shown in the window, or "".
  std::string SetSetting(const std::string& name, const std::string& text);
  std::string Setting(const std::string& name) const;
  // Shows why a setting was not taken, and returns it.
  std::string Refuse(const std::string& why);
  // Where the context menu's choices go: (name, text) as SetSetting takes
  // them, so that the caller's own checks apply; without one they go
  // straight to SetSetting.
  using SettingChosen = std::function<std::string(const std::string&, const std::string&)>;
  void SetOnSettingChosen(SettingChosen chosen) { setting_chosen_ = std::move(chosen); }
  // The context menu as it would open now, the settings in force checked;
  // the caller destroys it.
  HMENU SettingsMenu() const;
  // Brings the window forward with the focus, as a second launch asks. The
  // token is for desktops that have one; Windows has none.
  void Activate(const std::string& token);

  // Messages the window does not handle itself (WM_COPYDATA, WM_HOTKEY, ...)
  // go to the hooks in the order they were added.
  void AddMessageHook(MessageHook hook) { hooks_.push_back(std::move(hook)); }

  // A message for the user below the controls, above a refused entry's;
  // each source has one at a time, and "" withdraws it. The plain one is
  // the hotkey's.
  void ShowNotice(const std::string& source, const std::string& message);
  void ShowNotice(const std::string& message) { ShowNotice("hotkey", message); }

  HWND Window() const { return window_; }
  // Set on the window while it counts down or holds a key: another Tollmere
  // reads it at start-up without a message it would have to wait on.
  static constexpr wchar_t kBusyMark[] = L"Tollmere.Busy";
  // A key message for the box from a key Tollmere holds down, which may be
  // its own keystroke or its repeat.
  bool OwnKeystrokeInBox(const MSG& msg) const;
  void MarkBusy();
  HWND txtInterval() const { return txt_interval_; }
  HWND Command1() const { return command1_; }
  HWND IntervalProblem() const { return problem_; }
  HWND Notice() const { return notice_; }
  HWND Tooltips() const { return tooltips_; }
  // The message loop waits on it and runs its ticks.
  TimerQueue& Timers() { return timers_; }
  Win32Timer& Timer1() { return *timer1_; }
  Win32Timer& Timer2() { return *timer2_; }
  const hold_sequencer::HoldSequencer& Sequencer() const { return sequencer_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
  // The controls, the font and the window's size at `dpi_x` × `dpi_y`.
  void ApplyDpi(int dpi_x, int dpi_y);
  void ResizeClient(int height);
  void ShowMessage(HWND label, const std::string& message);
  void LayOutMessages();
  void AddHints(HINSTANCE instance);
  // Runs a request as a handler; its refusal, or kClosing after a fatal error.
  std::string RunRequest(const std::function<std::string()>& request);
  // The button tells what a click will do.
  void DescribeCommand1();
  // Opens the context menu at `where` (screen), or below the focused
  // control when the keyboard asked for it.
  void OpenSettingsMenu(POINT where, bool from_keyboard);
  // Runs the menu item `id`; false if it is none of the menu's.
  bool ChooseMenuItem(int id);

  void SetCommand1Caption(const std::string& caption) override;
  void SetTimerEnabled(hold_sequencer::TimerId timer, bool enabled) override;
  void SetTimer1Interval(std::int32_t interval_ms) override;
  std::string TxtIntervalText() override;
  void ShowIntervalProblem(const std::string& message) override;
  void PressKey(std::int32_t key_code) override;
  void ReleaseKey(std::int32_t key_code) override;
  std::string KeyProblem(std::int32_t key_code) override;

  int dpi_x_ = 0;
  int dpi_y_ = 0;
  int client_width_ = 0;
  int client_height_ = 0;
  int grown_by_ = 0;
  bool resized_ = false;  // to client_height_ + grown_by_ at this dpi
  HFONT font_ = nullptr;
  HWND window_ = nullptr;
  HWND label_ = nullptr;
  HWND txt_interval_ = nullptr;
  HWND command1_ = nullptr;
  HWND problem_ = nullptr;
  HWND notice_ = nullptr;
  HWND tooltips_ = nullptr;
  HWND last_focus_ = nullptr;
  IAccPropServices* accessibility_ = nullptr;
  std::wstring command1_tip_;  // the tooltip keeps a pointer to it
  SettingChosen setting_chosen_;
  std::vector<MessageHook> hooks_;
  std::map<std::string, std::string> notices_;  // by source
  // After a fatal error: requests are no longer taken.
  bool stopped_ = false;
  bool painted_ = false;
  TimerQueue timers_;
  std::optional<Win32Timer> timer2_;
  std::optional<Win32Timer> timer1_;
  hold_sequencer::HoldSequencer sequencer_;
};

}  // namespace tollmere::window::win32
