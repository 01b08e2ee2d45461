// A stand-in for the desktop's RemoteDesktop portal on a private session bus,
// for what a real one cannot be made to do on demand: it grants or refuses
// (first argument), says it is of the version given (second argument), hands
// out restore tokens on version 2 and logs what it is asked. The test reads
// the log and closes the session through org.tollmere.FakeRemoteDesktop.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QSet>
#include <QStringList>
#include <cstdio>

namespace {

const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kControl = QStringLiteral("org.tollmere.FakeRemoteDesktop");

class FakeRemoteDesktop final : public QDBusVirtualObject {
 public:
  FakeRemoteDesktop(bool grant, uint version) : grant_(grant), version_(version) {}

  QString introspect(const QString&) const override { return {}; }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
    const QString member = message.member();
    const QList<QVariant> args = message.arguments();
    if (member == QStringLiteral("Get") && args.value(0).toString() == kInterface) {
      const uint value = args.value(1).toString() == QStringLiteral("version") ? version_ : 7u;
      bus.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
    } else if (member == QStringLiteral("CreateSession")) {
      const auto options = qdbus_cast<QVariantMap>(args.value(0));
      session_ = kPath + QStringLiteral("/session/") + Sender(message) + QLatin1Char('/') +
                 options.value(QStringLiteral("session_handle_token")).toString();
      log_ << QStringLiteral("create");
      Respond(message, bus, options, 0, {{QStringLiteral("session_handle"), session_}});
    } else if (member == QStringLiteral("SelectDevices")) {
      const auto options = qdbus_cast<QVariantMap>(args.value(1));
      persist_ = options.value(QStringLiteral("persist_mode")).toUInt();
      token_ = options.value(QStringLiteral("restore_token")).toString();
      log_ << QStringLiteral("select types=%1 persist=%2 token=%3")
                  .arg(options.value(QStringLiteral("types")).toUInt())
                  .arg(persist_)
                  .arg(token_);
      Respond(message, bus, options, 0, {});
    } else if (member == QStringLiteral("Start")) {
      const bool restored = issued_.contains(token_);
      log_ << (restored ? QStringLiteral("start restored") : QStringLiteral("start dialog"));
      QVariantMap results{{QStringLiteral("devices"), 1u}};
      if (version_ >= 2 && persist_ == 2) {
        const QString token = QStringLiteral("restore-%1").arg(issued_.size() + 1);
        issued_.insert(token);
        results.insert(QStringLiteral("restore_token"), token);
      }
      Respond(message, bus, qdbus_cast<QVariantMap>(args.value(2)), restored || grant_ ? 0 : 1,
              results);
    } else if (member == QStringLiteral("NotifyKeyboardKeycode")) {
      log_ << QStringLiteral("key %1 %2").arg(args.value(2).toInt()).arg(args.value(3).toUInt());
      bus.send(message.createReply());
    } else if (member == QStringLiteral("Close") && message.path() == session_) {
      log_ << QStringLiteral("close");
      session_.clear();
      bus.send(message.createReply());
    } else if (message.interface() == kControl && member == QStringLiteral("Log")) {
      bus.send(message.createReply(log_));
    } else if (message.interface() == kControl && member == QStringLiteral("CloseSession")) {
      // As when the user ends the sharing from the desktop's own menu.
      bus.send(QDBusMessage::createSignal(session_,
                                          QStringLiteral("org.freedesktop.portal.Session"),
                                          QStringLiteral("Closed"))
               << QVariantMap{});
      session_.clear();
      bus.send(message.createReply());
    } else {
      bus.send(message.createErrorReply(QDBusError::UnknownMethod, member));
    }
    return true;
  }

 private:
  static QString Sender(const QDBusMessage& call) {
    QString sender = call.service().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return sender;
  }

  // The answer comes as a Response signal on the request object the
  // caller's handle_token names.
  static void Respond(const QDBusMessage& call, const QDBusConnection& bus,
                      const QVariantMap& options, uint response, const QVariantMap& results) {
    const QString request = kPath + QStringLiteral("/request/") + Sender(call) + QLatin1Char('/') +
                            options.value(QStringLiteral("handle_token")).toString();
    bus.send(call.createReply(QVariant::fromValue(QDBusObjectPath(request))));
    QDBusMessage signal = QDBusMessage::createSignal(
        request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
    signal << response << results;
    bus.send(signal);
  }

  bool grant_;
  uint version_;
  QString session_;
  uint persist_ = 0;
  QString token_;
  QSet<QString> issued_;
  QStringList log_;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = QCoreApplication::arguments();
  if (args.size() != 3 ||
      (args[1] != QStringLiteral("grant") && args[1] != QStringLiteral("refuse"))) {
    std::fprintf(stderr, "usage: fake_remote_desktop grant|refuse VERSION\n");
    return 2;
  }
  FakeRemoteDesktop portal(args[1] == QStringLiteral("grant"), args[2].toUInt());
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.registerVirtualObject(kPath, &portal, QDBusConnection::SubPath) ||
      !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"))) {
    std::fprintf(stderr, "fake remote desktop: cannot register on the session bus\n");
    return 1;
  }
  return QCoreApplication::exec();
}
