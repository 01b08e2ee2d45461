#include "session/portal_request.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <utility>

namespace tollmere::session {
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");

}  // namespace

QString HandlePath(const QVariant& value) {
  if (value.metaType() == QMetaType::fromType<QDBusObjectPath>()) {
    return value.value<QDBusObjectPath>().path();
  }
  return value.toString();
}

PortalRequest::PortalRequest(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

PortalRequest::~PortalRequest() { Forget(); }

void PortalRequest::Send(const QString& interface, const QString& method, QVariantList arguments,
                         QVariantMap options, const QString& token) {
  options.insert(QStringLiteral("handle_token"), token);
  // The portal names the request after the caller's unique name, ":1.42"
  // as "1_42", and the token.
  QString sender = bus_.baseService().mid(1);
  sender.replace(QLatin1Char('.'), QLatin1Char('_'));
  Subscribe(kPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token);
  const unsigned sent = ++sent_;
  QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, interface, method);
  arguments.append(options);
  call.setArguments(arguments);
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, sent](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            if (sent != sent_) return;  // answered, forgotten or followed by another
            const QDBusPendingReply<QDBusObjectPath> reply = *finished;
            if (reply.isError()) {
              const QString message = reply.error().message();
              Forget();
              emit Failed(message);
            } else if (reply.value().path() != path_) {
              Subscribe(reply.value().path());  // a portal that picks its own path
            }
          });
}

void PortalRequest::Forget() {
  ++sent_;
  Unsubscribe();
}

void PortalRequest::Unsubscribe() {
  if (path_.isEmpty()) return;
  bus_.disconnect(kService, path_, kRequest, QStringLiteral("Response"), this,
                  SLOT(OnResponse(uint, QVariantMap)));
  path_.clear();
}

void PortalRequest::Close(int within_ms) {
  if (!path_.isEmpty()) {
    bus_.call(QDBusMessage::createMethodCall(kService, path_, kRequest, QStringLiteral("Close")),
              QDBus::Block, within_ms);
  }
  Forget();
}

void PortalRequest::Subscribe(const QString& path) {
  Unsubscribe();
  path_ = path;
  bus_.connect(kService, path_, kRequest, QStringLiteral("Response"), this,
               SLOT(OnResponse(uint, QVariantMap)));
}

void PortalRequest::OnResponse(uint response, const QVariantMap& results) {
  // One already on its way when the request was forgotten or replaced.
  if (message().path() != path_) return;
  Forget();
  emit Answered(response, results);
}

}  // namespace tollmere::session
