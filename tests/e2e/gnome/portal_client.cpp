// A minimal RemoteDesktop portal client for the GNOME harness's self-test:
// asks for a keyboard-only session, then runs its arguments in order:
//   press:N / release:N   NotifyKeyboardKeycode with evdev code N
//   wait:MS               sleeps
//   hang                  stays until killed
// It reports each step on stderr as a trace line, as the program does:
// `started <devices>`, `refused <response>`, `press N`, `release N`.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <memory>

namespace {

const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");

void Trace(const char* event, const QString& arg) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  std::fprintf(stderr, "trace %.3f %s %s\n", now.tv_sec * 1e3 + now.tv_nsec / 1e6, event,
               qPrintable(arg));
  std::fflush(stderr);
}

struct Response : QObject {
  Q_OBJECT
 public:
  uint code = 2;
  QVariantMap results;
  QEventLoop loop;
 public slots:
  void Handle(uint response, const QVariantMap& values) {
    code = response;
    results = values;
    loop.quit();
  }
};

// Calls a portal method that answers with a Response signal, and waits for
// that: subscribed first, on the request path the token makes.
std::unique_ptr<Response> Request(const QString& method, QList<QVariant> args, int timeout_ms) {
  static int counter = 0;
  QDBusConnection bus = QDBusConnection::sessionBus();
  const QString token = QStringLiteral("tollmere%1").arg(++counter);
  QString sender = bus.baseService().mid(1);
  sender.replace(QLatin1Char('.'), QLatin1Char('_'));
  auto response = std::make_unique<Response>();
  bus.connect(kPortal, kPath + QStringLiteral("/request/%1/%2").arg(sender, token),
              QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"),
              response.get(), SLOT(Handle(uint, QVariantMap)));
  QVariantMap options = args.takeLast().toMap();
  options.insert(QStringLiteral("handle_token"), token);
  args.append(options);
  QDBusMessage call = QDBusMessage::createMethodCall(kPortal, kPath, kInterface, method);
  call.setArguments(args);
  const QDBusMessage reply = bus.call(call);
  if (reply.type() == QDBusMessage::ErrorMessage) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(method), qPrintable(reply.errorMessage()));
    return response;
  }
  QTimer::singleShot(timeout_ms, &response->loop, &QEventLoop::quit);
  response->loop.exec();
  return response;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const auto created = Request(
      QStringLiteral("CreateSession"),
      {QVariantMap{{QStringLiteral("session_handle_token"), QStringLiteral("tollmere")}}}, 10000);
  const QDBusObjectPath session(
      created->results.value(QStringLiteral("session_handle")).toString());
  if (created->code != 0) {
    Trace("refused", QString::number(created->code));
    return 1;
  }
  // Keyboard only (1); no pointer, no screen.
  const auto selected = Request(QStringLiteral("SelectDevices"),
                                {QVariant::fromValue(session),
                                 QVariantMap{{QStringLiteral("types"), QVariant::fromValue(1u)}}},
                                10000);
  if (selected->code != 0) {
    Trace("refused", QString::number(selected->code));
    return 1;
  }
  Trace("selected", {});
  // Long enough for the dialog to be answered.
  const auto started = Request(QStringLiteral("Start"),
                               {QVariant::fromValue(session), QString(), QVariantMap{}}, 30000);
  if (started->code != 0) {
    Trace("refused", QString::number(started->code));
    return 1;
  }
  Trace("started", QString::number(started->results.value(QStringLiteral("devices")).toUInt()));

  for (const QString& step : app.arguments().mid(1)) {
    const QString name = step.section(QLatin1Char(':'), 0, 0);
    const int value = step.section(QLatin1Char(':'), 1).toInt();
    if (name == QStringLiteral("press") || name == QStringLiteral("release")) {
      QDBusMessage call = QDBusMessage::createMethodCall(kPortal, kPath, kInterface,
                                                         QStringLiteral("NotifyKeyboardKeycode"));
      call.setArguments({QVariant::fromValue(session), QVariantMap{}, value,
                         QVariant::fromValue(name == QStringLiteral("press") ? 1u : 0u)});
      const QDBusMessage reply = QDBusConnection::sessionBus().call(call);
      if (reply.type() == QDBusMessage::ErrorMessage) {
        std::fprintf(stderr, "NotifyKeyboardKeycode: %s\n", qPrintable(reply.errorMessage()));
        return 1;
      }
      Trace(name == QStringLiteral("press") ? "press" : "release", QString::number(value));
    } else if (name == QStringLiteral("wait")) {
      QThread::msleep(static_cast<unsigned long>(value));
    } else if (name == QStringLiteral("hang")) {
      for (;;) QThread::sleep(60);
    } else {
      std::fprintf(stderr, "unknown step %s\n", qPrintable(step));
      return 1;
    }
  }
  return 0;
}

#include "portal_client.moc"
