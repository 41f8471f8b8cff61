// quillmore: the desktop program. Optional argument: a drive image to open
// and select.
#include <QApplication>

#include "platform/system.h"
#include "ui/app_ui.h"
#include "ui/main_frame.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("Quillmore");
  QApplication::setApplicationVersion("1.0");
  QApplication::setQuitOnLastWindowClosed(false);
  CAppUi app;
  if (!app.Start(QApplication::arguments().mid(1), qm::HasDiskAccessRights)) return 0;
  return QApplication::exec();
}
