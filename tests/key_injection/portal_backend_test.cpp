// The portal back end against a stand-in portal on a private session bus:
// what a real desktop cannot be made to do on demand (refuse, end the
// session in the middle of a hold, remember the permission).
#include "key_injection/backends/portal_backend.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QStringList>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "harness/session_bus.h"
#include "runtime/error.h"

namespace tollmere::key_injection {
namespace {

namespace rt = tollmere::runtime;
using namespace std::chrono_literals;

constexpr std::uint8_t kSpace = 32;  // evdev KEY_SPACE is 57

QCoreApplication& App() {
  static int argc = 1;
  static char name[] = "portal_backend_test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  return app;
}

class PortalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    bus_ = QDBusConnection::connectToBus(QString::fromStdString(daemon_.address()),
                                         QStringLiteral("portal-test"));
    ASSERT_TRUE(bus_.isConnected());
    // A directory of each case's own: CTest runs the cases side by side.
    std::string dir = ::testing::TempDir() + "portal_backend_test.XXXXXX";
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    dir_ = dir;
    token_file_ = dir_ + "/state/portal-restore-token";
  }
  void TearDown() override {
    if (portal_.state() != QProcess::NotRunning) {
      portal_.kill();
      portal_.waitForFinished();
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("portal-test"));
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }

  void StartPortal(const char* answer, int version) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               QString::fromStdString(daemon_.address()));
    portal_.setProcessEnvironment(env);
    portal_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    portal_.start(QStringLiteral(FAKE_REMOTE_DESKTOP),
                  {QString::fromLatin1(answer), QString::number(version)});
    ASSERT_TRUE(WaitFor([this] {
      return bus_.interface()
          ->isServiceRegistered(QStringLiteral("org.freedesktop.portal.Desktop"))
          .value();
    }));
  }

  std::unique_ptr<KeystrokeBackend> Open() {
    return OpenPortalBackend([this](const std::string& text) { notices.push_back(text); },
                             token_file_, "portal-test");
  }

  // Runs the event loop until `done` holds; false if it never does.
  template <typename Done>
  bool WaitFor(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
  }

  QDBusMessage Control(const char* member) {
    return bus_.call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.tollmere.FakeRemoteDesktop"), QString::fromLatin1(member)));
  }
  QStringList Log() { return Control("Log").arguments().value(0).toStringList(); }
  // Every answer the portal gave before this is handled by the back end:
  // the round trip puts them ahead of its reply, and they are then queued.
  void Settle() {
    Log();
    QCoreApplication::processEvents();
  }
  bool Logged(const QString& entry) { return Log().contains(entry); }
  QStringList Keys() { return Log().filter(QStringLiteral("key ")); }
  bool Noticed(const std::string& part) {
    for (const std::string& notice : notices) {
      if (notice.find(part) != std::string::npos) return true;
    }
    return false;
  }
  // Opens, waits for the desktop's answer, and has it handled.
  std::unique_ptr<KeystrokeBackend> OpenAndAnswer() {
    auto backend = Open();
    const auto starts = Log().filter(QStringLiteral("start")).size();
    EXPECT_TRUE(WaitFor([&] { return Log().filter(QStringLiteral("start")).size() > starts; }));
    Settle();
    return backend;
  }

  e2e::SessionBusDaemon daemon_;
  QDBusConnection bus_{QString()};
  QProcess portal_;
  std::string dir_;
  std::string token_file_;
  std::vector<std::string> notices;
};

TEST_F(PortalTest, NoRemoteDesktopIsReportedAtOnce) {
  // Nothing answers, or the system's own portal is started on this bus and
  // offers no remote desktop: either way a reason, before any dialog.
  try {
    Open();
    ADD_FAILURE() << "bound without a portal";
  } catch (const rt::Error& error) {
    EXPECT_EQ(error.number(), rt::ErrorNumber::kKeystrokeFacilityUnavailable);
    EXPECT_NE(std::string(error.what()).find("portal"), std::string::npos) << error.what();
  }
}

