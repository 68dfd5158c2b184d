// The window's tests and the dialogs' tests in one program, headless
// (QT_QPA_PLATFORM=offscreen).
#include <QApplication>

namespace kvr::testing {
int RunMainWindowTests(int argc, char** argv);
int RunDialogTests(int argc, char** argv);
}  // namespace kvr::testing

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const int window = kvr::testing::RunMainWindowTests(argc, argv);
  const int dialogs = kvr::testing::RunDialogTests(argc, argv);
  return window != 0 ? window : dialogs;
}
