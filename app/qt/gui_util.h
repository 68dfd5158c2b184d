// Small helpers the window and its dialogs share.
#ifndef KVR_APP_QT_GUI_UTIL_H_
#define KVR_APP_QT_GUI_UTIL_H_

#include <QString>
#include <string>

class QWidget;

namespace kvr {

inline QString Q(const std::string& s) { return QString::fromStdString(s); }

// "1 problem", "3 notices".

// Sizes `window` to `width` x `height` (logical pixels) or, where the screen
// it opens on is smaller (a small screen, a large scale), to what the screen
// has room for, and keeps it on that screen.
void FitToScreen(QWidget* window, int width, int height);

}  // namespace kvr

#endif  // KVR_APP_QT_GUI_UTIL_H_
