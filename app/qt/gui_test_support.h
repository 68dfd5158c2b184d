// What the window's and the dialogs' tests share: scripted stand-ins for
// the file dialog, the question and the preview; a run clicked and waited
// for; folders and databases read back for comparison.
#ifndef KVR_APP_QT_GUI_TEST_SUPPORT_H_
#define KVR_APP_QT_GUI_TEST_SUPPORT_H_

#include <sqlite3.h>

#include <QCoreApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app/qt/main_window.h"
#include "tables/new_database.h"
#include "tests/workbook_files.h"

namespace kvr {

// Answers with preset paths and records whether the window's controls were
// disabled while the run asked for them.
class ScriptedChooser : public FileChooser {
 public:
  QStringList answers;
  MainWindow* window = nullptr;
  std::vector<bool> disabled_while_asked;
  std::string GetFileName(const std::string&, const std::string&, int) override {
    bool disabled = true;
    for (const char* name : {"cmdStart", "cmdIni", "cmdXpoints", "chkBigSwitch", "cmdNewDatabase"}) {
      disabled &= !window->findChild<QWidget*>(name)->isEnabled();
    }
    disabled_while_asked.push_back(disabled);
    return answers.isEmpty() ? std::string() : answers.takeFirst().toStdString();
  }
};

class Yes : public OverwriteQuestion {
 public:
  bool Ask(const std::string&, const std::string&) override { return true; }
};

class No : public OverwriteQuestion {
 public:
  bool Ask(const std::string&, const std::string&) override { return false; }
};

// Answers the preview as told, keeping what it was shown.
class ScriptedPreview : public ChangePreview {
 public:
  bool answer = true;
  std::size_t shown = 0;
  std::map<std::string, ChangeCount> counts;
  bool Apply(const ChangeList& changes, const std::map<std::string, ChangeCount>& c) override {
    shown = changes.size();
    counts = c;
    return answer;
  }
};

inline std::string Bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Every file of `folder` by name, with its bytes.
inline std::map<std::string, std::string> Folder(const std::filesystem::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(folder)) files[e.path().filename().string()] = Bytes(e.path());
  return files;
}

// Every row of every table of a SQLite file, as text.
inline std::string Dump(const std::filesystem::path& path) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.string().c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  std::string out;
  auto rows = [&](const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr);
    std::vector<std::string> texts;
    while (st != nullptr && sqlite3_step(st) == SQLITE_ROW) {
      std::string row;
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        const auto* v = sqlite3_column_text(st, c);
        row += (v != nullptr ? reinterpret_cast<const char*>(v) : "NULL") + std::string("|");
      }
      texts.push_back(row);
    }
    sqlite3_finalize(st);
    return texts;
  };
  for (const auto& table : rows("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name")) {
    const std::string name = table.substr(0, table.size() - 1);
    out += "## " + name + "\n";
    for (const auto& row : rows("SELECT * FROM \"" + name + "\" ORDER BY rowid")) out += row + "\n";
  }
  sqlite3_close(db);
  return out;
}

// The texts of one column of a tree's rows, the children of each group included.
inline QStringList Column(QTreeWidget* tree, int column) {
  QStringList out;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) {
    QTreeWidgetItem* top = tree->topLevelItem(i);
    if (top->childCount() == 0) out << top->text(column);
    for (int k = 0; k < top->childCount(); ++k) out << top->child(k)->text(column);
  }
  return out;
}

// A test class's scratch folder, made fresh as "PREFIX_<pid>" in the temporary folder.
struct TestFolder {
  std::filesystem::path dir;
  void Make(const char* prefix) {
    dir = std::filesystem::temp_directory_path() / (prefix + std::to_string(QCoreApplication::applicationPid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  QString File(const char* name) const { return QString::fromStdString((dir / name).string()); }
};

// Clicks `button` and waits for the run to finish.
inline void RunAndWait(MainWindow& w, const char* button) {
  QSignalSpy finished(&w, &MainWindow::runFinished);
  QTest::mouseClick(w.findChild<QPushButton*>(button), Qt::LeftButton);
  QVERIFY(finished.count() == 1 || finished.wait(20000));
}

// In `dir`: "sw.db", a small switcher database, and "wb.xlsx", the plant
// "Studio A" with two inputs, one console, a value too large for its field
// and a crosspoint sheet; an "out" folder.
inline void MakeStudio(const std::filesystem::path& dir) {
  std::filesystem::create_directories(dir / "out");
  if (!CreateSwitcherDatabase(dir / "sw.db", DatabaseSizes{4, 4, 2, 2, 2}).ok()) throw std::runtime_error("cannot make sw.db");
  using testing::SheetRows;
  testing::WriteXlsx(dir / "wb.xlsx",
                     {{"System", SheetRows{{std::string("Name:"), std::string("Studio A")}, {std::string("Inputs"), 2.0},
                                           {std::string("Consoles"), 1.0}}},
                      {"Sources", SheetRows{{std::string("Chan"), std::string("Location #")}, {1.0, 40000.0}}},
                      {"Crosspoints", SheetRows{{std::string("P-Level")}, {1.0}}}});
}

}  // namespace kvr

#endif  // KVR_APP_QT_GUI_TEST_SUPPORT_H_
