#include "window/qt/form1.h"

#include <QActionGroup>
#include <QApplication>
#include <QContextMenuEvent>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPalette>
#include <QPushButton>
#include <QShortcut>
#include <QValidator>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "key_injection/module1.h"
#include "runtime/fatal.h"
#include "runtime/trace.h"
#include "window/settings_menu.h"

namespace tollmere::window::qt {

namespace hs = tollmere::hold_sequencer;
namespace rt = tollmere::runtime;
using runtime::Quoted;
using runtime::Trace;

namespace {

// Why a request is refused while the error dialog is up.
constexpr const char* kClosing = "Tollmere is closing after an error.";

// Refuses an edit (typing, a paste, a drop) that would leave the box longer
// than it holds; the box then keeps its text. The box itself takes one
// character more, so that a longer paste still arrives here too long
// instead of cut to fit without a word.
class LengthLimit final : public QValidator {
 public:
  LengthLimit(QObject* parent, std::function<void()> refused)
      : QValidator(parent), refused_(std::move(refused)) {}
  State validate(QString& input, int& /*pos*/) const override {
    if (input.size() <= hs::kTxtIntervalMaxLength) return Acceptable;
    refused_();
    return Invalid;
  }

 private:
  std::function<void()> refused_;
};

QString Latin(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

Form1::Form1(double logical_dpi)
    : txt_interval_(new QLineEdit(this)),
      command1_(new QPushButton(QStringLiteral("Start"), this)),
      problem_(new QLabel(this)),
      notice_(new QLabel(this)),
      sequencer_(*this, *this) {
  const PixelRect client = ToPixels(kClientArea, logical_dpi, logical_dpi);
  const PixelRect box = ToPixels(kTxtInterval, logical_dpi, logical_dpi);
  const PixelRect button = ToPixels(kCommand1, logical_dpi, logical_dpi);
  setWindowTitle(QStringLiteral("Tollmere"));
  client_height_ = client.height;
  resize(client.width, client_height_);

  txt_interval_->setObjectName(QStringLiteral("txtInterval"));
  txt_interval_->setGeometry(box.x, box.y, box.width, box.height);
  command1_->setObjectName(QStringLiteral("Command1"));
  command1_->setGeometry(button.x, button.y, button.width, button.height);
  setTabOrder(txt_interval_, command1_);

  // What a first-time user, and a screen reader, needs to know: the box
  // stays empty (interval 0) until something is typed.
  txt_interval_->setPlaceholderText(QStringLiteral("interval, ms"));
  txt_interval_->setToolTip(
      QStringLiteral("How long each half of the hold lasts, in milliseconds; the space bar is "
                     "held for two of them"));
  txt_interval_->setAccessibleName(QStringLiteral("Interval in milliseconds"));
  txt_interval_->setAccessibleDescription(
      QStringLiteral("Half the time the space bar is held, in milliseconds"));
  command1_->setAccessibleName(QStringLiteral("Start"));
  DescribeCommand1();
  command1_->installEventFilter(this);
  txt_interval_->installEventFilter(this);

  // The caret stops blinking after a while without input, as desktop
  // toolkits do, so that a window left open does not wake the machine twice
  // a second for nothing; the next key or click in the box starts it again.
  caret_flash_ms_ = QApplication::cursorFlashTime();
  caret_rest_.setSingleShot(true);
  caret_rest_.setInterval(kCaretBlinksForMs);
  QObject::connect(&caret_rest_, &QTimer::timeout, [] { QApplication::setCursorFlashTime(0); });

  // Room below the controls for a notice and a refused entry's reason; the
  // window grows to show them only while there are any.
  for (QLabel* label : {notice_, problem_}) {
    label->setWordWrap(true);
    label->setGeometry(box.x, client_height_, client.width - 2 * box.x, 0);
    label->hide();
  }
  notice_->setObjectName(QStringLiteral("lblNotice"));
  problem_->setObjectName(QStringLiteral("lblIntervalProblem"));
  // A palette rather than a style sheet, which would cost start-up a style
  // of its own.
  QPalette red = problem_->palette();
  red.setColor(QPalette::WindowText, QColor(0xb0, 0x00, 0x20));
  problem_->setPalette(red);

  txt_interval_->setMaxLength(hs::kTxtIntervalMaxLength + 1);
  txt_interval_->setValidator(new LengthLimit(
      txt_interval_, [this] { rt::RunHandler([this] { sequencer_.RefuseLongText(); }); }));
  QObject::connect(txt_interval_, &QLineEdit::textChanged,
                   [this] { rt::RunHandler([this] { sequencer_.txtInterval_Change(); }); });
  QObject::connect(command1_, &QPushButton::clicked, [this] {
    // The countdown's zero, for whoever times its ticks from the trace.
    Trace("click");
    rt::RunHandler([this] { sequencer_.Command1_Click(); });
  });
  timer2_.SetOnTick([this] { rt::RunHandler([this] { sequencer_.Timer2_Timer(); }); });
  timer1_.SetOnTick([this] { rt::RunHandler([this] { sequencer_.Timer1_Timer(); }); });

  // Qt opens the context menu for the Menu key; Shift+F10, which other
  // desktops' programs take as the same, opens it too, where the focus is.
  auto* menu_key = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), this);
  QObject::connect(menu_key, &QShortcut::activated, [this] {
    QWidget* on = focusWidget() != nullptr ? focusWidget() : this;
    const QPoint centre = on->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Keyboard, centre, on->mapToGlobal(centre));
    QApplication::sendEvent(on, &event);
  });

