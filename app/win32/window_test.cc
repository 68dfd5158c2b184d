// The Win32 window, live (under Wine in CI): its controls' places, texts and
// tab order against the places the window declares; whole runs driven through it against the
// command line's outputs; the overwrite question answered through the real
// message box; the preview's Cancel and Apply; the details it shows.
#include "app/win32/details_window.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/cli/cli.h"
#include "app/win32/main_window.h"
#include "app/win32/preview_window.h"
#include "tables/new_database.h"
#include "tests/fixed_answers.h"
#include "tests/test_util.h"
#include "tests/workbook_files.h"

namespace kvr::win32 {
namespace {

using kvr::testing::SheetRows;

// Until stopped, presses `button` on every window of class `window_class`
// this process shows (the message box's "#32770", the preview's own).
class Presser {
 public:
  Presser(const wchar_t* window_class, int button) : class_(window_class), button_(button) {
    thread_ = std::thread([this] {
      while (!stop_) {
        EnumThreadWindows(ui_thread_, &Presser::Visit, reinterpret_cast<LPARAM>(this));
        Sleep(20);
      }
    });
  }
  ~Presser() {
    stop_ = true;
    thread_.join();
  }
  int pressed() const { return pressed_; }

 private:
  static BOOL CALLBACK Visit(HWND window, LPARAM self_pointer) {
    auto* self = reinterpret_cast<Presser*>(self_pointer);
    wchar_t name[64];
    GetClassNameW(window, name, 64);
    if (self->class_ == name && IsWindowVisible(window)) {
      PostMessageW(window, WM_COMMAND, MAKEWPARAM(self->button_, BN_CLICKED), 0);
      ++self->pressed_;
    }
    return TRUE;
  }
  std::wstring class_;
  int button_;
  DWORD ui_thread_ = GetCurrentThreadId();
  std::atomic<bool> stop_{false};
  std::atomic<int> pressed_{0};
  std::thread thread_;
};

class WindowTest : public kvr::testing::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    static const bool initialised = [] {
      INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES |
                                                         ICC_LINK_CLASS};
      return InitCommonControlsEx(&controls) != FALSE;
    }();
    (void)initialised;
    kvr::testing::WriteXlsx(File("wb.xlsx"),
                            {{"System", SheetRows{{std::string("Name:"), std::string("Studio A")},
                                                  {std::string("Inputs"), 2.0}, {std::string("Consoles"), 1.0}}},
                             {"Sources", SheetRows{{std::string("Chan"), std::string("Chan Label")},
                                                   {1.0, std::string("Mic 1")}, {2.0, std::string("Prüfung")}}},
                             {"Console #1", SheetRows{{std::string("Desk 1"), std::string(""), 1.0, 1.0}}},
                             {"32QX", SheetRows{{std::string("Frame")}, {1.0}}},
                             {"Crosspoints", SheetRows{{std::string("P-Level")}, {1.0}}}});
    ASSERT_TRUE(CreateSwitcherDatabase(File("pristine.db"), DatabaseSizes{4, 4, 2, 2, 2}).ok());
    chooser_.workbook = File("wb.xlsx").string();
  }

  // Runs `command` through the window into a folder of its own (with a copy
  // of the pristine database) and returns that folder.
  std::filesystem::path RunThroughWindow(ControlId button, const std::string& name, bool preview = false,
                                         OverwriteQuestion* question = nullptr) {
    const auto folder = dir_ / ("window-" + name);
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(File("pristine.db"), folder / "sw.db");
    chooser_.database = (folder / "sw.db").string();
    MainWindow window(&chooser_, question, folder.wstring());
    window.QuietMessages();
    if (preview) SendMessageW(window.Item(kPreviewId), BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(window.Item(button), BM_CLICK, 0, 0);
    window.WaitForRun();
    last_summary_ = window.LastRun().Summary();
    return folder;
  }

  // Runs `args` on the command line in a folder of its own, with a copy of the pristine database.
  std::filesystem::path RunOnCommandLine(const std::string& name, std::vector<std::string> args) {
    const auto folder = dir_ / ("cli-" + name);
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(File("pristine.db"), folder / "sw.db");
    for (auto& a : args) {
      if (a == "DB") a = (folder / "sw.db").string();
    }
    args.insert(args.end(), {"--workbook", File("wb.xlsx").string(), "--output-dir", folder.string()});
    std::vector<const char*> argv = {"kvrconversion"};
    for (const auto& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    RunCommandLine(static_cast<int>(argv.size()), argv.data(), out, err);
    return folder;
  }

  // The outputs in `folder` by name, each with a digest of its bytes (the
  // database and its backup, which the runs share, left out).
  static std::map<std::string, std::size_t> Outputs(const std::filesystem::path& folder) {
    std::map<std::string, std::size_t> files;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
      const std::string name = e.path().filename().string();
      if (name == "sw.db" || name == "sw.db.bak") continue;
      files[name] = std::hash<std::string>{}(kvr::testing::ReadBytes(e.path()));
    }
    return files;
  }

  kvr::testing::FixedFiles chooser_;
  std::string last_summary_;
};

