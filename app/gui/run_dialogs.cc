#include "app/gui/run_dialogs.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QAbstractTableModel>
#include <QTabWidget>
#include <QTableView>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app/core/report_target.h"
#include "base/utf8.h"

namespace kvr {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

QString Counted(std::size_t n, const char* one, const char* many) {
  return QString("%1 %2").arg(n).arg(n == 1 ? one : many);
}

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
  return tree;
}

// The group a report belongs to: its sheet, its table, or the rest.
QString GroupOf(const Problem& p) {
  if (!p.where.sheet.empty()) return "Sheet \"" + Q(p.where.sheet) + "\"";
  if (!p.where.table.empty()) return "Table " + Q(p.where.table);
  return "Files and other steps";
}

// One row per change: table, key, field, old and new, made into text only
// when shown or filtered (a large plant makes hundreds of thousands).
class ChangesModel : public QAbstractTableModel {
 public:
  ChangesModel(const std::vector<FieldChange>& changes, QObject* parent)
      : QAbstractTableModel(parent), changes_(changes) {}
  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : static_cast<int>(changes_.size());
  }
  int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 5; }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    const FieldChange& c = changes_[static_cast<std::size_t>(index.row())];
    switch (index.column()) {
      case 0: return Q(c.table);
      case 1: return Q(c.key);
      case 2: return Q(c.field);
      case 3: return Q(FieldValueText(c.before));
      default: return Q(FieldValueText(c.after));
    }
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    static const char* const kHeadings[] = {"Table", "Key", "Field", "Old", "New"};
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section > 4) return {};
    return kHeadings[section];
  }

 private:
  const std::vector<FieldChange>& changes_;
};

}  // namespace

QString DetailsLine(const RunRecord& run) {
  const RunResult& r = run.result;
  const std::size_t problems = r.problems.size(), notices = r.problems.notices().size();
  QStringList parts;
  if (r.preview_cancelled) parts << "preview cancelled";
  if (problems > 0) parts << Counted(problems, "problem", "problems");
  if (notices > 0) parts << Counted(notices, "notice", "notices");
  if (parts.isEmpty()) {
    std::size_t written = 0;
    for (const auto& f : r.files) written += f.kind == FileOutcome::kWritten ? 1 : 0;
    parts << Counted(written, "file", "files");
    if (!run.inputs.database.empty()) {
      int fields = 0;
      for (const auto& [table, count] : r.changed) fields += count.fields;
      parts << Counted(static_cast<std::size_t>(fields), "change", "changes");
    }
  }
  return parts.join(", ") + " - details";
}

DetailsDialog::DetailsDialog(const RunRecord& run, QWidget* parent) : QDialog(parent), run_(run) {
  setObjectName("detailsDialog");
  const RunResult& r = run_.result;
  setWindowTitle("Details of the last run");
  auto* layout = new QVBoxLayout(this);

  QStringList head;
  head << QString("%1, %2").arg(Q(run_.inputs.command), Q(IsoTime(run_.when)));
  head << "Workbook: " + Q(run_.inputs.workbook);
  if (!run_.inputs.database.empty()) head << "Database: " + Q(run_.inputs.database);
  if (!r.backup.empty()) head << "Backup of the database as it was: " + Q(Utf8Path(r.backup));
  head << "Output folder: " + Q(Utf8Path(run_.inputs.output_folder));
  if (run_.output_fell_back) head << "(the program's own folder takes no files, so the outputs went to this one)";
  if (!r.reason.empty()) head << Q(r.reason);
  auto* summary = new QLabel(head.join("\n"), this);
  summary->setObjectName("summary");
  summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
  summary->setWordWrap(true);
  layout->addWidget(summary);

  auto* tabs = new QTabWidget(this);
  tabs->setObjectName("tabs");
  auto* reports = Tree("reports", {"Place", "Kind", "Message"}, tabs);
  AddReports(reports);
  tabs->addTab(reports, Counted(r.problems.size(), "problem", "problems") + ", " +
                            Counted(r.problems.notices().size(), "notice", "notices"));
  auto* files = Tree("files", {"File", "Outcome", "Why"}, tabs);
  AddFiles(files);
  tabs->addTab(files, Counted(r.files.size(), "file", "files"));
  if (!run_.inputs.database.empty()) {
    auto* changes = Tree("changes", {"Table", "Records changed", "Fields changed"}, tabs);
    AddChanges(changes);
    tabs->addTab(changes, "Database changes");
  }
  layout->addWidget(tabs);
  // A run that had nothing to say opens on what it wrote.
  if (r.problems.empty() && r.problems.notices().empty()) tabs->setCurrentWidget(files);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  QPushButton* open = buttons->addButton("Open folder", QDialogButtonBox::ActionRole);
  open->setObjectName("openFolder");
  QPushButton* save = buttons->addButton("Save report", QDialogButtonBox::ActionRole);
  save->setObjectName("saveReport");
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(open, &QPushButton::clicked, this, [this] {
    QDesktopServices::openUrl(QUrl::fromLocalFile(Q(Utf8Path(run_.inputs.output_folder))));
  });
  connect(save, &QPushButton::clicked, this, [this] {
    const QString suggested = Q(Utf8Path(run_.inputs.output_folder / "KVR Conversion report.txt"));
    const QString path = QFileDialog::getSaveFileName(this, "Save report", suggested, "Text files (*.txt)");
    if (path.isEmpty()) return;
    if (const QString why = SaveReportTo(path); !why.isEmpty()) QMessageBox::warning(this, "Save report", why);
  });
  resize(760, 420);
}

