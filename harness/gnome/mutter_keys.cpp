// Types keys through mutter's own remote-desktop interface on the session
// bus: how the harness answers the desktop portal's dialog without a person.
//
//   tollmere_mutter_keys [--dialog] [--hold] KEY...
//
// KEY is a keysym name, or names joined by '+' that are held together
// (Alt_L+s). With --dialog it first waits for the portal's dialog (a request
// to the portal still unanswered), and afterwards for it to close. With
// --hold it then says "ready" on stdout and keeps its session, and so a
// keyboard on the seat, until killed.
// Exit status: 0 done, 2 no dialog came or it stayed open, 1 anything else.
#include <xkbcommon/xkbcommon.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>
#include <cstdio>

namespace {

const QString kMutter = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kRequests = QStringLiteral("/org/freedesktop/portal/desktop/request");

QDBusMessage Call(const QString& service, const QString& path, const QString& interface,
                  const QString& method, const QList<QVariant>& args = {}) {
  QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
  call.setArguments(args);
  return QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
}

QString Introspect(const QString& path) {
  const QDBusMessage reply =
      Call(kPortal, path, QStringLiteral("org.freedesktop.DBus.Introspectable"),
           QStringLiteral("Introspect"));
  return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0).toString()
                                                    : QString();
}

// Whether the portal has a request open: the one that asked for the dialog
// stays until the dialog is answered (the GNOME back end's own copies stay
// for good, so it is the portal's we look at). Requests sit two levels
// down, under the caller's name and then the token.
bool DialogOpen() {
  const QString xml = Introspect(kRequests);
  int at = 0;
  while ((at = xml.indexOf(QStringLiteral("<node name=\""), at)) >= 0) {
    at += 12;
    const QString sender = xml.mid(at, xml.indexOf(QLatin1Char('"'), at) - at);
    if (Introspect(kRequests + QLatin1Char('/') + sender).contains(QStringLiteral("<node name=")))
      return true;
  }
  return false;
}

bool WaitFor(bool open, int timeout_ms) {
  QElapsedTimer timer;
  timer.start();
  while (DialogOpen() != open) {
    if (timer.elapsed() > timeout_ms) return false;
    QThread::msleep(50);
  }
  return true;
}

bool Fail(const QDBusMessage& reply, const char* what) {
  if (reply.type() != QDBusMessage::ErrorMessage) return false;
  std::fprintf(stderr, "mutter_keys: %s: %s\n", what, qPrintable(reply.errorMessage()));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QStringList keys = app.arguments().mid(1);
  const bool dialog = keys.removeAll(QStringLiteral("--dialog")) > 0;
  const bool hold = keys.removeAll(QStringLiteral("--hold")) > 0;
  if (keys.isEmpty() && !hold) {
    std::fprintf(stderr, "usage: mutter_keys [--dialog] [--hold] KEY...\n");
    return 1;
  }
  QList<QList<uint>> combos;
  for (const QString& combo : keys) {
    QList<uint> syms;
    for (const QString& name : combo.split(QLatin1Char('+'))) {
      const xkb_keysym_t sym = xkb_keysym_from_name(qPrintable(name), XKB_KEYSYM_NO_FLAGS);
      if (sym == XKB_KEY_NoSymbol) {
        std::fprintf(stderr, "mutter_keys: no keysym %s\n", qPrintable(name));
        return 1;
      }
      syms.append(sym);
    }
    combos.append(syms);
  }

  if (dialog && !WaitFor(true, 20000)) {
    std::fprintf(stderr, "mutter_keys: no dialog within 20 s\n");
    return 2;
  }
  const QDBusMessage created = Call(kMutter, QStringLiteral("/org/gnome/Mutter/RemoteDesktop"),
                                    kMutter, QStringLiteral("CreateSession"));
  if (Fail(created, "CreateSession")) return 1;
  const QString session = created.arguments().value(0).value<QDBusObjectPath>().path();
  const QString iface = kMutter + QStringLiteral(".Session");
  if (Fail(Call(kMutter, session, iface, QStringLiteral("Start")), "Start")) return 1;
  auto send = [&](uint sym, bool down) {
    return !Fail(Call(kMutter, session, iface, QStringLiteral("NotifyKeyboardKeysym"),
                      {QVariant::fromValue(sym), down}),
                 "NotifyKeyboardKeysym");
  };
  // The session's keyboard joins the seat with its first key, and that key
  // can be lost: a Shift on its own is one nobody minds losing.
  if (!send(XKB_KEY_Shift_L, true) || !send(XKB_KEY_Shift_L, false)) return 1;
  // The request comes before the dialog's window is mapped and focused, the
  // more so on a busy or cold machine: keys sent too early are lost, so a
  // dialog still open afterwards is tried again, each time after a longer
  // wait. The switch only turns on from the keys that reach the dialog.
  const int attempts = dialog ? 3 : 1;
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    QThread::msleep(dialog ? 1000 * attempt : 100);
    for (const QList<uint>& syms : combos) {
      for (uint sym : syms) {
        if (!send(sym, true)) return 1;
      }
      for (auto it = syms.crbegin(); it != syms.crend(); ++it) {
        if (!send(*it, false)) return 1;
      }
      // GTK's switch changes state only at the end of its animation, so the
      // next key, say the button that the switch makes clickable, must wait.
      QThread::msleep(500);
    }
    if (!dialog || WaitFor(false, 3000)) break;
    if (attempt == attempts) {
      std::fprintf(stderr, "mutter_keys: the dialog is still open\n");
      return 2;
    }
  }
  if (hold) {
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) QThread::sleep(60);
  }
  Call(kMutter, session, iface, QStringLiteral("Stop"));
  return 0;
}
