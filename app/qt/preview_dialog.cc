#include "app/qt/preview_dialog.h"

#include <QAbstractTableModel>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "app/core/change_search.h"
#include "app/core/report.h"
#include "app/qt/gui_util.h"

namespace kvr {

using Rows = ChangeSelector::Rows;

// One row per change shown: table, key, field, old and new, made into text
// only when painted. The rows shown are indices into the changes (all of
// them, as made, until a filter or sort says otherwise).
class ChangesModel : public QAbstractTableModel {
 public:
  ChangesModel(const ChangeList& changes, QObject* parent)
      : QAbstractTableModel(parent), changes_(changes) {}

  void Show(Rows rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
  }
  int rowCount(const QModelIndex& parent) const override {
    if (parent.isValid()) return 0;
    return static_cast<int>(rows_ ? rows_->size() : changes_.size());
  }
  int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : kChangeColumns; }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    const auto row = static_cast<std::size_t>(index.row());
    const FieldChange& c = changes_[rows_ ? (*rows_)[row] : row];
    return Q(ChangeCellText(c, static_cast<ChangeColumn>(index.column())));
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= kChangeColumns) return {};
    return kChangeColumnNames[section];
  }

 private:
  const ChangeList& changes_;
  Rows rows_;
};

namespace {

// What is about to change, table by table.
QLabel* CountsLabel(const std::map<std::string, ChangeCount>& counts, QWidget* parent) {
  auto* heading = new QLabel(Q(PreviewHeading(counts)), parent);
  heading->setObjectName("counts");
  heading->setWordWrap(true);
  return heading;
}

// Apply and Cancel, Cancel the default: Enter never applies by accident.
QDialogButtonBox* ApplyOrCancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(dialog);
  QPushButton* apply = buttons->addButton("Apply", QDialogButtonBox::AcceptRole);
  apply->setObjectName("apply");
  QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
  cancel->setObjectName("cancel");
  cancel->setDefault(true);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

}  // namespace

PreviewDialog::PreviewDialog(const ChangeList& changes, const std::map<std::string, ChangeCount>& counts,
                             QWidget* parent)
    : QDialog(parent), total_(static_cast<int>(changes.size())) {
  setObjectName("previewDialog");
  setWindowTitle("Preview of the database changes");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(CountsLabel(counts, this));

  filter_ = new QLineEdit(this);
  filter_->setObjectName("filter");
  filter_->setPlaceholderText("Filter: table, key, field or value");
  filter_->setClearButtonEnabled(true);
  layout->addWidget(filter_);

  model_ = new ChangesModel(changes, this);
  sort_view_ = ChangesView();
  layout->addWidget(sort_view_);
  shown_ = new QLabel(this);
  shown_->setObjectName("shown");
  layout->addWidget(shown_);
  layout->addWidget(ApplyOrCancel(this));

  // Rows arrive from the worker's thread and are shown on the window's.
  worker_ = std::make_unique<ChangeSelector>(changes, [this](Rows rows, std::uint64_t generation) {
    QMetaObject::invokeMethod(
        this, [this, rows = std::move(rows), generation]() mutable {
          if (generation != asked_) return;  // a later query is on its way
          model_->Show(std::move(rows));
          Shown(generation);
        },
        Qt::QueuedConnection);
  });
  connect(filter_, &QLineEdit::textChanged, this, [this] { Select(); });
  shown_->setText(QString("%1 of %2 changes shown").arg(total_).arg(total_));
  FitToScreen(this, 760, 480);
}

QTableView* PreviewDialog::ChangesView() {
  auto* view = new QTableView(this);
  view->setObjectName("changes");
  view->setModel(model_);
  view->horizontalHeader()->setSortIndicatorShown(false);  // as made, until a heading is clicked
  view->horizontalHeader()->setSectionsClickable(true);
  connect(view->horizontalHeader(), &QHeaderView::sectionClicked, this, [this, view](int section) {
    QHeaderView* header = view->horizontalHeader();
    const bool again = header->isSortIndicatorShown() && header->sortIndicatorSection() == section;
    const Qt::SortOrder order =
        again && header->sortIndicatorOrder() == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    header->setSortIndicatorShown(true);
    header->setSortIndicator(section, order);
    Select();
  });
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setTabKeyNavigation(false);  // Tab leaves the table, as everywhere else
  view->setWordWrap(false);
  view->verticalHeader()->hide();
  view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
  view->horizontalHeader()->setStretchLastSection(true);
  // Wide enough for the longest table name and key; values take the rest.
  for (int c = 0; c < kChangeColumns - 1; ++c) {
    view->setColumnWidth(c, view->fontMetrics().horizontalAdvance("LocationAlphas") + 16);
  }
  return view;
}

PreviewDialog::~PreviewDialog() = default;

void PreviewDialog::Select() {
  ChangeQuery query;
  query.filter = filter_->text().toStdString();
  const QHeaderView* header = sort_view_->horizontalHeader();
  if (header->isSortIndicatorShown()) {
    query.sort_column = static_cast<ChangeColumn>(header->sortIndicatorSection());
    query.descending = header->sortIndicatorOrder() == Qt::DescendingOrder;
  }
  shown_->setText(QString("Filtering %1 changes...").arg(total_));
  worker_->Ask(std::move(query), ++asked_);
}

void PreviewDialog::Shown(std::uint64_t generation) {
  shown_generation_ = generation;
  shown_->setText(QString("%1 of %2 changes shown").arg(model_->rowCount({})).arg(total_));
  emit selectionShown();
}

void PreviewDialog::Filter(const QString& text) { filter_->setText(text); }

int PreviewDialog::ShownCount() const { return model_->rowCount({}); }

bool PreviewDialog::Selecting() const { return shown_generation_ != asked_; }

}  // namespace kvr
