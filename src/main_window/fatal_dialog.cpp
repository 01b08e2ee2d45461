#include "main_window/fatal_dialog.h"

#include <QMessageBox>
#include <cstdio>

namespace tollmere::main_window {

void ShowFatalDialog(QWidget* parent, const runtime::Error& error) {
  const std::string described = runtime::Describe(error);
  std::fprintf(stderr, "tollmere: %s\n", described.c_str());
  QMessageBox::critical(
      parent, QStringLiteral("Tollmere"),
      QStringLiteral("Tollmere has to stop.\n\n%1\n\nNo key is left held down.")
          .arg(QString::fromStdString(described)));
}

}  // namespace tollmere::main_window
