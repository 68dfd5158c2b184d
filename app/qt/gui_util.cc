#include "app/qt/gui_util.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace kvr {

void FitToScreen(QWidget* window, int width, int height) {
  const QWidget* anchor = window->parentWidget() != nullptr ? window->parentWidget()->window() : window;
  QScreen* screen = anchor->screen() != nullptr ? anchor->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) {
    window->resize(width, height);
    return;
  }
  // Room for the frame and title bar the window manager adds.
  const QRect room = screen->availableGeometry().adjusted(8, 40, -8, -8);
  const QSize size(std::min(width, room.width()), std::min(height, room.height()));
  window->setMaximumSize(room.size());
  window->resize(size);
  QRect placed(window->pos(), size);
  if (anchor != window) placed.moveCenter(anchor->geometry().center());
  placed.moveLeft(std::clamp(placed.left(), room.left(), std::max(room.left(), room.right() - size.width())));
  placed.moveTop(std::clamp(placed.top(), room.top(), std::max(room.top(), room.bottom() - size.height())));
  window->move(placed.topLeft());
}

}  // namespace kvr
