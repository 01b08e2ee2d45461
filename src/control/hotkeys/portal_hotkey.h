#pragma once

#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <string>

#include "control/hotkeys/hotkey_text.h"
#include "session/portal_request.h"

namespace tollmere::control {

// A global shortcut bound through the desktop portal on the session bus,
// where the desktop offers one (a Wayland session gives programs no other
// way). Every step is asynchronous: the window never waits for the desktop.
class PortalHotkey final : public QObject {
  Q_OBJECT

 public:
  // `on_activated` on each press; `on_unavailable` once when the shortcut
  // cannot be had: `absent` when the desktop has no such portal, else
  // refused (by the user or the desktop), with the reason.
  using Unavailable = std::function<void(bool absent, const std::string& why)>;
  PortalHotkey(const Hotkey& hotkey, std::function<void()> on_activated,
               Unavailable on_unavailable);

 private slots:
  void OnActivated(const QDBusObjectPath& session, const QString& shortcut, qulonglong timestamp,
                   const QVariantMap& options);

 private:
  void OnResponse(uint response, const QVariantMap& results);
  void CreateSession();
  void BindShortcuts(const QString& handle);
  void Fail(bool absent, const std::string& why);

  Hotkey hotkey_;
  std::function<void()> on_activated_;
  Unavailable on_unavailable_;
  session::PortalRequest request_;  // the step whose answer is awaited
  QString session_;
  bool bound_ = false;
};

}  // namespace tollmere::control
