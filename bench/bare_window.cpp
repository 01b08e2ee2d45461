// The floor for start-up and memory: a bare Qt Widgets window with the same
// controls as Tollmere's and nothing behind them, timed like it (a
// `trace <ms> first-paint` line on standard error at its first paint).
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <cstdio>
#include <ctime>

namespace {

class Window final : public QWidget {
 protected:
  void paintEvent(QPaintEvent*) override {
    if (painted_) return;
    painted_ = true;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::fprintf(stderr, "trace %.3f first-paint\n",
                 static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6);
    std::fflush(stderr);
  }

 private:
  bool painted_ = false;
};

}  // namespace

int main(int, char** argv) {
  int qt_argc = 1;
  QApplication app(qt_argc, argv);
  Window window;
  window.setWindowTitle(QStringLiteral("Bare Qt window"));
  window.resize(196, 59);
  auto* box = new QLineEdit(&window);
  box->setGeometry(8, 24, 81, 19);
  (new QPushButton(QStringLiteral("Start"), &window))->setGeometry(104, 16, 81, 33);
  box->setFocus();
  window.show();
  return QApplication::exec();
}