TEST_F(WindowTest, PlacesTextsAndTabOrderAreAsDeclared) {
  MainWindow window(&chooser_, nullptr, dir_.wstring());
  HWND w = window.handle();
  const UINT dpi = DpiOf(w);
  for (const ControlPlace& p : kPlaces) {
    RECT r;
    GetWindowRect(window.Item(p.id), &r);
    MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, Twips(p.left, dpi)) << p.id;
    EXPECT_EQ(r.top, Twips(p.top, dpi)) << p.id;
    EXPECT_EQ(r.right - r.left, Twips(p.width, dpi)) << p.id;
    EXPECT_EQ(r.bottom - r.top, Twips(p.height, dpi)) << p.id;
  }
  RECT client;
  GetClientRect(w, &client);
  EXPECT_EQ(client.right, Twips(kClientWidthTwips, dpi));
  EXPECT_EQ(client.bottom, Twips(kClientHeightTwips, dpi));
  EXPECT_EQ(TextOf(w), L"KVR Conversion");
  EXPECT_EQ(TextOf(window.Item(kStartId)), L"Convert");
  EXPECT_EQ(TextOf(window.Item(kIniId)), L"Demo .ini");
  EXPECT_EQ(TextOf(window.Item(kXpointsId)), L"Read xPoints");
  EXPECT_EQ(TextOf(window.Item(kBigSwitchId)), L"Big Switch");
  EXPECT_EQ(TextOf(window.Item(kNewDatabaseId)), L"New DB...");
  EXPECT_EQ(TextOf(window.Item(kStatusId)), L"");
  EXPECT_EQ(SendMessageW(window.Item(kBigSwitchId), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  // Tab: Convert, Demo .ini, Read xPoints, Big Switch, then what this window adds.
  ShowWindow(w, SW_SHOW);
  std::vector<int> order;
  HWND at = window.Item(kStartId);
  for (int i = 0; i < 8; ++i) {
    order.push_back(GetDlgCtrlID(at));
    at = GetNextDlgTabItem(w, at, FALSE);
  }
  EXPECT_EQ(order, (std::vector<int>{kStartId, kIniId, kXpointsId, kBigSwitchId, kPreviewId, kNewDatabaseId,
                                     kOutputsId, kFolderId}));
  EXPECT_EQ(GetDlgCtrlID(at), kStartId);
  EXPECT_EQ(FilterPatterns("xls"), L"*.xls;*.xlsx;*.xlsm;*.ods");
}

// "New DB..." makes the database the command line's new-database --workbook
// makes, byte for byte, and never writes over a file.
TEST_F(WindowTest, NewDatabaseIsTheCommandLinesAndNeverWrittenOver) {
  chooser_.database = File("made.db").string();
  MainWindow window(&chooser_, nullptr, dir_.wstring());
  window.QuietMessages();
  SendMessageW(window.Item(kNewDatabaseId), BM_CLICK, 0, 0);
  window.WaitForRun();
  ASSERT_EQ(window.LastRun().result.outcome, RunResult::Outcome::kCompleted) << window.LastRun().ReportText();
  std::vector<std::string> args = {"kvrconversion", "new-database", "--database", File("cli.db").string(),
                                   "--workbook", File("wb.xlsx").string()};
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  ASSERT_EQ(RunCommandLine(static_cast<int>(argv.size()), argv.data(), out, err), 0) << err.str();
  EXPECT_EQ(kvr::testing::ReadBytes(File("made.db")), kvr::testing::ReadBytes(File("cli.db")));
  const std::string before = kvr::testing::ReadBytes(File("made.db"));
  SendMessageW(window.Item(kNewDatabaseId), BM_CLICK, 0, 0);
  window.WaitForRun();
  EXPECT_EQ(window.LastRun().result.outcome, RunResult::Outcome::kNotRun);
  EXPECT_NE(window.LastReason().find(L"made.db"), std::wstring::npos);
  EXPECT_EQ(kvr::testing::ReadBytes(File("made.db")), before);
}

// Convert, Demo .ini and Read xPoints through the window write what the
// command line writes, byte for byte.
TEST_F(WindowTest, RunsWriteWhatTheCommandLineWrites) {
  const auto window = RunThroughWindow(kStartId, "convert");
  const auto cli = RunOnCommandLine("convert", {"convert", "--database", "DB"});
  EXPECT_EQ(Outputs(window), Outputs(cli));
  EXPECT_EQ(Outputs(window).size(), 2u);  // Studio A.con, Desk 1.cns
  EXPECT_EQ(kvr::testing::ReadBytes(window / "sw.db"), kvr::testing::ReadBytes(cli / "sw.db"));
  EXPECT_EQ(Outputs(RunThroughWindow(kIniId, "ini")), Outputs(RunOnCommandLine("ini", {"demo-ini"})));
  EXPECT_EQ(Outputs(RunThroughWindow(kXpointsId, "xpoints")), Outputs(RunOnCommandLine("xpoints", {"xpoints"})));
}

// A Jet database no driver here opens: the files are written and the
// window tells, as for a run that did not run, that the database was not
// reached and why.
TEST_F(WindowTest, AnUnreachedDatabaseIsToldPlainly) {
  std::string header(4096, '\0');
  header.replace(4, 15, "Standard Jet DB");
  kvr::testing::WriteBytes(File("site.mdb"), header);
  const auto folder = dir_ / "jet";
  std::filesystem::create_directories(folder);
  chooser_.database = File("site.mdb").string();
  MainWindow window(&chooser_, nullptr, folder.wstring());
  window.QuietMessages();
  SendMessageW(window.Item(kStartId), BM_CLICK, 0, 0);
  window.WaitForRun();
  EXPECT_TRUE(std::filesystem::exists(folder / "Studio A.con"));
  EXPECT_NE(window.LastAlert().find(L"The database was not reached"), std::wstring::npos) << Narrow(window.LastAlert());
  EXPECT_NE(window.LastAlert().find(L"Jet ODBC driver"), std::wstring::npos) << Narrow(window.LastAlert());
  EXPECT_EQ(window.LastRun().Summary().rfind("database not reached", 0), 0u);
}

// An existing console file: the real message box asks, Yes replaces it.
TEST_F(WindowTest, TheOverwriteQuestionIsTheRealMessageBox) {
  const auto folder = dir_ / "window-asked";
  std::filesystem::create_directories(folder);
  kvr::testing::WriteBytes(folder / "Studio A.con", "earlier");
  Presser yes(L"#32770", IDYES);
  RunThroughWindow(kStartId, "asked");
  EXPECT_GE(yes.pressed(), 1);
  EXPECT_NE(kvr::testing::ReadBytes(folder / "Studio A.con"), "earlier");
}

// Closed during a run that ends while the question whether to stop it is
// still open: No leaves the window open, and no later run closes it; Yes
// closes it at once, the run being over.
TEST_F(WindowTest, ARunThatEndsWhileTheStopQuestionIsOpen) {
  // Runs this thread's messages for a while; true once the window has asked
  // the program to end (WM_QUIT).
  auto quits = [] {
    for (int i = 0; i < 50; ++i) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) return true;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      Sleep(10);
    }
    return false;
  };
  for (const int answer : {IDNO, IDYES}) {
    SCOPED_TRACE(answer == IDYES ? "Yes" : "No");
    const auto folder = dir_ / ("window-close-" + std::to_string(answer));
    std::filesystem::create_directories(folder);
    MainWindow window(&chooser_, nullptr, folder.wstring());
    window.QuietMessages();
    bool asked = false;
    window.AnswerStopQuestionWith([&] {
      asked = true;
      window.WaitForRun();  // the question stays open until the run has ended
      return answer;
    });
    SendMessageW(window.Item(kXpointsId), BM_CLICK, 0, 0);
    SendMessageW(window.handle(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(asked);
    EXPECT_EQ(quits(), answer == IDYES);
    if (answer == IDYES) continue;
    SendMessageW(window.Item(kXpointsId), BM_CLICK, 0, 0);
    window.WaitForRun();
    EXPECT_FALSE(quits());
    EXPECT_EQ(window.LastRun().result.outcome, RunResult::Outcome::kCompleted);
  }
}

// The real preview: Cancel leaves the database and the folder as they
// were; Apply does what a plain run does.
TEST_F(WindowTest, PreviewCancelAndApply) {
  const std::string pristine = kvr::testing::ReadBytes(File("pristine.db"));
  std::filesystem::path cancelled;
  {
    Presser cancel(L"KvrPreviewWindow", IDCANCEL);
    cancelled = RunThroughWindow(kStartId, "cancel", true);
    EXPECT_GE(cancel.pressed(), 1);
  }
  EXPECT_TRUE(Outputs(cancelled).empty());
  EXPECT_EQ(kvr::testing::ReadBytes(cancelled / "sw.db"), pristine);
  EXPECT_FALSE(std::filesystem::exists(cancelled / "sw.db.bak"));
  EXPECT_EQ(last_summary_.rfind("preview cancelled", 0), 0u) << last_summary_;
  std::filesystem::path applied;
  {
    Presser apply(L"KvrPreviewWindow", IDOK);
    applied = RunThroughWindow(kStartId, "apply", true);
  }
  const auto plain = RunThroughWindow(kStartId, "plain");
  EXPECT_EQ(Outputs(applied), Outputs(plain));
  EXPECT_EQ(kvr::testing::ReadBytes(applied / "sw.db"), kvr::testing::ReadBytes(plain / "sw.db"));
  EXPECT_TRUE(std::filesystem::exists(applied / "sw.db.bak"));  // the database as it was, kept as on a plain run
}

// A million changes open at once and filter beside the window's thread.
TEST(PreviewWindowTest, FiltersBesideTheWindowsThread) {
  ChangeList changes;
  for (int i = 1; i <= 200000; ++i) {
    changes.Add({"InptAlphas", "Chan Num " + std::to_string(i), "Label", std::string(""),
                       "Mic " + std::to_string(i)});
  }
  PreviewWindow preview(nullptr, changes, {{"InptAlphas", {200000, 200000}}});
  EXPECT_EQ(ListView_GetItemCount(GetDlgItem(preview.handle(), 102)), 200000);
  SetWindowTextW(GetDlgItem(preview.handle(), 101), L"Mic 1999");
  MSG msg;
  while (preview.Selecting() && GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  EXPECT_EQ(preview.ShownCount(), 111);  // Mic 1999, Mic 19990 to 19999, Mic 199900 to 199999
}

// The details show the record: grouped problems with the selected one in
// full, the files, the changes; Save report says where it saved.
TEST_F(WindowTest, DetailsShowTheRecord) {
  RunRecord record;
  record.inputs.command = "convert";
  record.inputs.workbook = File("wb.xlsx").string();
  record.inputs.database = File("pristine.db").string();
  record.inputs.output_folder = dir_;
  record.result.outcome = RunResult::Outcome::kCompleted;
  record.result.database_read = true;
  record.result.problems.Report(Where::Sheet("Sources", "B2"), "40000 does not fit a 16-bit number");
  record.result.problems.Note(Where::Sheet("Sources", "C1"), "a heading that begins with no keyword");
  record.result.files = {{dir_ / "Studio A.con", FileOutcome::kWritten, {}}};
  DetailsWindow details(nullptr, record);
  HWND reports = details.List(0);
  ASSERT_EQ(ListView_GetItemCount(reports), 3);  // the group and its two
  wchar_t text[256];
  ListView_GetItemText(reports, 0, 0, text, 256);
  EXPECT_STREQ(text, L"Sheet \"Sources\"");
  ListView_GetItemText(reports, 1, 1, text, 256);
  EXPECT_STREQ(text, L"problem");
  details.ShowMessageOf(2);
  EXPECT_EQ(details.MessageShown(), L"Sources!C1 (notice)\r\na heading that begins with no keyword");
  details.ShowMessageOf(0);  // the group's row: no message
  EXPECT_EQ(details.MessageShown(), L"");
  EXPECT_EQ(ListView_GetItemCount(details.List(1)), 1);
  // Every heading shows whole, an empty column's too ("Why" of a file written).
  for (int l = 0; l < 3; ++l) {
    HWND list = details.List(l);
    HWND header = ListView_GetHeader(list);
    for (int c = 0; c < Header_GetItemCount(header); ++c) {
      EXPECT_GT(ListView_GetColumnWidth(list, c), ListView_GetStringWidth(list, HeadingOf(list, c).c_str()))
          << l << ", " << c;
    }
  }
  EXPECT_EQ(ListView_GetItemCount(details.List(2)), 7);  // every table
  const std::wstring said = details.SaveReportTo((dir_ / "report.txt").wstring());
  EXPECT_EQ(said.rfind(L"Saved the report as ", 0), 0u);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "report.json"));
  EXPECT_EQ(details.SaveReportTo(File("wb.xlsx").wstring()).rfind(L"The report was not saved: ", 0), 0u);
}

}  // namespace
}  // namespace kvr::win32
