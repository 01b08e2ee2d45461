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

}  // namespace tollmere::control
