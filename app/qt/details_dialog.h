// The details of what the last run did, drawn from its record: the inputs
// and output folder, the problems and notices grouped (the selected one shown
// in full below the list), the files, the changes per table; "Open folder"
// and "Save report", each saying what became of it.
#ifndef KVR_APP_QT_DETAILS_DIALOG_H_
#define KVR_APP_QT_DETAILS_DIALOG_H_

#include <QDialog>

#include "app/core/run_record.h"

class QLabel;
class QTreeWidget;
class QVBoxLayout;

namespace kvr {

class DetailsDialog : public QDialog {
  Q_OBJECT

 public:
  explicit DetailsDialog(const RunRecord& run, QWidget* parent = nullptr);

  // Writes the report as text to `path` and as JSON beside it; says where
  // (or why not) under the buttons. Returns why it could not, or "".
  QString SaveReportTo(const QString& path);
  // Opens the output folder in the desktop's file manager; says so under
  // the buttons when it cannot.
  void OpenFolder();

 private:
  QTreeWidget* Reports();
  QTreeWidget* Files();
  QTreeWidget* Changes();
  void AddButtons(QVBoxLayout* layout);

  RunRecord run_;  // a copy: the window goes on to its next run
  QLabel* said_;   // what Save report or Open folder did
};

}  // namespace kvr

#endif  // KVR_APP_QT_DETAILS_DIALOG_H_
