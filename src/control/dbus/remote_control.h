#pragma once

#include <QDBusContext>
#include <QObject>
#include <QString>
#include <string>

#include "control/request.h"

namespace tollmere::control {

inline constexpr const char* kBusName = "org.tollmere.Tollmere";
inline constexpr const char* kObjectPath = "/org/tollmere/Tollmere";
inline constexpr const char* kInterfaceName = "org.tollmere.Tollmere1";
// The error with which Start, Stop or Toggle says it did nothing, and why.
inline constexpr const char* kRefusedError = "org.tollmere.Tollmere1.Error.Refused";

// How handing a request to the Tollmere that owns the bus name went.
struct HandOver {
  enum class Outcome {
    kDone,       // it took the request
    kRefused,    // it refused the interval; `message` says why
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

// The object on the bus: thin, everything goes to the window.
class RemoteControl final : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.tollmere.Tollmere1")
  // Written out to name SetInterval's answer and to say that Busy is read
  // when wanted, not announced.
  Q_CLASSINFO("D-Bus Introspection",
              "  <interface name=\"org.tollmere.Tollmere1\">\n"
              "    <method name=\"Start\"/>\n"
              "    <method name=\"Stop\"/>\n"
              "    <method name=\"Toggle\"/>\n"
              "    <method name=\"Activate\">\n"
              "      <arg name=\"activation_token\" type=\"s\" direction=\"in\"/>\n"
              "    </method>\n"
              "    <method name=\"SetHotkey\">\n"
              "      <arg name=\"hotkey\" type=\"s\" direction=\"in\"/>\n"
              "    </method>\n"
              "    <method name=\"SetInterval\">\n"
              "      <arg name=\"text\" type=\"s\" direction=\"in\"/>\n"
              "      <arg name=\"problem\" type=\"s\" direction=\"out\"/>\n"
              "    </method>\n"
              "    <property name=\"Busy\" type=\"b\" access=\"read\">\n"
              "      <annotation name=\"org.freedesktop.DBus.Property.EmitsChangedSignal\" "
              "value=\"false\"/>\n"
              "    </property>\n"
              "  </interface>\n")
  Q_PROPERTY(bool Busy READ Busy)
  // Keeps QObject's own objectName off the bus: only scriptable properties
  // are exported, and this one is found before QObject's.
  Q_PROPERTY(QString objectName READ objectName SCRIPTABLE false)

 public:
  RemoteControl(RequestTarget& target, QObject* parent);
  bool Busy() const;

 public slots:
  void Start();
  void Stop();
  void Toggle();
  // Brings the window forward, with the desktop's token where it has one.
  void Activate(const QString& activation_token);
  // Empty when the interval took the text; else what the window shows.
  QString SetInterval(const QString& text);
  // Toggles on `hotkey` from now on, instead of any earlier one.
  void SetHotkey(const QString& hotkey);

 private:
  // Answers the call with kRefusedError if the window refused it.
  void Answer(const std::string& refusal);

  RequestTarget& target_;
};

}  // namespace tollmere::control
