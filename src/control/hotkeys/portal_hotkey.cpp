#include "control/hotkeys/portal_hotkey.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <utility>

#include "runtime/trace.h"
#include "session/session_bus.h"

namespace {

// One entry of BindShortcuts' a(sa{sv}): the shortcut's id and properties.
struct PortalShortcut {
  QString id;
  QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
  argument.beginStructure();
  argument << shortcut.id << shortcut.properties;
  argument.endStructure();
  return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
  argument.beginStructure();
  argument >> shortcut.id >> shortcut.properties;
  argument.endStructure();
  return argument;
}

}  // namespace

Q_DECLARE_METATYPE(PortalShortcut)

namespace tollmere::control {

using runtime::Quoted;
using runtime::Trace;
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kShortcutId = QStringLiteral("toggle");

}  // namespace

PortalHotkey::PortalHotkey(const Hotkey& hotkey, std::function<void()> on_activated,
                           Unavailable on_unavailable)
    : hotkey_(hotkey),
      on_activated_(std::move(on_activated)),
      on_unavailable_(std::move(on_unavailable)),
      request_(session::SessionBus()) {
  qDBusRegisterMetaType<PortalShortcut>();
  qDBusRegisterMetaType<QList<PortalShortcut>>();
  connect(&request_, &session::PortalRequest::Answered, this, &PortalHotkey::OnResponse);
  connect(&request_, &session::PortalRequest::Failed, this,
          [this](const QString& message) { Fail(false, message.toStdString()); });
  QDBusConnection bus = session::SessionBus();
  if (!bus.isConnected()) {
    // Reported from the event loop, as every other outcome is.
    auto fail = [this] { Fail(true, "no session bus"); };
    QMetaObject::invokeMethod(this, fail, Qt::QueuedConnection);
    return;
  }
  // The portal says it has global shortcuts by having the interface's version.
  QDBusMessage get = QDBusMessage::createMethodCall(
      kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get.setArguments({kInterface, QStringLiteral("version")});
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(get), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    if (w->isError()) {
      Fail(true, w->error().message().toStdString());
      return;
    }
    Trace("portal-shortcuts");
    CreateSession();
  });
}

void PortalHotkey::CreateSession() {
  request_.Send(kInterface, QStringLiteral("CreateSession"), {},
                {{QStringLiteral("session_handle_token"), QStringLiteral("tollmere")}},
                QStringLiteral("tollmere_session"));
}

void PortalHotkey::BindShortcuts(const QString& handle) {
  session_ = handle;
  session::SessionBus().connect(
      kService, kPath, kInterface, QStringLiteral("Activated"), this,
      SLOT(OnActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
  const QList<PortalShortcut> shortcuts{
      {kShortcutId,
       {{QStringLiteral("description"), QStringLiteral("Start or stop holding the space bar")},
        {QStringLiteral("preferred_trigger"), QString::fromStdString(PortalTrigger(hotkey_))}}}};
  request_.Send(
      kInterface, QStringLiteral("BindShortcuts"),
      {QVariant::fromValue(QDBusObjectPath(handle)), QVariant::fromValue(shortcuts), QString()}, {},
      QStringLiteral("tollmere_bind"));
}

void PortalHotkey::OnResponse(uint response, const QVariantMap& results) {
  if (response != 0) {
    Fail(false,
         session_.isEmpty() ? "the desktop refused a session" : "the shortcut was not confirmed");
    return;
  }
  if (session_.isEmpty()) {
    BindShortcuts(session::HandlePath(results.value(QStringLiteral("session_handle"))));
  } else {
    bound_ = true;
    Trace("portal-bound");
  }
}

void PortalHotkey::OnActivated(const QDBusObjectPath& session, const QString& shortcut, qulonglong,
                               const QVariantMap&) {
  if (bound_ && session.path() == session_ && shortcut == kShortcutId) on_activated_();
}

void PortalHotkey::Fail(bool absent, const std::string& why) {
  if (!on_unavailable_) return;
  Trace("portal-unavailable " + Quoted(why));
  // Once: later failures have nothing new to tell the user.
  std::exchange(on_unavailable_, nullptr)(absent, why);
}

}  // namespace tollmere::control
