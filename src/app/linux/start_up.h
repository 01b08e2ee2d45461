#pragma once
// The steps of start-up on Linux, so that main() reads as the order they
// run in.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "control/command_line.h"
#include "control/hotkeys/global_hotkey.h"
#include "runtime/error.h"

namespace tollmere::window::qt {
class Form1;
}

namespace tollmere::app {

using window::qt::Form1;

// --backend's names and help on this system.
control::Backends LinuxBackends();

// --help, --version, and options that cannot be taken: the exit status.
std::optional<int> AnsweredByTheCommandLine(const control::CommandLine& line);

// What this command asks of a running Tollmere. A plain start asks it to
// come forward, unless --new-window.
control::Request RequestOf(const control::CommandLine& line);

// Hands `request` to the Tollmere that owns the bus name. An exit status when
// that settles it; nothing when this process is to open the window and act
// itself (`no_owner`: because none was running). With `new_window`, all but
// a lone --stop is this process's own.
std::optional<int> HandOver(const control::Request& request, bool new_window, bool& no_owner);

// The window system for the toolkit, or the exit status when there is none.
std::optional<int> NoDisplay();

// Names the application, its launcher and its icon; the screen's dpi.
void DescribeApplication();
double LogicalDpi();

// Something the desktop user should know: standard error is not enough.
// Each source keeps one notice; "" withdraws it once it no longer holds.
// Kept until the window exists.
class Notices {
 public:
  std::function<void(const std::string&)> From(std::string source);
  void ShowIn(Form1& form);

 private:
  Form1* form_ = nullptr;
  std::map<std::string, std::string> waiting_;
};

// Binds the keystroke back end, and sends the load keystroke before the
// toolkit has read the keyboard, where the back end needs no event loop: an
// XTest key switches the server's keyboard, and Qt would read its keymap a
// second time. The keystroke goes out on a thread of its own while Qt starts
// (Xlib serves threads since 1.8). An error waits for the window.
class EarlyLoad {
 public:
  EarlyLoad(const control::CommandLine& line, Notices& notices);
  ~EarlyLoad() { Wait(); }
  EarlyLoad(const EarlyLoad&) = delete;
  EarlyLoad& operator=(const EarlyLoad&) = delete;

  // Until the keystroke is complete: nothing may leave with the key down.
  void Wait();
  // Form_Load is still to run.
  bool LeftToWindow() const { return left_to_window_; }
  const std::optional<runtime::Error>& Failure() const { return error_; }

 private:
  bool left_to_window_ = false;
  std::optional<runtime::Error> error_;
  std::thread sending_;
};

// Runs Form_Load if it is still to run, or ends the program for the early
// error, with the window there to answer requests while the dialog shows.
void FinishLoad(Form1& form, const EarlyLoad& load);

// --hotkey, set at start and replaced by a running Tollmere's request.
class HotkeyOwner {
 public:
  HotkeyOwner(Form1& form, std::function<void(const std::string&)> notice);
  // The refusal, or "".
  std::string Set(const std::string& text);
  const std::optional<control::Hotkey>& Current() const { return current_; }

 private:
  // Replaces the hotkey in force; why it could not, or "".
  std::string Grab(const control::Hotkey& hotkey);

  Form1& form_;
  std::function<void(const std::string&)> notice_;
  std::optional<control::GlobalHotkey> hotkey_;
  std::optional<control::Hotkey> current_;
};

// Carries out the rest of the command's request once the window is up.
void ApplyOnceShown(Form1& form, control::RequestTarget& target, control::Request request);

// Errors no handler caught end the program: keys released, the dialog shown.
void InstallFatalPolicy(Form1& form, int& fatal_status);

void ReleaseHeldKeys();

// On standard error, as "tollmere: TEXT".
void Say(const std::string& text);

}  // namespace tollmere::app
