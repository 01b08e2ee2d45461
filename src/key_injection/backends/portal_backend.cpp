#include "key_injection/backends/portal_backend.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <bitset>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>

#include "key_injection/backends/evdev_keys.h"
#include "runtime/error.h"
#include "session/portal_request.h"
#include "session/session_bus.h"

namespace tollmere::key_injection {
namespace {

using Notice = std::function<void(const std::string&)>;

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kRemoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");
// GNOME's back end of the portal. When it ends, the desktop ends the remote
// session it made for us, but the portal (1.16) keeps ours and says nothing.
const QString kGnomeBackEnd = QStringLiteral("org.freedesktop.impl.portal.desktop.gnome");
constexpr uint kKeyboard = 1;
constexpr uint kPersistUntilRevoked = 2;
// For the calls we wait on (a key-up, closing); the portal answers those at
// once, and a hung one must not hang the way out for long.
constexpr int kWaitMs = 5000;
// How long the dialog waits for the program's window to show, at most.
constexpr int kWindowWaitMs = 1000;

constexpr std::string_view kAskAgain = " Nothing is typed; the next Start asks again.";

// The stored token, or "" when there is none or it is not a token at all:
// then the desktop just asks again.
std::string ReadToken(const std::string& file) {
  std::ifstream in(file);
  std::string token;
  if (!in || !std::getline(in, token) || token.size() > 4096) return {};
  for (const char c : token) {
    if (c < 0x21 || c > 0x7e) return {};
  }
  return token;
}

// Written whole or not at all (a temporary file renamed over the old one),
// readable by this user only: it lets whoever holds it type without asking.
void WriteToken(const std::string& file, const std::string& token) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(file).parent_path(), error);
  std::string temporary = file + ".XXXXXX";
  const int fd = mkstemp(temporary.data());  // mode 0600
  if (fd < 0) return;
  const std::string line = token + "\n";
  const bool written =
      write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) && fsync(fd) == 0;
  if (close(fd) != 0 || !written || rename(temporary.c_str(), file.c_str()) != 0) {
    unlink(temporary.c_str());
  }
}

class PortalBackend final : public QObject, protected QDBusContext, public KeystrokeBackend {
  Q_OBJECT

 public:
  PortalBackend(QDBusConnection bus, uint version, Notice notice, std::string token_file)
      : bus_(std::move(bus)),
        version_(version),
        notice_(std::move(notice)),
        token_file_(std::move(token_file)),
        portal_watch_(kService, bus_, QDBusServiceWatcher::WatchForUnregistration),
        request_(bus_) {
    // A program without windows has none to wait for.
    QCoreApplication* app = QCoreApplication::instance();
    window_shown_ = app == nullptr || !app->inherits("QGuiApplication");
    if (!window_shown_) app->installEventFilter(this);
    connect(&request_, &session::PortalRequest::Answered, this, &PortalBackend::OnResponse);
    connect(&request_, &session::PortalRequest::Failed, this, [this](const QString& message) {
      if (state_ != State::kAsking) return;
      Stop("The desktop portal did not take the request for permission to type (" +
               message.toStdString() + ").",
           true);
    });
    portal_watch_.addWatchedService(kGnomeBackEnd);
    connect(&portal_watch_, &QDBusServiceWatcher::serviceUnregistered, this,
            [this](const QString& service) {
              if (state_ == State::kIdle) return;
              if (service == kService) {
                session_.clear();  // gone with the portal, and its keys with it
                Stop("The desktop portal went away, and with it the permission to type.");
                return;
              }
              // Our session stays open at the portal: closing it tidies up.
              Stop(
                  "The desktop's portal for GNOME (xdg-desktop-portal-gnome) stopped, and with "
                  "it the permission to type.",
                  true);
            });
  }

  // Keys up first, waited for, and only then the session closed: the
  // desktop drops what is still in flight for a session that has ended.
  ~PortalBackend() override {
    notice_ = nullptr;  // the window that shows notices may be gone
    for (std::size_t vk = 0; vk < sent_.size(); ++vk) {
      if (sent_.test(vk)) KeyUp(static_cast<std::uint8_t>(vk));
    }
    if (state_ == State::kAsking) request_.Close(kWaitMs);
    CloseSession(QDBus::Block);
  }

  void KeyDown(std::uint8_t vk) override {
    const std::uint16_t code = CodeFor(vk);
    if (!bus_.isConnected()) {
      // Said once; asking again cannot work on a connection that is gone.
      if (state_ != State::kIdle) {
        Stop("The connection to the session bus was lost, and with it the permission to type.");
      }
      return;
    }
    switch (state_) {
      case State::kGranted:
        // Sent, not waited for: the hold is timed from when this returns.
        bus_.send(KeyEvent(code, 1));
        sent_.set(vk);
        return;
      case State::kAsking:
        // Dropped, not kept for later: the first such key is the window's
        // load-time keystroke, and typing it once the user allows would put a
        // space into whatever has the focus by then (Tollmere's own box).
        return;
      case State::kIdle: Ask(); return;
    }
  }

