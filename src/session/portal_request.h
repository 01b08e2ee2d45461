#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

namespace tollmere::session {

// One request to the desktop portal at a time: a method of one of its
// interfaces that returns the handle of a Request object at once and gives
// its answer later, as that object's Response signal. The Response is
// subscribed to before the call, on the path the portal gives a request
// named `token`, so that a quick answer is not missed.
class PortalRequest final : public QObject, protected QDBusContext {
  Q_OBJECT

 public:
  explicit PortalRequest(QDBusConnection bus, QObject* parent = nullptr);
  ~PortalRequest() override;
  PortalRequest(const PortalRequest&) = delete;
  PortalRequest& operator=(const PortalRequest&) = delete;

  // Calls `method` of the portal's `interface` with `arguments` and then
  // `options`, to which it adds handle_token = `token`. A request still
  // awaited is forgotten first.
  void Send(const QString& interface, const QString& method, QVariantList arguments,
            QVariantMap options, const QString& token);

  // Stops waiting: the answer, and the call's reply, are ignored.
  void Forget();

  // Asks the portal to close the request still awaited (its dialog goes
  // away), waiting up to `within_ms` for that, and forgets it.
  void Close(int within_ms);

 signals:
  // The portal's answer: 0 granted, 1 refused by the user, 2 ended
  // another way. Nothing more comes for this request.
  void Answered(uint response, const QVariantMap& results);
  // The call itself failed, with the bus's message.
  void Failed(const QString& message);

 private slots:
  void OnResponse(uint response, const QVariantMap& results);

 private:
  void Subscribe(const QString& path);
  void Unsubscribe();

  QDBusConnection bus_;
  QString path_;       // the request whose answer is awaited, or ""
  unsigned sent_ = 0;  // moves on with each call and each forgetting: a late reply is known
};

// The object path in a portal's answer (a session handle, say): a string in
// the portal's documentation, an object path from some portals.
QString HandlePath(const QVariant& value);

}  // namespace tollmere::session