void DetailsDialog::AddReports(QTreeWidget* reports) const {
  // Groups in the order they are first met, those with problems first;
  // inside each, problems first. Kind sorts by that order.
  struct Group {
    QString name;
    std::vector<std::pair<const Problem*, bool>> items;  // report, is a problem
    bool has_problem = false;
  };
  std::vector<Group> groups;
  auto add = [&](const Problem& p, bool problem) {
    const QString name = GroupOf(p);
    auto it = std::find_if(groups.begin(), groups.end(), [&](const Group& g) { return g.name == name; });
    if (it == groups.end()) it = groups.insert(groups.end(), Group{name, {}, false});
    it->items.emplace_back(&p, problem);
    it->has_problem |= problem;
  };
  for (const auto& p : run_.result.problems.list()) add(p, true);
  for (const auto& n : run_.result.problems.notices()) add(n, false);
  std::stable_partition(groups.begin(), groups.end(), [](const Group& g) { return g.has_problem; });
  qlonglong order = 0;
  for (const Group& g : groups) {
    std::size_t problems = 0;
    for (const auto& [p, problem] : g.items) problems += problem ? 1 : 0;
    auto* top = new OrderedItem(reports, QStringList{g.name, QString(), QString()});
    top->setText(1, (problems > 0 ? Counted(problems, "problem", "problems") + ", " : QString()) +
                        Counted(g.items.size() - problems, "notice", "notices"));
    top->setData(1, Qt::UserRole, (g.has_problem ? 0 : 1LL << 40) + order++);
    top->setFirstColumnSpanned(false);
    for (const bool problems_first : {true, false}) {
      for (const auto& [p, problem] : g.items) {
        if (problem != problems_first) continue;
        auto* item = new OrderedItem(top, QStringList{Q(p->place()), problem ? "problem" : "notice", Q(p->message)});
        item->setData(1, Qt::UserRole, (problem ? 0 : 1LL << 40) + order++);
        item->setToolTip(2, Q(p->message));
        if (problem) item->setForeground(1, QColor(0xb0, 0x00, 0x20));
      }
    }
  }
  reports->setRootIsDecorated(true);
  reports->setSortingEnabled(true);
  reports->sortByColumn(1, Qt::AscendingOrder);
  reports->expandAll();
  reports->resizeColumnToContents(0);
}

void DetailsDialog::AddFiles(QTreeWidget* files) const {
  for (const auto& f : run_.result.files) {
    new QTreeWidgetItem(files, QStringList{Q(Utf8Path(f.path)), FileOutcome::KindName(f.kind), Q(f.why)});
  }
  files->resizeColumnToContents(0);
}

