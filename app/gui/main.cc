#include <QApplication>
#include <QScreen>
#include <QTimer>
#include <clocale>
#include <csignal>
#include <cstdlib>

#include "app/gui/main_window.h"

int main(int argc, char** argv) {
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");  // number texts never follow the desktop's locale
  kvr::MainWindow window;
  window.show();
  // KVR_SCREENSHOT=FILE.png: save a picture of the screen once the window is
  // up, then quit (scripts/screenshot-gui.sh uses it under Xvfb).
  if (const char* shot = std::getenv("KVR_SCREENSHOT")) {
    QTimer::singleShot(800, &window, [&window, path = QString::fromLocal8Bit(shot)] {
      const QRect frame = window.frameGeometry().adjusted(-8, -8, 8, 8);
      window.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).save(path);
      QApplication::quit();
    });
  }
  return app.exec();
}
