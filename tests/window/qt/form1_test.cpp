#include "window/qt/form1.h"

#include <QClipboard>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

#include "key_injection/module1.h"
#include "runtime/fatal.h"
#include "support/recording_backend.h"

namespace mw = tollmere::window::qt;
namespace ki = tollmere::key_injection;
namespace rt = tollmere::runtime;

class Form1Test : public QObject {
  Q_OBJECT

 private:
  std::shared_ptr<ki::RecordingBackend::Log> log_;
  std::unique_ptr<mw::Form1> form_;
  double dpi_ = 96;
  int px(int twips) const { return tollmere::window::TwipsToPixels(twips, dpi_); }
  static QString TooLong() {
    return QString(tollmere::hold_sequencer::kTxtIntervalMaxLength - 1, u'0') +
           QStringLiteral("250");
  }

 private slots:
  void init() {
    log_ = std::make_shared<ki::RecordingBackend::Log>();
    ki::InstallModule1([log = log_] { return std::make_unique<ki::RecordingBackend>(log); });
    dpi_ = QGuiApplication::primaryScreen()->logicalDotsPerInch();
    form_ = std::make_unique<mw::Form1>(dpi_);
  }
  void cleanup() {
    form_.reset();
    rt::SetFatalPolicy({});
  }

  void twipsScaleWithTheScreen() {
    QCOMPARE(tollmere::window::TwipsToPixels(2940, 96), 196);
    QCOMPARE(tollmere::window::TwipsToPixels(885, 96), 59);
    QCOMPARE(tollmere::window::TwipsToPixels(2940, 144), 294);
    QCOMPARE(tollmere::window::TwipsToPixels(15, 96), 1);
  }

  void windowHasItsStoredLayout() {
    QCOMPARE(form_->windowTitle(), QStringLiteral("Tollmere"));
    QCOMPARE(form_->size(), QSize(px(2940), px(885)));
    QCOMPARE(form_->txtInterval()->geometry(), QRect(px(120), px(360), px(1215), px(285)));
    QCOMPARE(form_->Command1()->geometry(), QRect(px(1560), px(240), px(1215), px(495)));
    QCOMPARE(form_->Command1()->text(), QStringLiteral("Start"));
    QVERIFY(form_->txtInterval()->text().isEmpty());
    QVERIFY(form_->IntervalProblem()->isHidden());
    QCOMPARE(form_->txtInterval()->nextInFocusChain(), form_->Command1());
  }

  // A first-time user sees what to type and what the button does, and a
  // screen reader has a name and a description for both.
  void controlsExplainThemselves() {
    QCOMPARE(form_->txtInterval()->placeholderText(), QStringLiteral("interval, ms"));
    QVERIFY(form_->txtInterval()->text().isEmpty());
    QVERIFY(form_->txtInterval()->toolTip().contains(QStringLiteral("milliseconds")));
    QVERIFY(form_->Command1()->toolTip().contains(QStringLiteral("space bar")));
    for (QWidget* control :
         {static_cast<QWidget*>(form_->txtInterval()), static_cast<QWidget*>(form_->Command1())}) {
      QVERIFY(!control->accessibleName().isEmpty());
      QVERIFY(!control->accessibleDescription().isEmpty());
    }
  }

  void timersStartWithTheirStoredState() {
    QVERIFY(!form_->Timer2().Enabled());
    QCOMPARE(form_->Timer2().Interval(), 1000);
    QVERIFY(!form_->Timer1().Enabled());
    QCOMPARE(form_->Timer1().Interval(), 0);
    QCOMPARE(form_->Sequencer().Count(), 0);
  }

  void focusIsInTheIntervalBoxWhenShown() {
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    QCOMPARE(QApplication::focusWidget(), form_->txtInterval());
  }

  void loadMakesOneCompleteKeystroke() {
    form_->Form_Load();
    using Log = ki::RecordingBackend::Log;
    QCOMPARE(*log_, (Log{{32, true, {}}, {32, false, {}}}));
    QVERIFY(!ki::TheModule1().IsHeld(32));
  }

  void typingSetsTheIntervalAndAClickStartsTheCountdown() {
    form_->show();
    QTest::keyClicks(form_->txtInterval(), QStringLiteral("250"));
    QCOMPARE(form_->Timer1().Interval(), 250);
    QTest::mouseClick(form_->Command1(), Qt::LeftButton);
    QVERIFY(form_->Timer2().Enabled());
    QCOMPARE(form_->Sequencer().Count(), 4);
    QTRY_COMPARE_WITH_TIMEOUT(form_->Command1()->text(), QStringLiteral("Starting in 3"), 3000);
  }

