#pragma once
// Joins a window to the ways of control: the windows do not know control/,
// and control/ does not know the windows. Both windows' Form1 have these
// members; the hotkey belongs to the start-up code that owns it.

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "control/hotkeys/hotkey_text.h"
#include "control/request.h"
#include "key_injection/key_table.h"

namespace tollmere::app {

template <class Form>
class WindowTarget final : public control::RequestTarget {
 public:
  using SetHotkeyFn = std::function<std::string(const std::string&)>;
  using HotkeyFn = std::function<std::optional<control::Hotkey>()>;
  // `set_hotkey` refuses a hotkey that uses the key the form holds;
  // `hotkey` is the one in force, which a new key must not use.
  WindowTarget(Form& form, SetHotkeyFn set_hotkey, HotkeyFn hotkey)
      : form_(form), set_hotkey_(std::move(set_hotkey)), hotkey_(std::move(hotkey)) {}

  std::string Start() override { return form_.Start(); }
  std::string Stop() override { return form_.Stop(); }
  std::string Toggle() override { return form_.Toggle(); }
  std::string SetIntervalText(const std::string& text) override {
    return form_.SetIntervalText(text);
  }
  std::string SetHotkey(const std::string& hotkey) override { return set_hotkey_(hotkey); }
  std::string SetSetting(const std::string& name, const std::string& text) override {
    if (name == "key") {
      const std::optional<key_injection::Key> key = key_injection::KeyNamed(text);
      const std::optional<control::Hotkey> hotkey = hotkey_();
      if (key && hotkey) {
        if (std::string clash = control::HotkeyClash(*hotkey, key->vk); !clash.empty()) {
          return form_.Refuse("--key: " + clash);
        }
      }
    }
    const bool was_modifier = HoldsModifier();
    std::string refusal = form_.SetSetting(name, text);
    // A hotkey grabbed around a held modifier, or now to be: grabbed anew.
    if (const std::optional<control::Hotkey> hotkey = hotkey_();
        refusal.empty() && hotkey && (was_modifier || HoldsModifier())) {
      set_hotkey_(control::HotkeyName(*hotkey));
    }
    return refusal;
  }
  std::string Setting(const std::string& name) const override { return form_.Setting(name); }
  void Activate(const std::string& token) override { form_.Activate(token); }
  bool Busy() const override { return form_.Busy(); }

 private:
  bool HoldsModifier() const {
    const std::optional<key_injection::Key> key = key_injection::KeyNamed(form_.Setting("key"));
    return key && key->modifier;
  }

  Form& form_;
  SetHotkeyFn set_hotkey_;
  HotkeyFn hotkey_;
};

}  // namespace tollmere::app
