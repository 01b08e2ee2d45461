// A stand-in for the desktop's GlobalShortcuts portal on a private session
// bus: it answers as the portal does, binds a shortcut only if its preferred
// trigger is the one given on the command line, and sends Activated for it
// each time its Activate method is called (dbus-send, from the test).
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <cstdio>

namespace {

const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

class FakePortal final : public QDBusVirtualObject {
 public:
  explicit FakePortal(QString trigger) : trigger_(std::move(trigger)) {}

  QString introspect(const QString&) const override { return {}; }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
    const QString member = message.member();
    const QList<QVariant> args = message.arguments();
    if (member == QStringLiteral("Get") && args.value(0).toString() == kInterface) {
      bus.send(message.createReply(QVariant::fromValue(QDBusVariant(1u))));
    } else if (member == QStringLiteral("CreateSession")) {
      session_ = kPath + QStringLiteral("/session/fake/tollmere");
      Respond(message, bus, args.value(0), 0, {{QStringLiteral("session_handle"), session_}});
    } else if (member == QStringLiteral("BindShortcuts")) {
      // a(sa{sv}): the one shortcut's id and its preferred trigger.
      const auto list = args.value(1).value<QDBusArgument>();
      QString trigger;
      list.beginArray();
      while (!list.atEnd()) {
        QVariantMap properties;
        list.beginStructure();
        list >> id_ >> properties;
        list.endStructure();
        trigger = properties.value(QStringLiteral("preferred_trigger")).toString();
      }
      list.endArray();
      std::fprintf(stderr, "fake portal: %s wants %s\n", qPrintable(id_), qPrintable(trigger));
      Respond(message, bus, args.value(3), trigger == trigger_ ? 0 : 1, {});
    } else if (member == QStringLiteral("Activate")) {
      bus.send(message.createReply());
      QDBusMessage activated =
          QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("Activated"));
      activated << QVariant::fromValue(QDBusObjectPath(session_)) << id_
                << QVariant::fromValue(qulonglong{0}) << QVariantMap{};
      bus.send(activated);
    } else {
      bus.send(message.createErrorReply(QDBusError::UnknownMethod, member));
    }
    return true;
  }

 private:
  // The answer comes as a Response signal on the request object the
  // caller's handle_token names.
  static void Respond(const QDBusMessage& call, const QDBusConnection& bus, const QVariant& options,
                      uint response, const QVariantMap& results) {
    QString sender = call.service().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString token =
        qdbus_cast<QVariantMap>(options).value(QStringLiteral("handle_token")).toString();
    const QString request = kPath + QStringLiteral("/request/%1/%2").arg(sender, token);
    bus.send(call.createReply(QVariant::fromValue(QDBusObjectPath(request))));
    QDBusMessage signal = QDBusMessage::createSignal(
        request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
    signal << response << results;
    bus.send(signal);
  }

  QString trigger_;
  QString session_;
  QString id_;
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: fake_portal PREFERRED_TRIGGER\n");
    return 2;
  }
  FakePortal portal(QString::fromLocal8Bit(argv[1]));
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.registerVirtualObject(kPath, &portal) ||
      !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"))) {
    std::fprintf(stderr, "fake portal: cannot register on the session bus\n");
    return 1;
  }
  return QCoreApplication::exec();
}
