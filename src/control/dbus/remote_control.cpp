#include "control/dbus/remote_control.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <optional>

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
                  const QVariantList& args = {}) {
  QDBusMessage call = QDBusMessage::createMethodCall(
      owner, QLatin1String(kObjectPath), QLatin1String(kInterfaceName), QLatin1String(method));
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
    const auto taken = [&](const char* name, const QVariantList& args = {}) {
      const QDBusMessage reply = Call(bus, tried, name, args);
      if (reply.errorName() == QLatin1String(kRefusedError)) {
        refused = HandOver{Outcome::kRefused, reply.errorMessage().toStdString()};
      } else if (reply.type() != QDBusMessage::ReplyMessage) {
        failure = Described(reply);
      }
      return !refused && reply.type() == QDBusMessage::ReplyMessage;
    };
    const char* method = MethodFor(request.action);
    if ((request.hotkey && !taken("SetHotkey", {QString::fromStdString(*request.hotkey)})) ||
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
  if (!bus.registerObject(
          QLatin1String(kObjectPath), control,
          QDBusConnection::ExportAllSlots | QDBusConnection::ExportScriptableProperties)) {
    return false;
  }
  // Queued: a window opened with --new-window takes the name over when the
  // first one closes, so that commands reach it.
  const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
      bus.interface()->registerService(QLatin1String(kBusName),
                                       QDBusConnectionInterface::QueueService,
                                       QDBusConnectionInterface::DontAllowReplacement);
  return reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
}

RemoteControl::RemoteControl(RequestTarget& target, QObject* parent)
    : QObject(parent), target_(target) {}

bool RemoteControl::Busy() const { return target_.Busy(); }
void RemoteControl::Start() { Answer(target_.Start()); }
void RemoteControl::Stop() { Answer(target_.Stop()); }
void RemoteControl::Toggle() { Answer(target_.Toggle()); }
void RemoteControl::Activate(const QString& activation_token) {
  target_.Activate(activation_token.toStdString());
}

void RemoteControl::Answer(const std::string& refusal) {
  if (!refusal.empty()) {
    sendErrorReply(QLatin1String(kRefusedError), QString::fromStdString(refusal));
  }
}

void RemoteControl::SetHotkey(const QString& hotkey) {
  Answer(target_.SetHotkey(hotkey.toStdString()));
}

QString RemoteControl::SetInterval(const QString& text) {
  return QString::fromStdString(target_.SetIntervalText(text.toStdString()));
}

}  // namespace tollmere::control
