#include <QApplication>
#include <QScreen>
#include <QTimer>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>

#include "app/core/window_help.h"
#include "base/allocator.h"
#include "app/qt/main_window.h"

int main(int argc, char** argv) {
  // The window takes no options; these two answer without opening it.
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--version") {
      std::cout << "kvrconversion-gui " << KVR_VERSION << '\n';
      return 0;
    }
    if (arg == "--help" || arg == "-h") {
      std::cout << "Usage: kvrconversion-gui [--version | --help]\n\n" << kvr::kWindowHelp << '\n';
      return 0;
    }
  }
  std::signal(SIGXFSZ, SIG_IGN);
  kvr::LimitAllocatorArenas();  // before Qt or a run starts a thread
  QApplication app(argc, argv);
  QCoreApplication::setOrganizationName("KVR Conversion");
  QCoreApplication::setApplicationName("KVR Conversion");
  std::setlocale(LC_NUMERIC, "C");  // number texts never follow the desktop's locale
  kvr::MainWindow window;
  window.show();
  window.activateWindow();  // focus from the start, with or without a window manager
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