  void aRefusedEntryIsShownBesideTheBoxUntilTheTextIsValid() {
    form_->show();
    form_->txtInterval()->setText(QStringLiteral("300"));
    const int height = form_->height();
    form_->txtInterval()->setText(QStringLiteral("99999999999"));
    QVERIFY(form_->IntervalProblem()->isVisible());
    QVERIFY(form_->IntervalProblem()->text().contains(QStringLiteral("Keeping 300 ms")));
    QCOMPARE(form_->Timer1().Interval(), 300);
    // The window grows to show the whole message, inside the window.
    const QRect label = form_->IntervalProblem()->geometry();
    QVERIFY(label.bottom() < form_->height());
    QVERIFY(label.height() >= form_->IntervalProblem()->fontMetrics().height());
    form_->txtInterval()->setText(QStringLiteral("-5"));
    QVERIFY(form_->IntervalProblem()->text().contains(QStringLiteral("negative")));
    form_->txtInterval()->setText(QStringLiteral("30"));
    QVERIFY(form_->IntervalProblem()->isHidden());
    QCOMPARE(form_->height(), height);
    QCOMPARE(form_->Timer1().Interval(), 30);
    // Cut to the box's length this would read 2: refused whole instead.
    QGuiApplication::clipboard()->setText(TooLong());
    form_->txtInterval()->selectAll();
    form_->txtInterval()->paste();
    QCOMPARE(form_->txtInterval()->text(), QStringLiteral("30"));
    QVERIFY(form_->IntervalProblem()->text().startsWith(QStringLiteral("Too long")));
    QCOMPARE(form_->Timer1().Interval(), 30);
  }

  // Requests from another process take the box's rules and the click's path,
  // and none acts once the window has stopped after an error.
  void requestsFromOutsideActAsTheWindowDoesUntilItStops() {
    form_->show();
    const std::string refused = form_->SetIntervalText("-5");
    QVERIFY(QString::fromStdString(refused).contains(QStringLiteral("negative")));
    QCOMPARE(form_->IntervalProblem()->text().toStdString(), refused);
    QCOMPARE(form_->SetIntervalText("250"), std::string());
    QCOMPARE(form_->Timer1().Interval(), 250);
    QVERIFY(form_->IntervalProblem()->isHidden());
    QVERIFY(form_->SetIntervalText(TooLong().toStdString()).starts_with("Too long"));
    QCOMPARE(form_->Timer1().Interval(), 250);

    form_->Start();
    QVERIFY(form_->Timer2().Enabled());
    QCOMPARE(form_->Sequencer().Count(), 4);
    form_->Toggle();
    QVERIFY(!form_->Busy());
    QCOMPARE(form_->Command1()->text(), QStringLiteral("Start"));
    form_->Toggle();
    QVERIFY(form_->Busy());
    form_->Stop();
    QVERIFY(!form_->Busy());

    form_->StopEverything();
    QVERIFY(!form_->Start().empty());
    QVERIFY(!form_->Toggle().empty());
    QVERIFY(!form_->Busy());
    QVERIFY(!form_->Timer2().Enabled());
    QVERIFY(!form_->SetIntervalText("300").empty());
    QCOMPARE(form_->txtInterval()->text(), QStringLiteral("250"));
  }

