#include "window/qt/fatal_dialog.h"

#include <QMessageBox>
#include <cstdio>

namespace tollmere::window::qt {

void ShowFatalDialog(QWidget* parent, const runtime::Error& error) {
  const std::string described = runtime::Describe(error);
  std::fprintf(stderr, "tollmere: %s\n", described.c_str());
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Tollmere"),
                  QStringLiteral("Tollmere has to stop.\n\n%1\n\nNo key is left held down.")
                      .arg(QString::fromStdString(described)),
                  QMessageBox::Ok, parent);
  // The reason often carries a command to run: let the user copy it.
  box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  box.exec();
}

}  // namespace tollmere::window::qt