  void KeyUp(std::uint8_t vk) override {
    const std::uint16_t code = CodeFor(vk);
    // Only what went down goes up; a session that ended took its keys along.
    if (!sent_.test(vk)) return;
    sent_.reset(vk);
    if (state_ != State::kGranted) return;
    // Waited for, like the XTest back end's: a release sent just before the
    // program ends must still arrive.
    const QDBusMessage reply = bus_.call(KeyEvent(code, 0), QDBus::Block, kWaitMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
      Stop("The desktop portal did not take a key release (" + reply.errorMessage().toStdString() +
           ").");
    }
  }

  std::string_view Name() const override { return "RemoteDesktop portal"; }
  // The desktop reads the code with the user's own keymap, as it reads the
  // key at that place on a real keyboard: every code the table has is one.
  std::string KeyProblem(std::uint8_t vk) override { return EvdevKeyProblem(vk); }

  // At the countdown's start, not at its key-down, so that the user has the
  // countdown to answer the dialog.
  void Prepare() override {
    if (state_ == State::kIdle && bus_.isConnected()) Ask();
  }

  // Starts asking the desktop for a session with a keyboard; the answers
  // come as signals, while the window goes on working. At load the request
  // waits for the window to show: a window that maps after the dialog takes
  // the focus from it, and the user's answer goes to the wrong window.
  void Ask() {
    state_ = State::kAsking;
    Tell(
        "Tollmere asked the desktop for permission to type into other windows: if a dialog "
        "shows, allow it. Keys are not sent until then.");
    create_pending_ = true;
    if (window_shown_) {
      CreateSession();
    } else {
      QTimer::singleShot(kWindowWaitMs, this, &PortalBackend::CreateSession);
    }
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Expose && !window_shown_) {
      window_shown_ = true;
      QCoreApplication::instance()->removeEventFilter(this);
      // Queued: the window paints, and so maps, as this event is handled.
      QTimer::singleShot(0, this, &PortalBackend::CreateSession);
    }
    return QObject::eventFilter(watched, event);
  }

 private slots:
  void OnClosed(const QVariantMap&) {
    if (message().path() != session_) return;
    session_.clear();  // closed already
    Stop(
        "The desktop ended Tollmere's permission to type (the remote session was closed); "
        "keys it held are up again.",
        true);
  }

 private:
  enum class State { kIdle, kAsking, kGranted };
  enum class Step { kCreateSession, kSelectDevices, kStart };

  void CreateSession() {
    if (!create_pending_ || state_ != State::kAsking) return;
    create_pending_ = false;
    Request(Step::kCreateSession, QStringLiteral("CreateSession"), {},
            {{QStringLiteral("session_handle_token"), NextToken()}});
  }

  void OnResponse(uint response, const QVariantMap& results) {
    if (state_ != State::kAsking) return;
    if (response != 0) {
      // A restored permission the desktop turned down is of no more use.
      if (step_ != Step::kCreateSession) std::remove(token_file_.c_str());
      Stop(response == 1 ? "The desktop's request for permission to type was refused."
                         : "The desktop ended its request for permission to type.",
           true);
      return;
    }
    switch (step_) {
      case Step::kCreateSession: {
        session_ = session::HandlePath(results.value(QStringLiteral("session_handle")));
        bus_.connect(kService, session_, kSession, QStringLiteral("Closed"), this,
                     SLOT(OnClosed(QVariantMap)));
        QVariantMap options{{QStringLiteral("types"), kKeyboard}};
        if (version_ >= 2) {
          options.insert(QStringLiteral("persist_mode"), kPersistUntilRevoked);
          if (const std::string token = ReadToken(token_file_); !token.empty())
            options.insert(QStringLiteral("restore_token"), QString::fromStdString(token));
        }
        Request(Step::kSelectDevices, QStringLiteral("SelectDevices"), {SessionArg()}, options);
        return;
      }
      case Step::kSelectDevices:
        Request(Step::kStart, QStringLiteral("Start"), {SessionArg(), QString()}, {});
        return;
      case Step::kStart:
        if ((results.value(QStringLiteral("devices")).toUInt() & kKeyboard) == 0) {
          Stop("The desktop allowed Tollmere no keyboard.", true);
          return;
        }
        if (version_ >= 2) {
          const QString token = results.value(QStringLiteral("restore_token")).toString();
          if (!token.isEmpty()) WriteToken(token_file_, token.toStdString());
        }
        state_ = State::kGranted;
        Tell({});  // what was said about asking no longer holds
        return;
    }
  }

  std::uint16_t CodeFor(std::uint8_t vk) const {
    const std::uint16_t code = EvdevCodeFor(vk);
    if (code == 0) throw KeyNotOnKeyboard(vk);
    return code;
  }

  QVariant SessionArg() const { return QVariant::fromValue(QDBusObjectPath(session_)); }

  QDBusMessage KeyEvent(std::uint16_t code, uint state) const {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kRemoteDesktop,
                                                       QStringLiteral("NotifyKeyboardKeycode"));
    call << SessionArg() << QVariantMap{} << static_cast<int>(code) << state;
    return call;
  }

  QString NextToken() { return QStringLiteral("tollmere%1_%2").arg(getpid()).arg(++serial_); }

  // One step of asking; its answer comes to OnResponse.
  void Request(Step step, const QString& method, QVariantList args, QVariantMap options) {
    step_ = step;
    request_.Send(kRemoteDesktop, method, std::move(args), std::move(options), NextToken());
  }

  void CloseSession(QDBus::CallMode mode) {
    if (session_.isEmpty()) return;
    bus_.disconnect(kService, session_, kSession, QStringLiteral("Closed"), this,
                    SLOT(OnClosed(QVariantMap)));
    const QDBusMessage close =
        QDBusMessage::createMethodCall(kService, session_, kSession, QStringLiteral("Close"));
    if (mode == QDBus::Block) {
      bus_.call(close, QDBus::Block, kWaitMs);
    } else {
      bus_.send(close);
    }
    session_.clear();
  }

  // Back to no session: the keys the desktop had from us are up (it
  // releases those of a session that ends), and the next key asks again.
  void Stop(const std::string& why, bool ask_again = false) {
    request_.Forget();  // answers still on their way are for the old session
    create_pending_ = false;
    CloseSession(QDBus::NoBlock);
    sent_.reset();
    state_ = State::kIdle;
    Tell(ask_again ? why + std::string(kAskAgain) : why);
  }

  // Replaces what was said before; "" withdraws it.
  void Tell(const std::string& message) {
    if (notice_) notice_(message);
  }

  QDBusConnection bus_;
  uint version_;
  Notice notice_;
  std::string token_file_;
  QDBusServiceWatcher portal_watch_;
  session::PortalRequest request_;  // the step whose answer is awaited
  State state_ = State::kIdle;
  Step step_ = Step::kCreateSession;
  QString session_;
  std::bitset<256> sent_;  // keys sent down and not yet up
  unsigned serial_ = 0;    // numbers the tokens
  bool window_shown_ = false;
  bool create_pending_ = false;  // asked, and the request not yet sent
};

