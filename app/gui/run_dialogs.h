// The window's two views of a run: the details of what the last run did
// (files, database changes, problems and notices, with "Open folder" and
// "Save report"), and the preview of a conversion's changes before they are
// kept (Apply or Cancel).
#ifndef KVR_APP_GUI_RUN_DIALOGS_H_
#define KVR_APP_GUI_RUN_DIALOGS_H_

#include <QDialog>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "app/core/report.h"

class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QTreeWidget;

namespace kvr {

// A run as the window keeps it for the details view.
struct RunRecord {
  RunInputs inputs;
  RunResult result;
  int exit_status = 0;
  std::chrono::system_clock::time_point when;
  bool output_fell_back = false;  // the program's folder took no files: outputs went to the user's folder
};

// The one line under the status after a run: its counts and "- details".
QString DetailsLine(const RunRecord& run);

class DetailsDialog : public QDialog {
  Q_OBJECT

 public:
  DetailsDialog(const RunRecord& run, QWidget* parent = nullptr);

  // Writes the report as text to `path` and as JSON beside it (the same
  // name ending ".json"). Returns why it could not, or "".
  QString SaveReportTo(const QString& path) const;

 private:
  void AddFiles(QTreeWidget* files) const;
  void AddChanges(QTreeWidget* changes) const;
  void AddReports(QTreeWidget* reports) const;
  RunRecord run_;  // a copy: the window goes on to its next run
};

// Shows `changes` without copying them: they must outlive the dialog.
class PreviewDialog : public QDialog {
  Q_OBJECT

 public:
  PreviewDialog(const std::vector<FieldChange>& changes, const std::map<std::string, ChangeCount>& counts,
                QWidget* parent = nullptr);

  // Shows only the changes whose table, key, field or values hold `text`.
  void Filter(const QString& text);
  int ShownCount() const;

 private:
  QSortFilterProxyModel* proxy_;
  QLineEdit* filter_;
  QLabel* shown_;
  int total_;
};

}  // namespace kvr

#endif  // KVR_APP_GUI_RUN_DIALOGS_H_