void DetailsDialog::AddChanges(QTreeWidget* changes) const {
  for (const std::string_view table : kSwitcherTables) {
    const auto it = run_.result.changed.find(std::string(table));
    const ChangeCount c = it == run_.result.changed.end() ? ChangeCount{} : it->second;
    new QTreeWidgetItem(changes, QStringList{Q(std::string(table)), QString::number(c.records),
                                             QString::number(c.fields)});
  }
}

QString DetailsDialog::SaveReportTo(const QString& path) const {
  QString json_path = path;
  if (json_path.endsWith(".txt", Qt::CaseInsensitive)) json_path.chop(4);
  json_path += ".json";
  const std::pair<QString, std::string> files[] = {
      {path, ReportText(run_.inputs, run_.result, run_.exit_status, run_.when)},
      {json_path, ReportJson(run_.inputs, run_.result, run_.exit_status, run_.when)}};
  for (const auto& [name, text] : files) {
    if (const auto why = ReportTargetRefusal(PathFromUtf8(name.toStdString()), run_.inputs, run_.result)) {
      return "Cannot write " + name + ": " + Q(*why);
    }
  }
  for (const auto& [name, text] : files) {
    if (const Status s = WriteReportFile(PathFromUtf8(name.toStdString()), text); !s.ok()) {
      return "Cannot write " + name + ": " + Q(s.why());
    }
  }
  return {};
}

PreviewDialog::PreviewDialog(const std::vector<FieldChange>& changes, const std::map<std::string, ChangeCount>& counts,
                             QWidget* parent)
    : QDialog(parent), total_(static_cast<int>(changes.size())) {
  setObjectName("previewDialog");
  setWindowTitle("Preview of the database changes");
  auto* layout = new QVBoxLayout(this);
  QStringList per_table;
  for (const std::string_view table : kSwitcherTables) {
    const auto it = counts.find(std::string(table));
    const ChangeCount c = it == counts.end() ? ChangeCount{} : it->second;
    per_table << QString("%1: %2, %3").arg(Q(std::string(table)), Counted(c.records, "record", "records"),
                                           Counted(c.fields, "field", "fields"));
  }
  auto* heading = new QLabel("Everything is read. These changes are about to be made; nothing is kept until you "
                             "apply them.\n" + per_table.join("\n"), this);
  heading->setObjectName("counts");
  layout->addWidget(heading);

  filter_ = new QLineEdit(this);
  filter_->setObjectName("filter");
  filter_->setPlaceholderText("Filter: table, key, field or value");
  filter_->setClearButtonEnabled(true);
  layout->addWidget(filter_);

  proxy_ = new QSortFilterProxyModel(this);
  proxy_->setSourceModel(new ChangesModel(changes, this));
  proxy_->setFilterKeyColumn(-1);
  proxy_->setFilterCaseSensitivity(Qt::CaseInsensitive);
  auto* view = new QTableView(this);
  view->setObjectName("changes");
  view->setModel(proxy_);
  view->setSortingEnabled(true);
  view->sortByColumn(-1, Qt::AscendingOrder);  // as made, until a heading is clicked
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->verticalHeader()->hide();
  view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
  view->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(view);
  shown_ = new QLabel(this);
  shown_->setObjectName("shown");
  layout->addWidget(shown_);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* apply = buttons->addButton("Apply", QDialogButtonBox::AcceptRole);
  apply->setObjectName("apply");
  QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
  cancel->setObjectName("cancel");
  cancel->setDefault(true);  // Enter never applies by accident
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(filter_, &QLineEdit::textChanged, this, [this](const QString& text) {
    proxy_->setFilterFixedString(text);
    shown_->setText(QString("%1 of %2 changes shown").arg(proxy_->rowCount()).arg(total_));
  });
  shown_->setText(QString("%1 of %2 changes shown").arg(total_).arg(total_));
  resize(760, 480);
}

void PreviewDialog::Filter(const QString& text) { filter_->setText(text); }

int PreviewDialog::ShownCount() const { return proxy_->rowCount(); }

}  // namespace kvr