  // Right-click on the button or in the box (there after its edit actions)
  // offers the settings; a choice goes through the hook, and the menu and
  // the tooltip then show it.
  void theContextMenuChoosesThroughTheHook() {
    std::vector<std::pair<std::string, std::string>> chosen;
    form_->SetOnSettingChosen([&](const std::string& name, const std::string& text) {
      chosen.emplace_back(name, text);
      return form_->SetSetting(name, text);
    });
    form_->show();
    const auto item = [](QMenu& menu, const QString& sub, const QString& label) {
      QMenu* in = &menu;
      for (const QString& name : {sub, label}) {
        if (name.isEmpty()) continue;
        QAction* found = nullptr;
        for (QAction* action : in->actions()) {
          if (action->text().remove(u'&') == name) found = action;
        }
        if (found == nullptr || found->menu() == nullptr) return found;
        in = found->menu();
      }
      return static_cast<QAction*>(nullptr);
    };
    // The top-level labels of the menu that opens, after choosing sub > label.
    const auto right_click = [&](QWidget* on, const QString& sub, const QString& label) {
      QStringList top;
      QObject guard;  // no menu, no pick in a later test
      QTimer::singleShot(0, &guard, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu != nullptr);
        for (QAction* action : menu->actions())
          top << action->text().remove(u'&').section(u'\t', 0, 0);
        if (QAction* choice = item(*menu, sub, label)) choice->trigger();
        menu->close();
      });
      QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                              on->mapToGlobal(QPoint(5, 5)));
      QApplication::sendEvent(on, &click);
      return top;
    };
    right_click(form_->Command1(), QStringLiteral("Hold"), QStringLiteral("Until stopped"));
    QVERIFY(form_->Command1()->toolTip().startsWith(
        QStringLiteral("Holds the space bar until stopped")));
    const QStringList box =
        right_click(form_->txtInterval(), QStringLiteral("Key"), QStringLiteral("A"));
    QVERIFY(box.contains(QStringLiteral("Paste")) && box.contains(QStringLiteral("Countdown")));
    using Chosen = std::vector<std::pair<std::string, std::string>>;
    QCOMPARE(chosen, (Chosen{{"hold", "until-stopped"}, {"key", "A"}}));
    QVERIFY(form_->Command1()->toolTip().startsWith(QStringLiteral("Holds A until stopped")));

    form_->SetSetting("countdown", "7");
    QMenu menu;
    form_->AddSettingsTo(menu);
    QVERIFY(item(menu, QStringLiteral("Hold"), QStringLiteral("Until stopped"))->isChecked());
    QVERIFY(!item(menu, QStringLiteral("Hold"), QStringLiteral("Two intervals"))->isChecked());
    QVERIFY(item(menu, QStringLiteral("Key"), QStringLiteral("A"))->isChecked());
    QVERIFY(item(menu, QStringLiteral("Countdown"), QStringLiteral("Other (7 s)…"))->isChecked());
    QVERIFY(!item(menu, QString(), QStringLiteral("Stop now"))->isEnabled());

    // "Other…" asks without blocking the window: its close ends a hold.
    item(menu, QStringLiteral("Countdown"), QStringLiteral("Other (7 s)…"))->trigger();
    auto* other = form_->findChild<QInputDialog*>();
    QVERIFY(other != nullptr && other->isVisible());
    QCOMPARE(QGuiApplication::modalWindow(), nullptr);
    other->setTextValue(QStringLiteral(" 9 "));
    other->accept();
    QCOMPARE(chosen.back(), (std::pair<std::string, std::string>{"countdown", "9"}));
  }

  // A notice stays while refused entries come and go, and the two never
  // overlap or fall outside the window; one source's goes alone.
  void aNoticeAndARefusedEntryStackBelowTheControls() {
    form_->show();
    const int height = form_->height();
    form_->ShowNotice("keys", "Keystrokes go through Xwayland, so only X11 programs receive them.");
    QVERIFY(form_->Notice()->isVisible());
    QVERIFY(form_->height() > height);
    const int with_notice = form_->height();
    form_->txtInterval()->setText(QStringLiteral("-1"));
    const QRect notice = form_->Notice()->geometry();
    const QRect problem = form_->IntervalProblem()->geometry();
    QVERIFY(notice.bottom() < problem.top());
    QVERIFY(notice.top() >= form_->Command1()->geometry().bottom());
    QVERIFY(problem.bottom() < form_->height());
    form_->txtInterval()->setText(QStringLiteral("40"));
    QVERIFY(form_->Notice()->isVisible());
    QCOMPARE(form_->height(), with_notice);
    form_->ShowNotice("hotkey", "F8 is taken.");
    form_->ShowNotice("keys", "");
    QCOMPARE(form_->Notice()->text(), QStringLiteral("F8 is taken."));
    form_->ShowNotice("hotkey", "");
    QCOMPARE(form_->height(), height);
  }

  // An error in a handler stops the timers and releases the held key before
  // the user is told, and only then ends the program.
  void aFatalErrorReleasesTheHeldKeyFirst() {
    // A back end that takes one key-down and fails on the next, as a lost
    // connection would.
    struct FailsSecondPress final : ki::KeystrokeBackend {
      std::shared_ptr<ki::RecordingBackend::Log> log;
      explicit FailsSecondPress(std::shared_ptr<ki::RecordingBackend::Log> l) : log(std::move(l)) {}
      void KeyDown(std::uint8_t vk) override {
        if (!log->empty()) throw rt::Error(rt::ErrorNumber::kInternal, "connection lost");
        log->push_back({vk, true, {}});
      }
      void KeyUp(std::uint8_t vk) override { log->push_back({vk, false, {}}); }
      std::string_view Name() const override { return "fails"; }
    };
    ki::InstallModule1([log = log_] { return std::make_unique<FailsSecondPress>(log); });
    QStringList steps;
    rt::SetFatalPolicy({
        .cleanup =
            [&] {
              form_->StopEverything();
              ki::TheModule1().ReleaseHeldKeys();
              steps << QStringLiteral("released %1").arg(log_->size());
            },
        .report = [&](const rt::Error& e) { steps << QString::fromStdString(rt::Describe(e)); },
        .exit = [&](int s) { steps << QStringLiteral("exit %1").arg(s); },
    });
    form_->show();
    ki::PressKey(32);  // a key held when the error comes
    QTest::mouseClick(form_->Command1(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(steps.size() == 3, 10000);  // the countdown's key-down fails
    QCOMPARE(steps.at(0), QStringLiteral("released 2"));
    QCOMPARE(steps.at(1), QStringLiteral("Error 51: connection lost"));
    QCOMPARE(steps.at(2), QStringLiteral("exit 1"));
    QVERIFY(!log_->back().down);
    QVERIFY(!ki::TheModule1().IsHeld(32));
    QVERIFY(!form_->Timer1().Enabled());
    QVERIFY(!form_->Timer2().Enabled());
    QVERIFY(!form_->isEnabled());
  }
};

QTEST_MAIN(Form1Test)
#include "form1_test.moc"
