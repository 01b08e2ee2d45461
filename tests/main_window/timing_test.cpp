// The Qt-side timer: the part that keeps holds and countdowns exact.
#include <QtTest>
#include <chrono>
#include <thread>

#include "main_window/qt_timer.h"

namespace mw = tollmere::main_window;

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
};

QTEST_MAIN(TimingTest)
#include "timing_test.moc"