  txt_interval_->setFocus();
}

void Form1::Form_Load() { LoadKeystroke(); }

void Form1::LoadKeystroke() {
  key_injection::PressKey(hs::kSpaceKey);
  Trace("key-down " + std::to_string(hs::kSpaceKey));
  if (const auto* backend = key_injection::TheModule1().Backend()) {
    Trace("backend " + Quoted(std::string(backend->Name())));
  }
  // Completed at once: a key left down would autorepeat into whichever
  // window has the focus.
  key_injection::ReleaseKey(hs::kSpaceKey);
  Trace("key-up " + std::to_string(hs::kSpaceKey));
}

void Form1::paintEvent(QPaintEvent* event) {
  // The moment the user first sees the window: the end of start-up, for
  // whoever times it from the trace.
  if (!painted_) {
    painted_ = true;
    Trace("first-paint");
  }
  QWidget::paintEvent(event);
}

void Form1::WakeCaret() {
  if (QApplication::cursorFlashTime() != caret_flash_ms_)
    QApplication::setCursorFlashTime(caret_flash_ms_);
  caret_rest_.start();
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == txt_interval_) {
    // The box keeps its edit actions; the settings follow them.
    if (event->type() == QEvent::ContextMenu) {
      const std::unique_ptr<QMenu> menu(txt_interval_->createStandardContextMenu());
      menu->addSeparator();
      AddSettingsTo(*menu);
      menu->exec(static_cast<QContextMenuEvent*>(event)->globalPos());
      return true;
    }
    // Tollmere's own keystrokes never edit the box: a held digit would
    // repeat into the interval of the very hold that sends it.
    if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) &&
        key_injection::TheModule1().HoldsKeysym(
            static_cast<QKeyEvent*>(event)->nativeVirtualKey())) {
      return true;
    }
    switch (event->type()) {
      case QEvent::FocusIn:
      case QEvent::KeyPress:
      case QEvent::MouseButtonPress:
      case QEvent::InputMethod: WakeCaret(); break;
      default: break;
    }
    return QWidget::eventFilter(watched, event);
  }
  // While our own space is down, the X server's autorepeat sends the focused
  // button release-and-press pairs, which Qt does not reliably mark as
  // repeats: each would click "Start" again in the middle of the hold, and
  // a hold longer than the repeat delay would never end. The one real
  // release reaches the button after ReleaseKey, when the key is no longer
  // held.
  const bool space = watched == command1_ &&
                     (event->type() == QEvent::KeyRelease || event->type() == QEvent::KeyPress) &&
                     static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space;
  if (space && key_injection::TheModule1().IsHeld(hs::kSpaceKey)) {
    return event->type() == QEvent::KeyRelease || command1_->isDown();
  }
  // After a stop: the repeats still queued and the stop's own release.
  if (space && swallow_space_) {
    if (event->type() == QEvent::KeyRelease && !static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
      swallow_space_ = false;
    }
    return true;
  }
  if (watched == command1_ && event->type() == QEvent::FocusOut) swallow_space_ = false;
  return QWidget::eventFilter(watched, event);
}

void Form1::StopEverything() {
  timer1_.SetEnabled(false);
  timer2_.SetEnabled(false);
  setEnabled(false);
}

std::string Form1::Start() {
  if (!isEnabled()) return kClosing;
  std::string refusal;
  rt::RunHandler([this, &refusal] { refusal = sequencer_.Start(); });
  return refusal;
}

