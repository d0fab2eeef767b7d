#include <QApplication>
#include <QScreen>

#include "app/app_icon.h"
#include "app/form1_qt.h"

int main(int argc, char** argv) {
  velmora::RaiseOpenFileLimit();
  QApplication app(argc, argv);
  app.setWindowIcon(velmora::AppIcon());
  velmora::Form1 form(velmora::GameFolder::Current());
  form.setWindowIcon(velmora::AppIcon());
  if (const QScreen* screen = app.primaryScreen())
    form.move(screen->availableGeometry().center() - form.rect().center());
  form.show();
  return app.exec();
}
