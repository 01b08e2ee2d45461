#include "key_injection/backend_choice.h"

#include <utility>
#include <vector>

#include "runtime/error.h"
#include "session/session_type.h"
#if TOLLMERE_HAVE_XTEST
#include "key_injection/backends/xtest_backend.h"
#endif
#if TOLLMERE_HAVE_WAYLAND
#include "key_injection/backends/wayland_backend.h"
#endif
#if TOLLMERE_HAVE_UINPUT
#include "key_injection/backends/uinput_backend.h"
#endif
#if TOLLMERE_HAVE_PORTAL
#include "key_injection/backends/portal_backend.h"
#endif

namespace tollmere::key_injection {
namespace {

namespace rt = tollmere::runtime;

struct Known {
  BackendRequest request;
  std::string_view name;   // as --backend takes it
  std::string_view title;  // as messages say it
  std::string_view help;   // what --help says it reaches
};
constexpr Known kKnown[] = {
    {BackendRequest::kXTest, "xtest", "XTest (X11)", "X11, and X11 programs through Xwayland"},
    {BackendRequest::kWayland, "wayland", "Wayland virtual keyboard",
     "the compositor's virtual keyboard (sway, Hyprland, river)"},
    {BackendRequest::kUinput, "uinput", "uinput (kernel virtual keyboard)",
     "a kernel virtual keyboard through /dev/uinput"},
    {BackendRequest::kPortal, "portal", "RemoteDesktop portal (GNOME, KDE)",
     "the desktop's remote-desktop portal, once the user allows it (GNOME, KDE Plasma)"},
};

const Known& KnownFor(BackendRequest request) {
  for (const Known& known : kKnown) {
    if (known.request == request) return known;
  }
  return kKnown[0];
}

const BackendBinder& OpenerFor(const BackendOpeners& openers, BackendRequest request) {
  switch (request) {
    case BackendRequest::kWayland: return openers.wayland;
    case BackendRequest::kUinput: return openers.uinput;
    case BackendRequest::kPortal: return openers.portal;
    default: return openers.xtest;
  }
}

constexpr std::string_view kXwaylandNotice =
    "Only X11 programs get the keys: this desktop offers no virtual keyboard, "
    "and /dev/uinput is not open to you.";

// Tries the automatic order for the session; the first that opens wins.
std::unique_ptr<KeystrokeBackend> BindAutomatically(const SessionFacts& session,
                                                    const BackendOpeners& openers,
                                                    const NoticeSink& notice) {
  if (!session.wayland) {
    if (session.x11 && openers.xtest) return openers.xtest();
    throw FacilityUnavailable(
        session.x11 ? "This build cannot send keystrokes to an X11 session (built without XTest)."
                    : "No display session found to send keystrokes to: neither WAYLAND_DISPLAY "
                      "nor DISPLAY is set. Start Tollmere from a desktop session.");
  }
  std::vector<std::string> tried;
  auto attempt = [&](BackendRequest request) -> std::unique_ptr<KeystrokeBackend> {
    const BackendBinder& open = OpenerFor(openers, request);
    if (!open) return nullptr;
    try {
      return open();
    } catch (const rt::Error& error) {
      tried.push_back(std::string(KnownFor(request).title) + ": " + error.what());
      return nullptr;
    }
  };
  if (auto backend = attempt(BackendRequest::kWayland)) return backend;
  if (auto backend = attempt(BackendRequest::kUinput)) return backend;
  if (auto backend = attempt(BackendRequest::kPortal)) return backend;
  if (session.x11) {
    if (auto backend = attempt(BackendRequest::kXTest)) {
      if (notice) notice(std::string(kXwaylandNotice));
      return backend;
    }
  } else {
    tried.push_back(std::string(KnownFor(BackendRequest::kXTest).title) +
                    ": no Xwayland, DISPLAY is not set.");
  }
  std::string message = "No way to send keystrokes works in this Wayland session. Tried:";
  for (const std::string& reason : tried) message += "\n- " + reason;
  message += "\nUse a compositor that offers the virtual keyboard (sway, Hyprland, river), ";
  if (openers.portal) message += "install your desktop's portal (GNOME, KDE Plasma), ";
  // The uinput line of the list carries the steps; a dialog has no "above".
  if (openers.uinput)
    message += "give this user access to /dev/uinput (the uinput line says how), ";
  message += "or enable Xwayland so that at least X11 programs receive the keys.";
  throw FacilityUnavailable(message);
}

}  // namespace

std::optional<BackendRequest> ParseBackendName(std::string_view name) {
  for (const Known& known : kKnown) {
    if (known.name == name) return known.request;
  }
  return std::nullopt;
}

std::string BackendNames() {
  std::string names;
  for (const Known& known : kKnown) {
    if (!names.empty()) names += '|';
    names += known.name;
  }
  return names;
}

std::string BackendHelp(std::string_view indent) {
  std::string lines;
  for (const Known& known : kKnown) {
    lines.append(indent).append(known.name).append(": ").append(known.help).append("\n");
  }
  return lines;
}

BackendBinder ChooseBackend(BackendRequest request, SessionFacts session, BackendOpeners openers,
                            NoticeSink notice) {
  return [=]() -> std::unique_ptr<KeystrokeBackend> {
    if (request == BackendRequest::kAuto) return BindAutomatically(session, openers, notice);
    const BackendBinder& open = OpenerFor(openers, request);
    if (!open) {
      throw FacilityUnavailable("This build of Tollmere has no " +
                                std::string(KnownFor(request).title) + " back end.");
    }
    return open();
  };
}

BackendBinder DefaultBinder(BackendRequest request, NoticeSink notice) {
  BackendOpeners openers;
#if TOLLMERE_HAVE_XTEST
  openers.xtest = [] { return OpenXTestBackend(); };
#endif
#if TOLLMERE_HAVE_WAYLAND
  openers.wayland = [] { return OpenWaylandBackend(); };
#endif
#if TOLLMERE_HAVE_UINPUT
  openers.uinput = [] { return OpenUinputBackend(); };
#endif
#if TOLLMERE_HAVE_PORTAL
  // Over the program's one session-bus connection (session/session_bus.h).
  openers.portal = [notice] { return OpenPortalBackend(notice); };
#endif
  const session::SessionType session = session::SessionFromEnvironment();
  return ChooseBackend(request, {session.Wayland(), session.X11()}, std::move(openers),
                       std::move(notice));
}

}  // namespace tollmere::key_injection