// A property of the RemoteDesktop interface, read at once: it is quick, and
// an absent portal must be known while the back ends are being chosen.
QDBusMessage ReadProperty(QDBusConnection& bus, const QString& name) {
  QDBusMessage get = QDBusMessage::createMethodCall(
      kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get << kRemoteDesktop << name;
  return bus.call(get, QDBus::Block, kWaitMs);
}

uint Value(const QDBusMessage& reply) {
  return reply.arguments().value(0).value<QDBusVariant>().variant().toUInt();
}

}  // namespace

std::string DefaultRestoreTokenFile() {
  const char* state = std::getenv("XDG_STATE_HOME");
  std::string base;
  if (state != nullptr && *state == '/') {
    base = state;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr ? home : "") + "/.local/state";
  }
  return base + "/tollmere/portal-restore-token";
}

std::unique_ptr<KeystrokeBackend> OpenPortalBackend(Notice notice, std::string token_file,
                                                    const std::string& connection) {
  QDBusConnection bus = connection.empty() ? session::SessionBus()
                                           : QDBusConnection(QString::fromStdString(connection));
  if (!bus.isConnected()) {
    throw FacilityUnavailable("No session bus to reach the desktop portal on (" +
                              bus.lastError().message().toStdString() +
                              "). Start Tollmere from a desktop session.");
  }
  const QDBusMessage types = ReadProperty(bus, QStringLiteral("AvailableDeviceTypes"));
  if (types.type() == QDBusMessage::ErrorMessage) {
    const QString name = types.errorName();
    if (name == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") ||
        name == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner")) {
      throw FacilityUnavailable(
          "No desktop portal runs on the session bus. Install xdg-desktop-portal with your "
          "desktop's portal (xdg-desktop-portal-gnome or xdg-desktop-portal-kde).");
    }
    throw FacilityUnavailable("The desktop portal offers no remote desktop (" +
                              types.errorMessage().toStdString() +
                              "). GNOME and KDE Plasma offer it through their own portal.");
  }
  if ((Value(types) & kKeyboard) == 0) {
    throw FacilityUnavailable("The desktop portal's remote desktop offers no keyboard.");
  }
  const QDBusMessage version = ReadProperty(bus, QStringLiteral("version"));
  auto backend = std::make_unique<PortalBackend>(
      std::move(bus), version.type() == QDBusMessage::ErrorMessage ? 1u : Value(version),
      std::move(notice), std::move(token_file));
  backend->Ask();
  return backend;
}

}  // namespace tollmere::key_injection

#include "portal_backend.moc"
