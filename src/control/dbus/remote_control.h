#pragma once

#include <QDBusContext>
#include <QObject>
#include <QString>
#include <optional>
#include <string>

namespace tollmere::main_window {

class Form1;

inline constexpr const char* kBusName = "org.tollmere.Tollmere";
inline constexpr const char* kObjectPath = "/org/tollmere/Tollmere";
inline constexpr const char* kInterfaceName = "org.tollmere.Tollmere1";
// The error with which Start, Stop or Toggle says it did nothing, and why.
inline constexpr const char* kRefusedError = "org.tollmere.Tollmere1.Error.Refused";

// What the command line asks of a Tollmere: an interval text for the box
// first, then at most one action.
struct RemoteRequest {
  enum class Action { kNone, kStart, kStop, kToggle };
  std::optional<std::string> interval;
  Action action = Action::kNone;
  // A plain launch: bring the running window forward instead of opening a
  // second one. `token` is the desktop's activation token, if any.
  bool raise = false;
  std::string token;

  bool Any() const { return interval.has_value() || action != Action::kNone; }
  // Only --stop: with no Tollmere to stop, nothing needs starting.
  bool OnlyStop() const { return !interval && action == Action::kStop; }
};

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

HandOver HandOverToRunning(const RemoteRequest& request);

// Whether a Tollmere other than this process counts down or holds a key.
bool AnotherTollmereBusy();

// Offers `form` on the session bus under kObjectPath and asks for kBusName.
// True if this process now owns the name; false if another does or there is
// no bus (then the window works on, unreachable).
bool OfferOnSessionBus(Form1& form);

// Applies `request` to this process's own window; the refusal, if any.
std::string ApplyRequest(Form1& form, const RemoteRequest& request);

// The object on the bus: thin, everything goes to Form1.
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
  explicit RemoteControl(Form1& form, QObject* parent = nullptr);
  bool Busy() const;

 public slots:
  void Start();
  void Stop();
  void Toggle();
  // Brings the window forward, with the desktop's token where it has one.
  void Activate(const QString& activation_token);
  // Empty when the interval took the text; else what the window shows.
  QString SetInterval(const QString& text);

 private:
  // Answers the call with kRefusedError if the window refused it.
  void Answer(const std::string& refusal);

  Form1& form_;
};

}  // namespace tollmere::main_window
