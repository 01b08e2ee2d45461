#pragma once
// What the ways of control ask of a Tollmere window, and the one interface
// through which they ask it. Plain C++: the windows do not know this header;
// app/ adapts each window to RequestTarget.

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tollmere::control {

enum class Action { kNone, kStart, kStop, kToggle };

// What one command asks of a Tollmere: an interval text for the box, the
// settings and a hotkey first, then at most one action.
struct Request {
  std::optional<std::string> interval;
  // (name, text) in the order given: "key", "hold", "repeat", "gap",
  // "countdown"; the window judges the text.
  std::vector<std::pair<std::string, std::string>> settings;
  std::optional<std::string> hotkey;  // as typed; ParseHotkey accepts it
  Action action = Action::kNone;
  // A plain launch: bring the running window forward instead of opening a
  // second one. `token` is the desktop's activation token, if any.
  bool raise = false;
  std::string token;

  bool Any() const { return interval || !settings.empty() || hotkey || action != Action::kNone; }
  // Only --stop: with no Tollmere to stop, nothing needs starting.
  bool OnlyStop() const {
    return !interval && settings.empty() && !hotkey && action == Action::kStop;
  }
};

// The window as every way of control sees it. An empty string means done;
// anything else is the refusal, which the window shows as well.
class RequestTarget {
 public:
  virtual ~RequestTarget() = default;
  // Start is a click when idle and nothing otherwise; Stop and Toggle are
  // the sequencer's.
  virtual std::string Start() = 0;
  virtual std::string Stop() = 0;
  virtual std::string Toggle() = 0;
  // Puts `text` into the box as typing would, so its rules apply.
  virtual std::string SetIntervalText(const std::string& text) = 0;
  // Toggles on `hotkey` from every window from now on, instead of any earlier one.
  virtual std::string SetHotkey(const std::string& hotkey) = 0;
  // One of the settings by name ("key", "hold", "repeat", "gap",
  // "countdown"), from the text --NAME= takes; for the next click.
  virtual std::string SetSetting(const std::string& name, const std::string& text) = 0;
  // The text of the setting in force, as SetSetting takes it.
  virtual std::string Setting(const std::string& name) const = 0;
  // Brings the window forward, with the desktop's token where it has one.
  virtual void Activate(const std::string& token) = 0;
  // Counting down or holding a key.
  virtual bool Busy() const = 0;
};

// Carries out `request` in order: the interval, the settings, the hotkey,
// the action. A
// refusal ends it, since acting on the old interval would not be what was
// asked. Returns the refusal, or "".
std::string ApplyRequest(RequestTarget& target, const Request& request);

// A new window's own request, before the rest of it: the settings, then the
// hotkey, each refusal told to `say`. Returns the rest, to carry out once
// the window is up. It has no action when a setting was refused: a start
// with settings other than those asked for is not what was asked. A hotkey
// refused leaves the action: the window runs without that hotkey.
Request ApplyAtLaunch(RequestTarget& target, Request request,
                      const std::function<void(const std::string&)>& say);

// Whether a new window sends its start-up keystroke: not one opened on
// purpose beside another (--new-window) while that one is busy, as the
// keystroke's release would end the other's hold of the same key.
bool SendsLoadKeystroke(bool new_window, const std::function<bool()>& another_busy);

}  // namespace tollmere::control