std::string Form1::Stop() {
  return Ending([this] { sequencer_.Stop(); });
}

std::string Form1::Toggle() {
  std::string refusal;
  const std::string closing = Ending([this, &refusal] { refusal = sequencer_.Toggle(); });
  return closing.empty() ? refusal : closing;
}

std::string Form1::Ending(const std::function<void()>& request) {
  if (!isEnabled()) return kClosing;
  const bool pressed_by_us =
      command1_->isDown() && key_injection::TheModule1().IsHeld(hs::kSpaceKey);
  rt::RunHandler(request);
  // The release that a stop sends reaches the focused button like a typed
  // space and would click it: a stop must stop.
  if (pressed_by_us && !key_injection::TheModule1().IsHeld(hs::kSpaceKey)) {
    swallow_space_ = true;
    command1_->setDown(false);
  }
  return {};
}

void Form1::Activate(const std::string& token) {
  // Qt hands the launcher's token to the Wayland desktop, which otherwise
  // may refuse the focus to a window nobody just clicked.
  if (!token.empty()) qputenv("XDG_ACTIVATION_TOKEN", QByteArray::fromStdString(token));
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
  Trace("activate");
}

std::string Form1::SetIntervalText(const std::string& text) {
  if (!isEnabled()) return kClosing;
  if (std::string refusal = sequencer_.RefuseIntervalRequest(text); !refusal.empty())
    return refusal;
  // The change handler runs inside setText, as for typing; the same text
  // again changes nothing and leaves the current message.
  txt_interval_->setText(QString::fromStdString(text));
  return problem_->isHidden() ? std::string() : problem_->text().toStdString();
}

std::string Form1::SetSetting(const std::string& name, const std::string& text) {
  if (!isEnabled()) return kClosing;
  const std::string refusal = sequencer_.SetSetting(name, text);
  if (!refusal.empty()) return Refuse(refusal);
  ShowNotice("settings", "");
  DescribeCommand1();
  Trace("setting " + name + " " + Quoted(Setting(name)));
  return {};
}

std::string Form1::Setting(const std::string& name) const {
  return hs::SettingText(sequencer_.Settings(), name);
}

std::string Form1::Refuse(const std::string& why) {
  ShowNotice("settings", why);
  return why;
}

void Form1::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  AddSettingsTo(menu);
  menu.exec(event->globalPos());
}

void Form1::AddSettingsTo(QMenu& menu) {
  for (const MenuSetting& setting : kSettingsMenu) {
    QMenu* sub = menu.addMenu(Latin(setting.label));
    auto* group = new QActionGroup(sub);
    const std::string name(setting.name);
    const std::string now = Setting(name);
    bool offered = false;
    for (const MenuChoice& choice : setting.choices) {
      QAction* item = sub->addAction(Latin(choice.label));
      item->setCheckable(true);
      item->setActionGroup(group);
      item->setChecked(InForce(choice, now));
      offered = offered || item->isChecked();
      QObject::connect(item, &QAction::triggered,
                       [this, name, text = std::string(choice.text)] { Choose(name, text); });
    }
    if (setting.prompt.empty()) continue;
    QAction* other = sub->addAction(QString::fromStdString(OtherLabel(setting, now, offered)));
    other->setCheckable(true);
    other->setActionGroup(group);
    other->setChecked(!offered);
    QObject::connect(other, &QAction::triggered, [this, name, now, &setting] {
      auto* dialog = new QInputDialog(this);
      dialog->setAttribute(Qt::WA_DeleteOnClose);
      // Not modal: a modal dialog keeps the window's close from it, and a
      // close ends the hold whatever is open.
      dialog->setWindowModality(Qt::NonModal);
      dialog->setWindowTitle(QStringLiteral("Tollmere"));
      dialog->setLabelText(Latin(setting.prompt));
      dialog->setTextValue(QString::fromStdString(now));
      QObject::connect(dialog, &QInputDialog::textValueSelected, this,
                       [this, name](const QString& value) {
                         const QString text = value.trimmed();
                         if (!text.isEmpty()) Choose(name, text.toStdString());
                       });
      dialog->show();
    });
  }
  menu.addSeparator();
  QAction* stop = menu.addAction(Latin(kStopNowLabel), [this] { Stop(); });
  stop->setEnabled(Busy());
}

