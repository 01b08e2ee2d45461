// The Qt-side timer, the window's handling of the held space bar (the parts
// that keep holds and countdowns exact on a real desktop) and its caret.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QtTest>
#include <chrono>
#include <thread>

#include "key_injection/module1.h"
#include "support/recording_backend.h"
#include "window/qt/form1.h"
#include "window/qt/qt_timer.h"

namespace mw = tollmere::window::qt;
namespace ki = tollmere::key_injection;

class TimingTest : public QObject {
  Q_OBJECT

 private slots:
  // The kernel timer may already have expired when the program changes the
  // timer: that expiry belongs to the old setting and must never tick.
  void anExpiryAlreadyDueIsDroppedWhenTheTimerChanges() {
    int ticks = 0;
    mw::QtTimer disabled(5, true);
    disabled.SetOnTick([&] { ++ticks; });
    mw::QtTimer retimed(5, true);
    retimed.SetOnTick([&] { ++ticks; });
    // Several periods pass with no chance for the event loop to run.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    disabled.SetEnabled(false);
    retimed.SetInterval(60'000);  // a new period, far from due
    QTest::qWait(50);
    QCOMPARE(ticks, 0);
  }

  void aRunningTimerTicksAndStopsWhenDisabled() {
    int ticks = 0;
    mw::QtTimer timer(5, false);
    timer.SetOnTick([&] {
      if (++ticks == 3) timer.SetEnabled(false);
    });
    timer.SetEnabled(true);
    QTRY_COMPARE_WITH_TIMEOUT(ticks, 3, 5000);
    QTest::qWait(30);
    QCOMPARE(ticks, 3);
  }

  void init() {
    ki::InstallModule1([log = log_] { return std::make_unique<ki::RecordingBackend>(log); });
    form_ = std::make_unique<mw::Form1>(QGuiApplication::primaryScreen()->logicalDotsPerInch());
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
  }
  void cleanup() {
    ki::TheModule1().ReleaseHeldKeys();
    form_.reset();
  }

  // With the focus on "Start", the program's own held space presses the
  // button; the server's autorepeat then sends it release-press pairs that
  // must not click it, or the hold would restart its countdown and never end.
  void autorepeatOfTheHeldSpaceDoesNotClickStart() {
    QPushButton* start = form_->Command1();
    start->setFocus();
    int clicks = 0;
    QObject::connect(start, &QPushButton::clicked, [&] { ++clicks; });

    // A space typed by the user clicks as usual.
    QTest::keyClick(start, Qt::Key_Space);
    QCOMPARE(clicks, 1);

    ki::PressKey(32);  // our hold begins: the press reaches the button
    QTest::keyPress(start, Qt::Key_Space);
    QVERIFY(start->isDown());
    for (int i = 0; i < 3; ++i) {  // autorepeat
      QTest::keyRelease(start, Qt::Key_Space);
      QTest::keyPress(start, Qt::Key_Space);
    }
    QCOMPARE(clicks, 1);
    QVERIFY(start->isDown());

    ki::ReleaseKey(32);  // our release: the next countdown starts
    QTest::keyRelease(start, Qt::Key_Space);
    QCOMPARE(clicks, 2);
    QVERIFY(!start->isDown());
  }

  // The caret rests after a while without input; the next input in the box
  // makes it blink again at the desktop's rate.
  void inputInTheBoxWakesARestingCaret() {
    const int blink = QApplication::cursorFlashTime();
    QVERIFY(blink > 0);
    QApplication::setCursorFlashTime(0);  // as the rest leaves it
    QTest::keyClick(form_->txtInterval(), Qt::Key_5);
    QCOMPARE(QApplication::cursorFlashTime(), blink);
    QCOMPARE(form_->txtInterval()->text(), QStringLiteral("5"));
  }

 private:
  std::shared_ptr<ki::RecordingBackend::Log> log_ = std::make_shared<ki::RecordingBackend::Log>();
  std::unique_ptr<mw::Form1> form_;
};

QTEST_MAIN(TimingTest)
#include "timing_test.moc"
