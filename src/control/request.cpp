#include "control/request.h"

namespace tollmere::control {

std::string ApplyRequest(RequestTarget& target, const Request& request) {
  if (request.interval) {
    if (std::string problem = target.SetIntervalText(*request.interval); !problem.empty())
      return problem;
  }
  for (const auto& [name, text] : request.settings) {
    if (std::string problem = target.SetSetting(name, text); !problem.empty()) return problem;
  }
  if (request.hotkey) {
    if (std::string problem = target.SetHotkey(*request.hotkey); !problem.empty()) return problem;
  }
  if (request.raise) target.Activate(request.token);
  switch (request.action) {
    case Action::kStart: return target.Start();
    case Action::kStop: return target.Stop();
    case Action::kToggle: return target.Toggle();
    case Action::kNone: break;
  }
  return {};
}

Request ApplyAtLaunch(RequestTarget& target, Request request,
                      const std::function<void(const std::string&)>& say) {
  // The settings before the hotkey: a new key frees the one the hotkey wants.
  bool refused = false;
  for (const auto& [name, text] : request.settings) {
    if (const std::string problem = target.SetSetting(name, text); !problem.empty()) {
      say(problem);
      refused = true;
    }
  }
  if (request.hotkey) {
    if (const std::string problem = target.SetHotkey(*request.hotkey); !problem.empty())
      say(problem);
  }
  request.settings.clear();
  request.hotkey.reset();
  if (refused && request.action != Action::kNone) {
    say("Nothing started or stopped: a setting the command gave was refused.");
    request.action = Action::kNone;
  }
  return request;
}

bool SendsLoadKeystroke(bool new_window, const std::function<bool()>& another_busy) {
  return !new_window || !another_busy();
}

}  // namespace tollmere::control