void Form1::Choose(const std::string& name, const std::string& text) {
  if (setting_chosen_) {
    setting_chosen_(name, text);
  } else {
    SetSetting(name, text);
  }
}

void Form1::DescribeCommand1() {
  const QString what = QString::fromStdString(hs::Describe(sequencer_.Settings()));
  command1_->setToolTip(what + QStringLiteral(" Right-click the window to change this."));
  command1_->setAccessibleDescription(what);
}

void Form1::SetCommand1Caption(const std::string& caption) {
  command1_->setText(QString::fromStdString(caption));
  Trace("caption " + Quoted(caption));
}

QtTimer& Form1::TimerFor(hs::TimerId timer) {
  return timer == hs::TimerId::kTimer1 ? timer1_ : timer2_;
}

void Form1::SetTimerEnabled(hs::TimerId timer, bool enabled) {
  TimerFor(timer).SetEnabled(enabled);
}

void Form1::SetTimer1Interval(std::int32_t interval_ms) {
  timer1_.SetInterval(interval_ms);
  Trace("interval " + std::to_string(interval_ms));
}

std::string Form1::TxtIntervalText() { return txt_interval_->text().toStdString(); }

void Form1::ShowIntervalProblem(const std::string& message) {
  if (message.empty()) {
    if (problem_->isHidden()) return;
    problem_->hide();
    problem_->clear();
    LayOutMessages();
    Trace("interval-ok");
    return;
  }
  problem_->setText(QString::fromStdString(message));
  problem_->show();
  LayOutMessages();
  Trace("interval-problem " + Quoted(message));
}

void Form1::ShowNotice(const std::string& source, const std::string& message) {
  if (message.empty()) {
    notices_.erase(source);
  } else {
    notices_[source] = message;
  }
  QStringList texts;
  for (const auto& notice : notices_) texts << QString::fromStdString(notice.second);
  notice_->setText(texts.join(QStringLiteral("\n\n")));
  notice_->setVisible(!notices_.empty());
  LayOutMessages();
}

void Form1::LayOutMessages() {
  const int gap = TwipsToPixels(kMessageGapTwips, logicalDpiY());
  int bottom = client_height_;
  for (QLabel* label : {notice_, problem_}) {
    if (label->isHidden()) continue;
    label->setGeometry(label->x(), bottom, label->width(), label->heightForWidth(label->width()));
    bottom += label->height() + gap;
  }
  // Only what this grew by is given back: a size the user chose stays.
  const int needed = bottom == client_height_ ? 0 : bottom - client_height_;
  if (needed > grown_by_ && height() < client_height_ + needed) {
    const int more = client_height_ + needed - height();
    grown_by_ += more;
    ResizeForMessages(height() + more);
  } else if (needed < grown_by_) {
    ResizeForMessages(height() - (grown_by_ - needed));
    grown_by_ = needed;
  }
}

void Form1::ResizeForMessages(int new_height) {
  replaced_height_ = height();
  asked_height_ = new_height;
  resized_at_.start();
  resize(width(), new_height);
}

void Form1::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Trace("size " + std::to_string(width()) + "x" + std::to_string(height()));
  // A compositor may answer with the size it knew before: mutter does when it
  // gives the window the focus back from the portal's dialog just as a notice
  // leaves. A floating window's size is the window's own to choose, so ask
  // again, once the configure is done; a user's resize is not so quick.
  constexpr qint64 kStaleWithinMs = 1000;
  if (height() == replaced_height_ && height() != asked_height_ &&
      resized_at_.elapsed() < kStaleWithinMs) {
    QTimer::singleShot(0, this, [this] { resize(width(), asked_height_); });
  }
}

void Form1::changeEvent(QEvent* event) {
  // Where the keyboard is decides where a hold's keys go.
  if (event->type() == QEvent::ActivationChange) Trace(isActiveWindow() ? "active" : "inactive");
  QWidget::changeEvent(event);
}

void Form1::PressKey(std::int32_t key_code) {
  if (before_key_down_) before_key_down_();
  key_injection::PressKey(key_code);
  Trace("key-down " + std::to_string(key_code));
}

void Form1::ReleaseKey(std::int32_t key_code) {
  key_injection::ReleaseKey(key_code);
  Trace("key-up " + std::to_string(key_code));
}

void Form1::PrepareKeys() { key_injection::PrepareKeys(); }

std::string Form1::KeyProblem(std::int32_t key_code) {
  return key_injection::TheModule1().KeyProblem(key_code);
}

}  // namespace tollmere::window::qt