TEST_F(PortalTest, GrantedKeysArriveAsEvdevCodesAndKeysWhileAskingAreDropped) {
  StartPortal("grant", 1);
  auto backend = Open();
  EXPECT_TRUE(Noticed("asked the desktop for permission"));
  // The load-time keystroke, while the dialog is up: never typed later.
  backend->KeyDown(kSpace);
  backend->KeyUp(kSpace);
  ASSERT_TRUE(WaitFor([&] { return Logged(QStringLiteral("start dialog")); }));
  Settle();
  EXPECT_TRUE(Keys().isEmpty()) << Keys().join(QLatin1Char(',')).toStdString();
  // Version 1 keeps no permission.
  EXPECT_TRUE(Logged(QStringLiteral("select types=1 persist=0 token=")));

  backend->KeyDown(kSpace);
  backend->KeyUp(kSpace);
  EXPECT_EQ(Keys(), (QStringList{QStringLiteral("key 57 1"), QStringLiteral("key 57 0")}));
  // A modifier and a key beyond the old set go as their evdev codes too.
  for (std::uint8_t vk : {std::uint8_t{0xA5}, std::uint8_t{0x7C}}) {  // RightAlt, F13
    EXPECT_EQ(backend->KeyProblem(vk), "");
    backend->KeyDown(vk);
    backend->KeyUp(vk);
  }
  EXPECT_EQ(Keys().mid(2), (QStringList{QStringLiteral("key 100 1"), QStringLiteral("key 100 0"),
                                        QStringLiteral("key 183 1"), QStringLiteral("key 183 0")}));

  // The way out puts a held key up before it closes the session.
  backend->KeyDown(kSpace);
  backend.reset();
  const QStringList log = Log();
  EXPECT_EQ(log.mid(log.size() - 3),
            (QStringList{QStringLiteral("key 57 1"), QStringLiteral("key 57 0"),
                         QStringLiteral("close")}));
  ASSERT_EQ(notices.size(), 2u) << "the question, then its withdrawal";
  EXPECT_EQ(notices[1], "");
}

TEST_F(PortalTest, RefusalOrAnEndedSessionSendsNothingAndTheNextStartAsksAgain) {
  StartPortal("refuse", 1);
  auto backend = OpenAndAnswer();
  EXPECT_TRUE(Noticed("refused"));
  backend->Prepare();  // a countdown starts: asks again now, not at its key-down
  EXPECT_TRUE(WaitFor([&] { return Log().filter(QStringLiteral("create")).size() == 2; }));
  backend->KeyDown(kSpace);  // not sent
  backend->KeyUp(kSpace);
  EXPECT_TRUE(Keys().isEmpty());
  backend.reset();
  portal_.kill();
  portal_.waitForFinished();

  // Granted, then ended by the desktop in the middle of a hold.
  StartPortal("grant", 1);
  backend = OpenAndAnswer();
  backend->KeyDown(kSpace);
  Control("CloseSession");
  ASSERT_TRUE(WaitFor([&] { return Noticed("remote session was closed"); }));
  backend->KeyUp(kSpace);  // the desktop put it up with the session
  backend->KeyDown(kSpace);
  ASSERT_TRUE(WaitFor([&] { return Log().filter(QStringLiteral("start")).size() == 2; }));
  EXPECT_EQ(Keys(), QStringList{QStringLiteral("key 57 1")});

  // Granted again, then GNOME's portal back end ends mid-hold, unannounced.
  const QString gnome = QStringLiteral("org.freedesktop.impl.portal.desktop.gnome");
  ASSERT_TRUE(bus_.registerService(gnome));
  Settle();
  const auto mark = Log().size();
  backend->KeyDown(kSpace);
  bus_.unregisterService(gnome);
  ASSERT_TRUE(WaitFor([&] { return Noticed("xdg-desktop-portal-gnome"); }));
  backend->KeyUp(kSpace);
  EXPECT_EQ(Log().mid(mark), (QStringList{QStringLiteral("key 57 1"), QStringLiteral("close")}));
}

TEST_F(PortalTest, Version2RemembersThePermissionAndADamagedTokenAsksAgain) {
  StartPortal("grant", 2);
  OpenAndAnswer().reset();
  EXPECT_TRUE(Logged(QStringLiteral("select types=1 persist=2 token=")));
  std::string token;
  std::getline(std::ifstream(token_file_), token);
  EXPECT_EQ(token, "restore-1");
  struct stat info = {};
  ASSERT_EQ(stat(token_file_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  OpenAndAnswer().reset();
  EXPECT_TRUE(Logged(QStringLiteral("select types=1 persist=2 token=restore-1")));
  EXPECT_TRUE(Logged(QStringLiteral("start restored")));

  std::ofstream(token_file_) << "restore-1\x01\n";
  OpenAndAnswer().reset();
  std::ofstream(token_file_) << "not-one-it-gave\n";
  auto backend = OpenAndAnswer();
  const QStringList log = Log();
  EXPECT_EQ(log.filter(QStringLiteral("start dialog")).size(), 3)
      << log.join(QLatin1Char('\n')).toStdString();
  EXPECT_TRUE(log.contains(QStringLiteral("select types=1 persist=2 token=not-one-it-gave")));
  backend->KeyDown(kSpace);
  backend->KeyUp(kSpace);
  EXPECT_EQ(Keys(), (QStringList{QStringLiteral("key 57 1"), QStringLiteral("key 57 0")}));
}

}  // namespace
}  // namespace tollmere::key_injection
