#include "session/session_type.h"

namespace tollmere::session {

SessionType SessionFromEnvironment(const Environment& environment) {
  auto value = [&](const char* name) {
    const char* set = environment(name);
    return std::string(set != nullptr ? set : "");
  };
  return {value("WAYLAND_DISPLAY"), value("DISPLAY")};
}

}  // namespace tollmere::session
