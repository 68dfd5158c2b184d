#include "app/qt/details_dialog.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app/qt/gui_util.h"
#include "base/utf8.h"

namespace kvr {
namespace {

// A row that sorts by its number in Qt::UserRole where it has one, so that
// "problem" sorts before "notice" and equal kinds keep their order.
class OrderedItem : public QTreeWidgetItem {
 public:
  using QTreeWidgetItem::QTreeWidgetItem;
  bool operator<(const QTreeWidgetItem& other) const override {
    const int column = treeWidget() != nullptr ? treeWidget()->sortColumn() : 0;
    const QVariant a = data(column, Qt::UserRole), b = other.data(column, Qt::UserRole);
    if (a.isValid() && b.isValid()) return a.toLongLong() < b.toLongLong();
    return QTreeWidgetItem::operator<(other);
  }
};

QTreeWidget* Tree(const char* name, const QStringList& headers, QWidget* parent) {
  auto* tree = new QTreeWidget(parent);
  tree->setObjectName(name);
  tree->setHeaderLabels(headers);
  tree->setRootIsDecorated(false);
  tree->setAlternatingRowColors(true);
  tree->setTextElideMode(Qt::ElideNone);
  return tree;
}

// Every column as wide as what it holds, the last taking what is left.
void SizeColumns(QTreeWidget* tree) {
  for (int c = 0; c < tree->columnCount(); ++c) tree->resizeColumnToContents(c);
}

constexpr qlonglong kNoticeRank = 1LL << 40;  // sorts every notice after every problem

}  // namespace

DetailsDialog::DetailsDialog(const RunRecord& run, QWidget* parent) : QDialog(parent), run_(run) {
  setObjectName("detailsDialog");
  setWindowTitle("Details of the last run");
  auto* layout = new QVBoxLayout(this);
  QStringList head;
  for (const std::string& line : run_.Head()) head << Q(line);
  auto* summary = new QLabel(head.join("\n"), this);
  summary->setObjectName("summary");
  summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
  summary->setWordWrap(true);
  layout->addWidget(summary);

  const RunResult& r = run_.result;
  auto* tabs = new QTabWidget(this);
  tabs->setObjectName("tabs");
  QTreeWidget* reports = Reports();
  // The selected problem or notice in full, wrapped, below the list.
  auto* split = new QSplitter(Qt::Vertical, tabs);
  split->addWidget(reports);
  auto* message = new QTextBrowser(split);
  message->setObjectName("message");
  message->setPlaceholderText("Select a problem or notice to read it in full.");
  split->addWidget(message);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 1);
  connect(reports, &QTreeWidget::currentItemChanged, message, [message](QTreeWidgetItem* item) {
    if (item == nullptr || item->childCount() > 0) {
      message->clear();
      return;
    }
    message->setPlainText(item->text(0) + " (" + item->text(1) + ")\n" + item->text(2));
  });
  const auto titles = run_.DetailTabs();
  tabs->addTab(split, Q(titles[0]));
  QTreeWidget* files = Files();
  tabs->addTab(files, Q(titles[1]));
  if (!run_.inputs.database.empty()) tabs->addTab(Changes(), Q(titles[2]));
  layout->addWidget(tabs);
  // A run that had nothing to say opens on what it wrote.
  if (r.problems.empty() && r.problems.notices().empty()) tabs->setCurrentWidget(files);

  AddButtons(layout);
  FitToScreen(this, 760, 480);
}

void DetailsDialog::AddButtons(QVBoxLayout* layout) {
  said_ = new QLabel(this);
  said_->setObjectName("said");
  said_->setWordWrap(true);
  said_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(said_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  QPushButton* open = buttons->addButton("Open folder", QDialogButtonBox::ActionRole);
  open->setObjectName("openFolder");
  QPushButton* save = buttons->addButton("Save report", QDialogButtonBox::ActionRole);
  save->setObjectName("saveReport");
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(open, &QPushButton::clicked, this, &DetailsDialog::OpenFolder);
  connect(save, &QPushButton::clicked, this, [this] {
    const QString suggested = Q(Utf8Path(run_.inputs.output_folder / "KVR Conversion report.txt"));
    const QString path = QFileDialog::getSaveFileName(this, "Save report", suggested, "Text files (*.txt)");
    if (!path.isEmpty()) SaveReportTo(path);
  });
}

QTreeWidget* DetailsDialog::Reports() {
  auto* reports = Tree("reports", {"Place", "Kind", "Message"}, this);
  // Groups with problems first; inside each, problems first. Kind sorts by that order.
  qlonglong order = 0;
  for (const ReportGroup& g : run_.Groups()) {
    auto* top = new OrderedItem(reports, QStringList{Q(g.name), Q(g.Counts()), QString()});
    top->setData(1, Qt::UserRole, (g.problems.empty() ? kNoticeRank : 0) + order++);
    for (const auto* list : {&g.problems, &g.notices}) {
      const bool problem = list == &g.problems;
      for (const Problem* p : *list) {
        auto* item = new OrderedItem(top, QStringList{Q(p->place()), problem ? "problem" : Problems::KindOf(*p), Q(p->message)});
        item->setData(1, Qt::UserRole, (problem ? 0 : kNoticeRank) + order++);
        item->setToolTip(2, Q(p->message));
        if (problem) item->setForeground(1, QColor(0xb0, 0x00, 0x20));
      }
    }
  }
  reports->setRootIsDecorated(true);
  reports->setSortingEnabled(true);
  reports->sortByColumn(1, Qt::AscendingOrder);
  reports->expandAll();
  SizeColumns(reports);
  return reports;
}

QTreeWidget* DetailsDialog::Files() {
  auto* files = Tree("files", {"File", "Outcome", "Why"}, this);
  for (const auto& f : run_.result.files) {
    new QTreeWidgetItem(files, QStringList{Q(Utf8Path(f.path)), FileOutcome::KindName(f.kind), Q(f.why)});
  }
  SizeColumns(files);
  return files;
}

QTreeWidget* DetailsDialog::Changes() {
  auto* changes = Tree("changes", {"Table", "Records changed", "Fields changed"}, this);
  for (const auto& [table, c] : run_.Changes()) {
    new QTreeWidgetItem(changes, QStringList{Q(std::string(table)), QString::number(c.records),
                                             QString::number(c.fields)});
  }
  SizeColumns(changes);
  return changes;
}

QString DetailsDialog::SaveReportTo(const QString& path) {
  const Result<std::filesystem::path> json = run_.SaveReport(PathFromUtf8(path.toStdString()));
  if (!json.ok()) {
    said_->setText("The report was not saved: " + Q(json.why()));
    return Q(json.why());
  }
  said_->setText("Saved the report as " + path + " and " + Q(Utf8Path(*json)));
  return {};
}

void DetailsDialog::OpenFolder() {
  const QString folder = Q(Utf8Path(run_.inputs.output_folder));
  std::error_code ec;
  if (!std::filesystem::is_directory(run_.inputs.output_folder, ec)) {
    said_->setText("Cannot open the output folder " + folder + ": it no longer exists.");
  } else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder))) {
    said_->setText("Cannot open the output folder " + folder +
                   ": the desktop has no program to show folders with. Its path can be copied from above.");
  } else {
    said_->setText("Opened " + folder);
  }
}

}  // namespace kvr
