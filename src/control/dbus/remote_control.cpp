#include "control/dbus/remote_control.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <optional>
#include <utility>

#include "runtime/trace.h"
#include "session/session_bus.h"

namespace tollmere::control {

namespace {

// A running Tollmere answers at once; one that does not within this is stuck
// (say, behind its error dialog), and the caller is better told so.
constexpr int kCallTimeoutMs = 5000;
// An owner may quit between our question and our call, and another may take
// the name meanwhile: ask again this many times at most.
constexpr int kAttempts = 3;

const char* MethodFor(Action action) {
  switch (action) {
    case Action::kStart: return "Start";
    case Action::kStop: return "Stop";
    case Action::kToggle: return "Toggle";
    case Action::kNone: break;
  }
  return nullptr;
}

// Called on the owner's unique name, so every call of one request reaches
// the same process, or fails if it is gone.
QDBusMessage Call(QDBusConnection& bus, const QString& owner, const char* method,
                  const QVariantList& args = {}, const char* interface = kInterfaceName) {
  QDBusMessage call = QDBusMessage::createMethodCall(
      owner, QLatin1String(kObjectPath), QLatin1String(interface), QLatin1String(method));
  call.setArguments(args);
  runtime::Trace(std::string("remote-call ") + method);
  return bus.call(call, QDBus::Block, kCallTimeoutMs);
}

// For the user: what went wrong, without the error's D-Bus name.
std::string Described(const QDBusMessage& error) {
  // The call waits in the owner's queue, to be run if it wakes up.
  const QDBusError::ErrorType type = QDBusError(error).type();
  if (type == QDBusError::NoReply || type == QDBusError::Timeout) {
    return "the running Tollmere did not answer within " + std::to_string(kCallTimeoutMs / 1000) +
           " s; it may still act on the request later";
  }
  return error.errorMessage().toStdString();
}

constexpr const char* kProperties = "org.freedesktop.DBus.Properties";

// The settings' properties by the names --NAME= takes.
constexpr std::pair<const char*, const char*> kSettingProperties[] = {
    {"Key", "key"}, {"Hold", "hold"},           {"Repeat", "repeat"},
    {"Gap", "gap"}, {"Countdown", "countdown"},
};

const char* SettingNamed(const QString& property) {
  for (const auto& [bus_name, name] : kSettingProperties) {
    if (property == QLatin1String(bus_name)) return name;
  }
  return nullptr;
}

const char* PropertyFor(const std::string& setting) {
  for (const auto& [bus_name, name] : kSettingProperties) {
    if (setting == name) return bus_name;
  }
  return nullptr;
}

// What introspect() answers; Qt adds the standard interfaces. The settings
// take the text their command-line options take, and change on any way of
// control: read them when wanted, nothing announces them.
constexpr const char* kIntrospection =
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
    "    <property name=\"Key\" type=\"s\" access=\"readwrite\">\n"
    "      <annotation name=\"org.freedesktop.DBus.Property.EmitsChangedSignal\" "
    "value=\"false\"/>\n"
    "    </property>\n"
    "    <property name=\"Hold\" type=\"s\" access=\"readwrite\">\n"
    "      <annotation name=\"org.freedesktop.DBus.Property.EmitsChangedSignal\" "
    "value=\"false\"/>\n"
    "    </property>\n"
    "    <property name=\"Repeat\" type=\"s\" access=\"readwrite\">\n"
    "      <annotation name=\"org.freedesktop.DBus.Property.EmitsChangedSignal\" "
    "value=\"false\"/>\n"
    "    </property>\n"
    "    <property name=\"Gap\" type=\"s\" access=\"readwrite\">\n"
    "      <annotation name=\"org.freedesktop.DBus.Property.EmitsChangedSignal\" "
    "value=\"false\"/>\n"
    "    </property>\n"
    "    <property name=\"Countdown\" type=\"s\" access=\"readwrite\">\n"
    "      <annotation name=\"org.freedesktop.DBus.Property.EmitsChangedSignal\" "
    "value=\"false\"/>\n"
    "    </property>\n"
    "  </interface>\n";

}  // namespace

// Every process that owns the name or waits for it, in line.
QStringList QueuedOwners(QDBusConnection& bus) {
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListQueuedOwners"));
  call.setArguments({QLatin1String(kBusName)});
  const QDBusReply<QStringList> reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
  return reply.isValid() ? reply.value() : QStringList();
}

HandOver HandOverToRunning(const Request& request) {
  using Outcome = HandOver::Outcome;
  if (const std::string& silence = session::SessionBusSilence(); !silence.empty()) {
    return {Outcome::kSilentBus, silence};
  }
  if (session::SessionBusDisabled()) return {Outcome::kNoBus, "the session bus is disabled"};
  QDBusConnection bus = session::SessionBus();
  if (!bus.isConnected()) return {Outcome::kNoBus, bus.lastError().message().toStdString()};
  QString tried;
  std::string failure;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const QDBusReply<QString> owner = bus.interface()->serviceOwner(QLatin1String(kBusName));
    if (!owner.isValid()) {
      if (owner.error().name() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
        return {Outcome::kNoOwner, {}};
      return {Outcome::kFailed, owner.error().message().toStdString()};
    }
    // The same owner again after a failed call: it is there but not answering.
    if (owner.value() == tried) break;
    tried = owner.value();
    if (request.interval) {
      const QDBusMessage reply =
          Call(bus, tried, "SetInterval", {QString::fromStdString(*request.interval)});
      if (reply.type() != QDBusMessage::ReplyMessage) {
        failure = Described(reply);
        continue;
      }
      const QString problem = reply.arguments().value(0).toString();
      if (!problem.isEmpty()) return {Outcome::kRefused, problem.toStdString()};
    }
    // Whether the call was taken. A refusal ends the request; a failure
    // asks the owner again.
    std::optional<HandOver> refused;
    const auto taken = [&](const char* name, const QVariantList& args = {},
                           const char* interface = kInterfaceName) {
      const QDBusMessage reply = Call(bus, tried, name, args, interface);
      if (reply.errorName() == QLatin1String(kRefusedError)) {
        refused = HandOver{Outcome::kRefused, reply.errorMessage().toStdString()};
      } else if (reply.type() != QDBusMessage::ReplyMessage) {
        failure = Described(reply);
      }
      return !refused && reply.type() == QDBusMessage::ReplyMessage;
    };
    const auto settings_taken = [&] {
      for (const auto& [name, text] : request.settings) {
        const QVariantList args = {QLatin1String(kInterfaceName), QLatin1String(PropertyFor(name)),
                                   QVariant::fromValue(QDBusVariant(QString::fromStdString(text)))};
        if (!taken("Set", args, kProperties)) return false;
      }
      return true;
    };
    const char* method = MethodFor(request.action);
    if (!settings_taken() ||
        (request.hotkey && !taken("SetHotkey", {QString::fromStdString(*request.hotkey)})) ||
        (request.raise && !taken("Activate", {QString::fromStdString(request.token)})) ||
        (method != nullptr && !taken(method))) {
      if (refused) return *refused;
      continue;
    }
    // A window opened with --new-window waits in line for the name: a stop
    // is for it too.
    if (request.action == Action::kStop) {
      for (const QString& other : QueuedOwners(bus)) {
        if (other != tried) Call(bus, other, "Stop");
      }
    }
    return {Outcome::kDone, {}};
  }
  return {Outcome::kFailed, failure};
}

bool AnotherTollmereBusy() {
  if (!session::SessionBusSilence().empty() || session::SessionBusDisabled()) return false;
  QDBusConnection bus = session::SessionBus();
  if (!bus.isConnected()) return false;
  for (const QString& owner : QueuedOwners(bus)) {
    if (owner == bus.baseService()) continue;
    QDBusMessage get = QDBusMessage::createMethodCall(
        owner, QLatin1String(kObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get.setArguments({QLatin1String(kInterfaceName), QStringLiteral("Busy")});
    const QDBusReply<QDBusVariant> busy = bus.call(get, QDBus::Block, kCallTimeoutMs);
    // One that does not answer may be holding: counted as busy.
    if (!busy.isValid() || busy.value().variant().toBool()) return true;
  }
  return false;
}

bool OfferOnSessionBus(RequestTarget& target, QObject* owner) {
  if (session::SessionBusDisabled()) return false;
  QDBusConnection bus = session::SessionBus();
  if (!bus.isConnected()) return false;
  auto* control = new RemoteControl(target, owner);
  if (!bus.registerVirtualObject(QLatin1String(kObjectPath), control)) return false;
  // Queued: a window opened with --new-window takes the name over when the
  // first one closes, so that commands reach it.
  const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
      bus.interface()->registerService(QLatin1String(kBusName),
                                       QDBusConnectionInterface::QueueService,
                                       QDBusConnectionInterface::DontAllowReplacement);
  return reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
}

RemoteControl::RemoteControl(RequestTarget& target, QObject* parent)
    : QDBusVirtualObject(parent), target_(target) {}

QString RemoteControl::introspect(const QString& /*path*/) const {
  return QLatin1String(kIntrospection);
}

bool RemoteControl::handleMessage(const QDBusMessage& call, const QDBusConnection& connection) {
  if (call.type() != QDBusMessage::MethodCallMessage) return false;
  QDBusMessage reply;
  if (call.interface() == QLatin1String(kProperties)) {
    reply = Property(call);
  } else if (call.interface().isEmpty() || call.interface() == QLatin1String(kInterfaceName)) {
    reply = Method(call);
  } else {
    return false;  // Introspectable and Peer are Qt's
  }
  if (call.isReplyRequired()) QDBusConnection(connection).send(reply);
  return true;
}

QDBusMessage RemoteControl::Answer(const QDBusMessage& call, const std::string& refusal) {
  if (refusal.empty()) return call.createReply();
  return call.createErrorReply(QLatin1String(kRefusedError), QString::fromStdString(refusal));
}

QDBusMessage RemoteControl::Method(const QDBusMessage& call) {
  const QString& name = call.member();
  const QString text = call.arguments().value(0).toString();
  const QString signature = call.signature();
  if (signature.isEmpty()) {
    if (name == QLatin1String("Start")) return Answer(call, target_.Start());
    if (name == QLatin1String("Stop")) return Answer(call, target_.Stop());
    if (name == QLatin1String("Toggle")) return Answer(call, target_.Toggle());
  } else if (signature == QLatin1String("s")) {
    if (name == QLatin1String("Activate")) {
      target_.Activate(text.toStdString());
      return call.createReply();
    }
    if (name == QLatin1String("SetHotkey")) {
      return Answer(call, target_.SetHotkey(text.toStdString()));
    }
    // The problem is the answer: empty when the interval took the text.
    if (name == QLatin1String("SetInterval")) {
      return call.createReply(QString::fromStdString(target_.SetIntervalText(text.toStdString())));
    }
  }
  return call.createErrorReply(QDBusError::UnknownMethod,
                               QStringLiteral("No method %1 with signature '%2' in %3")
                                   .arg(name, signature, QLatin1String(kInterfaceName)));
}

QDBusMessage RemoteControl::Property(const QDBusMessage& call) {
  const QList<QVariant> args = call.arguments();
  const QString& member = call.member();
  const QString interface = args.value(0).toString();
  if (!interface.isEmpty() && interface != QLatin1String(kInterfaceName)) {
    return call.createErrorReply(QDBusError::UnknownInterface,
                                 QStringLiteral("No interface %1 here").arg(interface));
  }
  if (member == QLatin1String("GetAll") && call.signature() == QLatin1String("s")) {
    QVariantMap all{{QStringLiteral("Busy"), target_.Busy()}};
    for (const auto& [bus_name, name] : kSettingProperties) {
      all.insert(QLatin1String(bus_name), QString::fromStdString(target_.Setting(name)));
    }
    return call.createReply(all);
  }
  const QString property = args.value(1).toString();
  const char* setting = SettingNamed(property);
  const bool busy = property == QLatin1String("Busy");
  if (member == QLatin1String("Get") && call.signature() == QLatin1String("ss")) {
    if (busy) return call.createReply(QVariant::fromValue(QDBusVariant(target_.Busy())));
    if (setting != nullptr) {
      const QString text = QString::fromStdString(target_.Setting(setting));
      return call.createReply(QVariant::fromValue(QDBusVariant(text)));
    }
  } else if (member == QLatin1String("Set") && call.signature() == QLatin1String("ssv")) {
    if (busy) {
      return call.createErrorReply(QDBusError::PropertyReadOnly,
                                   QStringLiteral("Busy is read-only"));
    }
    if (setting != nullptr) {
      const QVariant value = qvariant_cast<QDBusVariant>(args.value(2)).variant();
      if (value.metaType() != QMetaType::fromType<QString>()) {
        return call.createErrorReply(QDBusError::InvalidArgs,
                                     QStringLiteral("%1 takes a string").arg(property));
      }
      return Answer(call, target_.SetSetting(setting, value.toString().toStdString()));
    }
  } else {
    return call.createErrorReply(QDBusError::UnknownMethod,
                                 QStringLiteral("No method %1 with signature '%2' in %3")
                                     .arg(member, call.signature(), QLatin1String(kProperties)));
  }
  return call.createErrorReply(
      QDBusError::UnknownProperty,
      QStringLiteral("No property %1 in %2").arg(property, QLatin1String(kInterfaceName)));
}

}  // namespace tollmere::control
