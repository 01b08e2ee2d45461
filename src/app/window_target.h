#pragma once
// Joins a window to the ways of control: the windows do not know control/,
// and control/ does not know the windows. Both windows' Form1 have these
// members; the hotkey belongs to the start-up code that owns it.

#include <functional>
#include <string>
#include <utility>

#include "control/request.h"

namespace tollmere::app {

template <class Form>
class WindowTarget final : public control::RequestTarget {
 public:
  using SetHotkeyFn = std::function<std::string(const std::string&)>;
  WindowTarget(Form& form, SetHotkeyFn set_hotkey)
      : form_(form), set_hotkey_(std::move(set_hotkey)) {}

  std::string Start() override { return form_.Start(); }
  std::string Stop() override { return form_.Stop(); }
  std::string Toggle() override { return form_.Toggle(); }
  std::string SetIntervalText(const std::string& text) override {
    return form_.SetIntervalText(text);
  }
  std::string SetHotkey(const std::string& hotkey) override { return set_hotkey_(hotkey); }
  void Activate(const std::string& token) override { form_.Activate(token); }
  bool Busy() const override { return form_.Busy(); }

 private:
  Form& form_;
  SetHotkeyFn set_hotkey_;
};

}  // namespace tollmere::app
