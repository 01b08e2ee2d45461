#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QObject>
#include <QString>
#include <string>

#include "control/request.h"

namespace tollmere::control {

inline constexpr const char* kBusName = "org.tollmere.Tollmere";
inline constexpr const char* kObjectPath = "/org/tollmere/Tollmere";
inline constexpr const char* kInterfaceName = "org.tollmere.Tollmere1";
// The error with which a method or a property's Set says it did nothing, and
// why.
inline constexpr const char* kRefusedError = "org.tollmere.Tollmere1.Error.Refused";

// How handing a request to the Tollmere that owns the bus name went.
struct HandOver {
  enum class Outcome {
    kDone,       // it took the request
    kRefused,    // it refused part of the request; `message` says why
    kNoOwner,    // no Tollmere owns the name
    kNoBus,      // no session bus; `message` says why
    kSilentBus,  // the session bus did not answer; `message` says so
    kFailed,     // it did not answer or the call failed; `message` says why
  };
  Outcome outcome;
  std::string message;
};

HandOver HandOverToRunning(const Request& request);

// Whether a Tollmere other than this process counts down or holds a key.
bool AnotherTollmereBusy();

// Offers `target` on the session bus under kObjectPath and asks for
// kBusName; the object on the bus is a child of `owner`. True if this
// process now owns the name; false if another does or there is no bus (then
// the window works on, unreachable).
bool OfferOnSessionBus(RequestTarget& target, QObject* owner);

// The object on the bus: thin, everything goes to the window. Written out
// rather than generated from slots and properties, because a property that
// Qt writes cannot answer with an error, and a refused setting must.
class RemoteControl final : public QDBusVirtualObject {
 public:
  RemoteControl(RequestTarget& target, QObject* parent);
  QString introspect(const QString& path) const override;
  bool handleMessage(const QDBusMessage& call, const QDBusConnection& connection) override;

 private:
  // The answer to a call on kInterfaceName, or to org.freedesktop.DBus.Properties.
  QDBusMessage Method(const QDBusMessage& call);
  QDBusMessage Property(const QDBusMessage& call);
  // An empty reply, or kRefusedError if the window refused.
  static QDBusMessage Answer(const QDBusMessage& call, const std::string& refusal);

  RequestTarget& target_;
};

}  // namespace tollmere::control
