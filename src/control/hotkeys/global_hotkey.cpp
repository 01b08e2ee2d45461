#include "control/hotkeys/global_hotkey.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QSocketNotifier>
#include <optional>
#include <utility>

#include "control/hotkeys/portal_hotkey.h"
#include "control/hotkeys/x11_hotkey.h"
#include "key_injection/key_table.h"
#include "runtime/trace.h"
#include "session/session_type.h"

namespace tollmere::control {

using runtime::Quoted;
using runtime::Trace;

GlobalHotkey::GlobalHotkey(const Hotkey& hotkey, std::function<void()> on_press,
                           std::function<bool()> sends_key,
                           std::function<void(const std::string&)> notice)
    : hotkey_(hotkey),
      on_press_(std::move(on_press)),
      sends_key_(std::move(sends_key)),
      notice_(std::move(notice)) {
  const std::string name = HotkeyName(hotkey_);
  const bool x11_window = QGuiApplication::platformName() == QStringLiteral("xcb");
  if (!session::SessionFromEnvironment().Wayland()) {
    GrabOnX11(problem_);
    return;
  }
  portal_ = std::make_unique<PortalHotkey>(
      hotkey_,
      [this] {
        Trace("hotkey");
        on_press_();
      },
      [this, name, x11_window](bool absent, const std::string& why) {
        std::string message = absent ? "This desktop offers programs no global shortcuts"
                                     : "The desktop did not bind " + name + " (" + why + ")";
        // Xwayland shows a grab only the keys typed into X11 programs.
        std::string problem;
        if (x11_window && GrabOnX11(problem)) {
          message += ", so " + name + " works only while an X11 program has the focus. " +
                     "For every program, bind it";
        } else {
          message += ". Bind " + name;
        }
        // The command on a line of its own, where the narrow window cannot
        // break it.
        message += " in the desktop's keyboard settings to the command:\ntollmere --toggle";
        notice_(message);
      });
}

GlobalHotkey::~GlobalHotkey() = default;

namespace {

// While a menu of Tollmere's own is open, Qt grabs the keyboard and the
// hotkey's grab never fires: the key comes to the menu instead, and is
// taken here, so that the hotkey stops a hold whatever the window shows.
class OwnGrabWatch final : public QObject {
 public:
  OwnGrabWatch(const Hotkey& hotkey, std::function<void()> on_press)
      : hotkey_(hotkey), on_press_(std::move(on_press)) {
    QCoreApplication::instance()->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress || !Matches(*static_cast<QKeyEvent*>(event)))
      return QObject::eventFilter(watched, event);
    on_press_();
    return true;
  }

 private:
  bool Matches(const QKeyEvent& event) const {
    const std::optional<key_injection::Key> key = key_injection::KeyByVk(hotkey_.virtual_key);
    std::uint32_t sym = event.nativeVirtualKey();
    if (sym >= 'A' && sym <= 'Z') sym += 'a' - 'A';  // typed with Shift
    if (!key || event.isAutoRepeat() || sym != key->keysym) return false;
    const Qt::KeyboardModifiers had = event.modifiers() & (Qt::ControlModifier | Qt::AltModifier |
                                                           Qt::ShiftModifier | Qt::MetaModifier);
    return had == Flags(hotkey_) || had == Flags(AsPressedWhileHeld(hotkey_));
  }

  static Qt::KeyboardModifiers Flags(const Hotkey& hotkey) {
    Qt::KeyboardModifiers flags;
    if (hotkey.ctrl) flags |= Qt::ControlModifier;
    if (hotkey.alt) flags |= Qt::AltModifier;
    if (hotkey.shift) flags |= Qt::ShiftModifier;
    if (hotkey.super) flags |= Qt::MetaModifier;
    return flags;
  }

  Hotkey hotkey_;
  std::function<void()> on_press_;
};

}  // namespace

bool GlobalHotkey::GrabOnX11(std::string& problem) {
  x11_ = X11Hotkey::Grab(hotkey_, problem);
  if (!x11_) return false;
  own_grab_watch_ = std::make_unique<OwnGrabWatch>(hotkey_, [this] {
    Trace("hotkey");
    on_press_();
  });
  x11_events_ = std::make_unique<QSocketNotifier>(x11_->Fd(), QSocketNotifier::Read);
  QObject::connect(x11_events_.get(), &QSocketNotifier::activated,
                   [this] { x11_->HandleEvents(on_press_, sends_key_); });
  Trace("hotkey-grabbed " + Quoted(HotkeyName(hotkey_)));
  return true;
}

void GlobalHotkey::LetGo() {
  if (x11_) x11_->LetGo();
}

}  // namespace tollmere::control
