// The preview of a conversion's changes before they are kept: counts per
// table, a filter, the changes one per row, Apply or Cancel. A large plant
// makes over a million changes: the table shows them without copying, and
// filtering and sorting run on a thread of their own, so the window answers
// every keystroke at once and shows the result when it is ready.
#ifndef KVR_APP_QT_PREVIEW_DIALOG_H_
#define KVR_APP_QT_PREVIEW_DIALOG_H_

#include <QDialog>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/core/change_search.h"
#include "tables/switcher_database.h"

class QLabel;
class QLineEdit;
class QTableView;

namespace kvr {

class ChangesModel;

// Shows `changes` without copying them: they must outlive the dialog.
class PreviewDialog : public QDialog {
  Q_OBJECT

 public:
  PreviewDialog(const ChangeList& changes, const std::map<std::string, ChangeCount>& counts,
                QWidget* parent = nullptr);
  ~PreviewDialog() override;

  // Shows only the changes whose table, key, field or values hold `text`
  // (as typing it into the filter does); the rows follow once selected.
  void Filter(const QString& text);
  // The rows shown now.
  int ShownCount() const;
  // A filter or sort is still being worked out.
  bool Selecting() const;

 signals:
  // The rows of the latest filter and sort are shown.
  void selectionShown();

 private:
  void Select();
  void Shown(std::uint64_t generation);
  // The table of changes, sorted by a click on a heading (again: the other way).
  QTableView* ChangesView();

  ChangesModel* model_;
  QTableView* sort_view_ = nullptr;  // its heading holds the order asked for
  std::unique_ptr<ChangeSelector> worker_;
  QLineEdit* filter_;
  QLabel* shown_;
  int total_;
  std::uint64_t asked_ = 0;  // the latest selection asked for
  std::uint64_t shown_generation_ = 0;
};

}  // namespace kvr

#endif  // KVR_APP_QT_PREVIEW_DIALOG_H_
