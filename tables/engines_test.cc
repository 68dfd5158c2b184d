// The database engines side by side: SQLite directly, SQLite through its
// ODBC driver, PostgreSQL through its ODBC driver against a private server
// (tests/odbc/postgres.sh, started by CTest), and a Jet file through the Jet
// stand-in driver (tests/odbc/jet_standin.h), which refuses what the Jet
// driver's documentation says it refuses. The same conversions
// must leave the same tables in each; the engine contract (typed fields,
// one transaction, missing tables and fields) must hold in each.
//
// The ODBC drivers are registered in a private odbcinst.ini that ODBCSYSINI
// names; an engine whose driver or server is missing here is skipped.
#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <future>
#include <chrono>

#include <gtest/gtest.h>

#include "app/core/runs.h"
#include "base/interrupt.h"
#include "base/utf8.h"
#include "tables/new_database.h"
#include "tables/odbc_database.h"
#include "tables/switcher_database.h"
#include "tests/test_util.h"
#include "tests/workbook_files.h"

namespace kvr {
namespace {

enum class Engine { kSqlite, kOdbcSqlite, kOdbcPostgres, kOdbcJet };

std::string EngineName(const ::testing::TestParamInfo<Engine>& info) {
  switch (info.param) {
    case Engine::kSqlite: return "Sqlite";
    case Engine::kOdbcSqlite: return "OdbcSqlite";
    case Engine::kOdbcPostgres: return "OdbcPostgres";
    case Engine::kOdbcJet: return "OdbcJet";
  }
  return "?";
}

// The drivers' private registry, set before the first ODBC call.
const bool kRegistry = [] {
#ifdef _WIN32
  _putenv_s("ODBCSYSINI", KVR_TEST_ODBC_DIR);
  _putenv_s("ODBCINI", KVR_TEST_ODBC_DIR "/odbc.ini");
#else
  setenv("ODBCSYSINI", KVR_TEST_ODBC_DIR, 0);
  setenv("ODBCINI", KVR_TEST_ODBC_DIR "/odbc.ini", 0);
#endif
  return true;
}();

// A file name as the ODBC driver sees it. Under Wine the Windows program's
// driver manager hands the calls to the host's unixODBC and its Linux
// driver, which needs the host's name of the file.
std::string DriverPath(const std::filesystem::path& path) {
#ifdef _WIN32
  using ToUnix = char* (*)(const wchar_t*);
  const auto to_unix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (to_unix != nullptr) {
    if (char* unix_name = to_unix(path.c_str())) {
      std::string result(unix_name);
      HeapFree(GetProcessHeap(), 0, unix_name);
      return result;
    }
  }
#endif
  return Utf8Path(path);
}

// The private server's connection string, written by postgres.sh.
std::string PostgresConnection() {
  std::ifstream in(KVR_TEST_POSTGRES_DIR "/connection");
  std::string line;
  std::getline(in, line);
  return line;
}

class EnginesTest : public testing::TempDirTest, public ::testing::WithParamInterface<Engine> {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    switch (GetParam()) {
      case Engine::kSqlite:
        database_ = File("sw.db").string();
        break;
      case Engine::kOdbcSqlite:
        database_ = "odbc:Driver={SQLite3};Database=" + DriverPath(File("sw.db")) + ";";
        break;
      case Engine::kOdbcPostgres: {
#ifdef _WIN32
        GTEST_SKIP() << "the PostgreSQL server runs for the Linux build";
#endif
        const std::string connection = PostgresConnection();
        if (connection.empty()) GTEST_SKIP() << "no PostgreSQL test server";
        database_ = "odbc:" + connection;
        DropTables();
        break;
      }
      case Engine::kOdbcJet: {
#ifndef KVR_TEST_JET_STANDIN
        GTEST_SKIP() << "this build has no Jet stand-in (no SQLite ODBC driver to stand it on)";
#endif
        // A Jet file as the driver finds it (its header); the stand-in keeps
        // its tables beside it.
        std::string header(4096, '\0');
        header.replace(4, 15, "Standard Jet DB");
        testing::WriteBytes(File("sw.mdb"), header);
        database_ = "odbc:Driver={Microsoft Access Driver (*.mdb)};Dbq=" + DriverPath(File("sw.mdb")) + ";";
        break;
      }
    }
  }
  // The SQLite file that holds the tables: the database itself, or the
  // stand-in's tables beside a Jet file.
  std::filesystem::path Store() const {
    return GetParam() == Engine::kOdbcJet ? File("sw.mdb.standin") : File("sw.db");
  }
  void TearDown() override {
    if (GetParam() == Engine::kOdbcPostgres && !database_.empty()) DropTables();
    TempDirTest::TearDown();
  }

  void Create(const DatabaseSizes& sizes) {
    const Status created = GetParam() == Engine::kSqlite
                               ? CreateSwitcherDatabase(database_, sizes)
                               : CreateOdbcSwitcherDatabase(ParseDatabaseLocation(database_).value, sizes);
    ASSERT_TRUE(created.ok()) << created.why();
  }
  // `database` is a SQLite file or "odbc:" and a connection string.
  static std::unique_ptr<SwitcherDatabase> Open(const std::string& database, bool track = false) {
    return Open(database, DatabaseOptions{track, 2000});
  }
  static std::unique_ptr<SwitcherDatabase> Open(const std::string& database, const DatabaseOptions& options) {
    const DatabaseLocation location = ParseDatabaseLocation(database);
    if (!location.odbc()) return OpenSqliteDatabase(database, options);
    return OpenOdbcDatabase(location.value, options);
  }
  std::unique_ptr<SwitcherDatabase> Open(bool track = false) { return Open(database_, track); }

  // Every table, field by field in key order, as text: the same through
  // every engine for the same contents.
  std::string Dump() { return Dump(database_); }
  static std::string Dump(const std::string& database) {
    auto db = Open(database);
    std::ostringstream out;
    for (const TableDef& t : SwitcherSchema(DatabaseSizes{})) {
      auto records = db->OpenRecordset(t.name, t.key);
      out << t.name << '\n';
      for (records->MoveFirst(); !records->AtEnd(); records->MoveNext()) {
        out << FieldValueText(records->Key());
        for (const auto& field : t.fields) out << '|' << FieldValueText(records->Field(field.first));
        out << '\n';
      }
    }
    db->Rollback();
    return out.str();
  }

  // Converts `workbook` into this engine's database; the problems as text.
  std::string Convert(const std::string& workbook, const std::string& database) {
    struct Chooser : FileChooser {
      std::vector<std::string> answers;
      std::string GetFileName(const std::string&, const std::string&, int) override {
        std::string next = answers.front();
        answers.erase(answers.begin());
        return next;
      }
    } chooser;
    chooser.answers = {database, workbook};
    struct Yes : OverwriteQuestion {
      bool Ask(const std::string&, const std::string&) override { return true; }
    } yes;
    struct Quiet : StatusSink {
      void SetStatus(const std::string&) override {}
    } quiet;
    const auto out = dir_ / ("out" + std::to_string(++runs_));
    std::filesystem::create_directories(out);
    RunContext ctx{chooser, yes, quiet, false, out, false};
    auto vars = std::make_unique<Variables>();
    const RunResult r = ConversionRun(*vars, ctx);
    EXPECT_EQ(r.outcome, RunResult::Outcome::kCompleted) << r.reason;
    std::string problems;
    for (const auto& p : r.problems.list()) problems += p.ToString() + "\n";
    return problems;
  }

  // Runs `sql` on this engine's database outside any run.
  void Sql(const std::string& sql) { ASSERT_TRUE(TrySql(sql)) << sql.substr(0, 80); }
  // False where the database refuses `sql`.
  bool TrySql(const std::string& sql) {
    if (GetParam() != Engine::kOdbcPostgres) {
      try {
        testing::Exec(Store(), sql);
        return true;
      } catch (const std::runtime_error&) {
        return false;
      }
    }
    std::ofstream(File("statement.sql")) << sql << ";\n";
    const std::string command = std::string("psql -q -v ON_ERROR_STOP=1 -h '") + KVR_TEST_POSTGRES_DIR +
                                "' -U kvr -d switcher -f '" + File("statement.sql").string() + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
  }

  void DropTables() {
    const char* dir = KVR_TEST_POSTGRES_DIR;
    std::string sql;
    for (const std::string_view t : kSwitcherTables) sql += "DROP TABLE IF EXISTS \\\"" + std::string(t) + "\\\"; ";
    sql += "DROP TABLE IF EXISTS \\\"Plain\\\"; ";
    const std::string command = std::string("psql -q -h '") + dir + "' -U kvr -d switcher -c \"" + sql + "\" >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
  }

  std::string database_;
  int runs_ = 0;
};

// The example plant, and a workbook with every kind of problem a table step
// meets (text too long, numbers out of range, rows beyond the tables, a
// numbering gap), leave the same tables and the same problems as SQLite
// directly, the database place aside.
TEST_P(EnginesTest, ConversionsLeaveTheSameTables) {
  const std::string plant = std::string(KVR_EXAMPLES_DIR) + "/plant.xlsx";
  const std::string faulty = File("faulty.xlsx").string();
  using testing::SheetRows;
  const std::string s = "x";
  testing::WriteXlsx(
      faulty,
      {{"System", {{std::string("Name:"), std::string("Plant Ü")}, {std::string("Inputs"), 3.0},
                   {std::string("Outputs"), 2.0}, {std::string("Consoles"), 0.0}}},
       {"Sources", {{std::string("Chan"), std::string("Chan Label"), std::string("Location #"), std::string("Notes")},
                    {1.0, std::string("Mikrofon Ü1"), 40000.0, std::string(300, 'n')},
                    {2.0, std::string("0"), 3.0, std::string("kept")},
                    {4.0, std::string("gap"), 1.0, std::monostate{}}}},
       {"Destinations", {{std::string("Chan"), std::string("Bus Type #"), std::string("RelayControl")},
                         {1.0, 3.5, 300.0}, {2.0, 4.0, 2.0}, {3.0, 6.0, 1.0}}},
       {"Opto", {{std::string("Chan"), std::string("Name")}, {1.0, s}, {2.0, s}, {3.0, s}, {4.0, s}, {5.0, s}}},
       {"Location", {{std::string("#"), std::string("Location Name")}, {1.0, std::string("Studio A Control Room")}}},
       {"RC", {{std::string("#"), std::string("Set Name"), std::string("Opto 1")}, {1.0, std::string("Set"), 2.0}}}});
  for (const std::string& workbook : {plant, faulty}) {
    // The reference: the same workbook into a SQLite file directly.
    const std::string native = File("native" + std::to_string(runs_) + ".db").string();
    ASSERT_TRUE(CreateSwitcherDatabase(native, DatabaseSizes{}).ok());
    const std::string native_problems = Convert(workbook, native);

    if (GetParam() == Engine::kOdbcPostgres) DropTables();
    std::filesystem::remove(Store());
    Create(DatabaseSizes{});
    std::string problems = Convert(workbook, database_);
    EXPECT_EQ(Dump(), Dump(native)) << workbook;
    // Problems name the database by its file or connection: compare the rest.
    auto strip = [](std::string text, const std::string& place) {
      for (std::size_t at; (at = text.find(place)) != std::string::npos;) text.replace(at, place.size(), "DB");
      return text;
    };
    EXPECT_EQ(strip(problems, database_.substr(database_.rfind(kOdbcPrefix, 0) == 0 ? kOdbcPrefix.size() : 0)),
              strip(native_problems, native))
        << workbook;
  }
}

// A new database of any size holds records 1 to n of each table with every
// field at its default, as a SQLite file made directly does.
TEST_P(EnginesTest, NewTablesHoldKeysOneToN) {
  const DatabaseSizes sizes{1000, 3, 0, 1, 129};
  Create(sizes);
  const std::string native = File("native.db").string();
  ASSERT_TRUE(CreateSwitcherDatabase(native, sizes).ok());
  EXPECT_EQ(Dump(), Dump(native));
  // Each key is its table's primary key.
  for (const TableDef& t : SwitcherSchema(sizes)) {
    if (t.records == 0) continue;
    EXPECT_FALSE(TrySql("INSERT INTO \"" + std::string(t.name) + "\" (\"" + std::string(t.key) + "\") VALUES (1)")) << t.name;
  }
}

// The engine contract: typed fields refuse what does not fit, a rollback
// keeps nothing, a commit keeps everything, missing tables and fields are
// errors, and a dry run records each change.
TEST_P(EnginesTest, TransactionsAndTypedFields) {
  Create(DatabaseSizes{3, 3, 1, 1, 1});
  {
    auto db = Open();
    EXPECT_THROW(db->OpenRecordset("NoSuchTable", "Chan Num"), DatabaseError);
    EXPECT_THROW(db->OpenRecordset("InptAlphas", "NoSuchKey"), DatabaseError);
    auto records = db->OpenRecordset("inptalphas", "chan num");  // names match without regard to case
    records->MoveFirst();
    ASSERT_FALSE(records->AtEnd());
    EXPECT_EQ(records->Key(), FieldValue{std::int64_t{1}});
    EXPECT_EQ(records->Field("Label"), FieldValue{std::string("")});  // read before it is written
    records->Edit();
    EXPECT_THROW(records->Assign("Label", std::string("123456789")), DatabaseError);  // VARCHAR(8)
    EXPECT_THROW(records->Assign("Location", std::int64_t{40000}), DatabaseError);   // SMALLINT
    EXPECT_THROW(records->Assign("NoSuchField", std::int64_t{1}), DatabaseError);
    records->Assign("Label", std::string("Größe Sü"));  // 8 characters, 10 bytes
    records->Assign("Location", std::int64_t{-32768});
    records->Update();
    EXPECT_EQ(records->Field("Label"), FieldValue{std::string("Größe Sü")});  // the record as written
    EXPECT_EQ(records->Field("Location"), FieldValue{std::int64_t{-32768}});
    db->Rollback();
  }
  EXPECT_NE(Dump().find("\n1|\"\"|\"\"|0|"), std::string::npos);  // rolled back
  {
    auto db = Open(true);
    auto records = db->OpenRecordset("InptAlphas", "Chan Num");
    records->MoveFirst();
    records->MoveNext();
    records->Edit();
    records->Assign("Label", std::string("Größe Sü"));
    records->Assign("Location", std::int64_t{-32768});
    records->Update();
    ASSERT_EQ(db->Changes().list().size(), 2u);
    EXPECT_EQ(db->Changes().list()[0].key, "Chan Num 2");
    EXPECT_EQ(db->Changes().list()[1].before, FieldValue{std::int64_t{0}});
    db->Commit();
  }
  EXPECT_NE(Dump().find("\n2|\"Größe Sü\"|\"\"|0|0|\"\"|-32768|"), std::string::npos);  // Linked, Hidden, Notes, Location
  // A one-byte field takes 0 to 255 where the table keeps it in one byte
  // (SQLite's TINYINT, Jet's BYTE); the other engines' tables keep it as
  // SMALLINT.
  auto db = Open();
  auto outputs = db->OpenRecordset("OutptAlphas", "Chan Num");
  outputs->MoveFirst();
  outputs->Edit();
  if (GetParam() == Engine::kSqlite || GetParam() == Engine::kOdbcJet) {
    EXPECT_THROW(outputs->Assign("RelayControl", std::int64_t{256}), DatabaseError);
    EXPECT_THROW(outputs->Assign("RelayControl", std::int64_t{-1}), DatabaseError);
  } else {
    EXPECT_NO_THROW(outputs->Assign("RelayControl", std::int64_t{256}));
  }
  EXPECT_NO_THROW(outputs->Assign("RelayControl", std::int64_t{255}));
  outputs.reset();
  db->Rollback();
}

// A connection given up with its transaction open rolls it back: nothing of
// it is kept, and the next connection is not kept waiting by its locks.
TEST_P(EnginesTest, AConnectionGivenUpMidTransactionHoldsNothing) {
  Create(DatabaseSizes{3, 3, 1, 1, 1});
  auto edit = [](SwitcherDatabase& db, const std::string& label) {
    auto records = db.OpenRecordset("InptAlphas", "Chan Num");
    records->MoveFirst();
    records->Edit();
    records->Assign("Label", label);
    records->Update();
  };
  {
    auto db = Open();
    edit(*db, "dropped");
  }  // neither committed nor rolled back
  {
    auto db = Open();  // waits at most its lock wait for another's locks
    ASSERT_NO_THROW(edit(*db, "kept"));
    ASSERT_NO_THROW(db->Commit());
  }
  EXPECT_NE(Dump().find("\n1|\"kept\"|"), std::string::npos);
  EXPECT_EQ(Dump().find("dropped"), std::string::npos);
}

// The ways the ODBC engine sends updates: joined to a list of VALUES rows
// (where the engine takes it; where it has arrays, with each record's
// numbers in one array, or each value alone), parameter arrays, and one row
// a call. SQLite directly has one way, run under each name.
struct WritePath {
  const char* name;
  std::size_t rows_per_call;
  bool join_updates;
  bool pack_numbers = true;
};
constexpr WritePath kWritePaths[] = {{"joined", 512, true},
                                     {"joined, each value alone", 512, true, false},
                                     {"arrays", 512, false},
                                     {"one row a call", 1, true}};

DatabaseOptions OptionsFor(const WritePath& path) {
  DatabaseOptions options{false, 2000, true};
  options.rows_per_call = path.rows_per_call;
  options.join_updates = path.join_updates;
  options.pack_numbers = path.pack_numbers;
  return options;
}

// A table without a primary key, its rows stored out of order: keys shared
// (2 twice; 511 three times, across the end of the first range read), a
// Null key, and more rows than a block. Each record's Label is written
// from its own Tag (the even ones all alike), on every write path: a record
// is written with its own values or, where the driver cannot address it
// alone, not at all, never with another's.
TEST_P(EnginesTest, EveryRecordIsAddressedAlone) {
  std::vector<std::string> rows;
  for (int k = 1; k <= 5000; ++k) rows.push_back(std::to_string(k));
  rows.push_back("2");
  rows.push_back("511");
  rows.push_back("511");
  rows.push_back("NULL");
  std::vector<std::size_t> order(rows.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = (i * 7919) % order.size();  // a fixed shuffle
  std::string insert = "INSERT INTO \"Plain\" (\"Chan Num\", \"Tag\", \"Label\") VALUES ";
  for (std::size_t i = 0; i < order.size(); ++i) {
    insert += std::string(i == 0 ? "" : ",") + "(" + rows[order[i]] + ", " + std::to_string(order[i]) + ", '')";
  }
  // Even tags all take one label (written together), odd ones their own.
  auto Expected = [](const FieldValue& tag) -> FieldValue {
    const auto* n = std::get_if<std::int64_t>(&tag);
    if (n != nullptr && *n % 2 == 0) return std::string("even");
    return "T" + FieldValueText(tag);
  };
  // The driver's own way of addressing a record: SQLite's rowid, directly
  // and through its ODBC driver; none through PostgreSQL's or Jet's.
  const bool alone = GetParam() == Engine::kSqlite || GetParam() == Engine::kOdbcSqlite;
  for (const WritePath& path : kWritePaths) {
    SCOPED_TRACE(path.name);
    Sql("DROP TABLE IF EXISTS \"Plain\"");
    Sql("CREATE TABLE \"Plain\" (\"Chan Num\" SMALLINT, \"Tag\" INTEGER, \"Label\" VARCHAR(8))");
    Sql(insert);
    for (int pass = 0; pass < 2; ++pass) {
      auto db = Open(database_, OptionsFor(path));
      auto records = db->OpenRecordset("Plain", "Chan Num");
      std::vector<std::string> refused;
      for (records->MoveFirst(); !records->AtEnd(); records->MoveNext()) {
        records->Edit();
        records->Assign("Label", Expected(records->Field("Tag")));
        try {
          records->Update();
        } catch (const DatabaseError&) {
          refused.push_back(FieldValueText(records->Key()));
        }
      }
      records->Flush([](const Where& place, const std::string& why) { ADD_FAILURE() << place.ToString() << ": " << why; });
      const auto counts = db->Changes().counts();
      const int changed = counts.count("Plain") ? counts.at("Plain").records : 0;
      db->Commit();
      const std::vector<std::string> shared = {"Null", "2", "2", "511", "511", "511"};
      if (alone) {
        EXPECT_TRUE(refused.empty());
      } else {
        std::sort(refused.begin(), refused.end());
        EXPECT_EQ(refused, (std::vector<std::string>{"2", "2", "511", "511", "511", "Null"}));
      }
      // The first pass writes every record it can address; the second, the same values, changes none.
      EXPECT_EQ(changed, pass == 0 ? static_cast<int>(rows.size() - (alone ? 0 : shared.size())) : 0);
    }
    auto db = Open(database_, DatabaseOptions{});
    auto records = db->OpenRecordset("Plain", "Chan Num");
    int written = 0, wrong = 0;
    for (records->MoveFirst(); !records->AtEnd(); records->MoveNext()) {
      const FieldValue label = records->Field("Label");
      if (label == Expected(records->Field("Tag"))) ++written;
      else if (label != FieldValue{std::string()}) ++wrong;
    }
    db->Rollback();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(written, static_cast<int>(rows.size()) - (alone ? 0 : 6));
  }
}

// Records that change different fields, some of them twice in one
// recordset (a second walk after the first, as the aux numbering follows
// the merge), and two values the database itself refuses (a CHECK
// constraint), on every write path: each record keeps the fields it does
// not change, takes both walks' values, and only the two refused records
// are reported and left as they were. The first 300 records change one
// field or the other or both, in groups too small for statements of their
// own (so fields are written by flag); the rest change both.
TEST_P(EnginesTest, RefusedValuesFailOnlyTheirRecords) {
  constexpr int kRecords = 1500;
  for (const WritePath& path : kWritePaths) {
    SCOPED_TRACE(path.name);
    Sql("DROP TABLE IF EXISTS \"Plain\"");
    Sql("CREATE TABLE \"Plain\" (\"Chan Num\" SMALLINT NOT NULL PRIMARY KEY, \"Label\" VARCHAR(8), \"Other\" INTEGER, "
        "CHECK (\"Label\" <> 'L78'), CHECK (\"Other\" <> 100))");
    std::string insert = "INSERT INTO \"Plain\" (\"Chan Num\", \"Label\", \"Other\") VALUES ";
    for (int k = 1; k <= kRecords; ++k) {
      insert += (k == 1 ? "(" : ",(") + std::to_string(k) + ", 'I" + std::to_string(k) + "', " + std::to_string(-k) + ")";
    }
    Sql(insert);
    auto db = Open(database_, OptionsFor(path));
    auto records = db->OpenRecordset("Plain", "Chan Num");
    std::vector<std::string> refused;
    // Walk 1 gives a label to records k % 3 != 1, walk 2 another number to k % 3 != 0.
    auto label_changes = [](std::int64_t k) { return k > 300 || k % 3 != 1; };
    auto other_changes = [](std::int64_t k) { return k > 300 || k % 3 != 0; };
    for (int walk = 1; walk <= 2; ++walk) {
      for (records->MoveFirst(); !records->AtEnd(); records->MoveNext()) {
        const auto k = std::get<std::int64_t>(records->Key());
        if (!(walk == 1 ? label_changes(k) : other_changes(k))) continue;
        records->Edit();
        if (walk == 1) records->Assign("Label", "L" + std::to_string(k));
        else records->Assign("Other", k);
        try {
          records->Update();
        } catch (const DatabaseError&) {
          refused.push_back(FieldValueText(records->Key()));
        }
      }
    }
    records->Flush([&](const Where& place, const std::string&) { refused.push_back(place.ToString()); });
    records.reset();
    db->Commit();
    ASSERT_EQ(refused.size(), 2u);
    std::sort(refused.begin(), refused.end());
    EXPECT_NE(refused[0].find("100"), std::string::npos) << refused[0];
    EXPECT_NE(refused[1].find("78"), std::string::npos) << refused[1];

    db = Open(database_, DatabaseOptions{});
    records = db->OpenRecordset("Plain", "Chan Num");
    int right = 0;
    for (records->MoveFirst(); !records->AtEnd(); records->MoveNext()) {
      const auto k = std::get<std::int64_t>(records->Key());
      const bool kept = k == 78 || k == 100;
      const FieldValue label = label_changes(k) && !kept ? FieldValue{"L" + std::to_string(k)} : FieldValue{"I" + std::to_string(k)};
      const FieldValue other = other_changes(k) && !kept ? FieldValue{k} : FieldValue{-k};
      if (records->Field("Label") == label && records->Field("Other") == other) ++right;
      else ADD_FAILURE() << "Chan Num " << k << ": " << FieldValueText(records->Field("Label")) << ", "
                         << FieldValueText(records->Field("Other"));
      if (right + 5 < k) break;  // a fault shows in the first few
    }
    db->Rollback();
    EXPECT_EQ(right, kRecords);
  }
}

// A table of 35 fields, each record changing its own 4 in 11 of them: more
// fields written by only some records than one mask of flags holds; the
// values written are positive, negative, or Null. Each
// record's note is longer than the last's, so a statement run again (the
// same shape, chunk after chunk, or row after row) meets texts longer than
// those its parameters were first bound for.
TEST_P(EnginesTest, ManyFieldsChangedBySomeRecords) {
  constexpr int kFields = 35, kRecords = 400;
  auto changes = [](int k, int f) { return (k + 7 * f) % 11 < 4; };
  auto written = [](int k, int f) -> FieldValue {
    if ((k + f) % 5 == 0) return {};
    return std::int64_t{(k % 2 == 0 ? 1 : -1) * (k * 100 + f)};
  };
  auto note = [](int k) { return std::to_string(k) + std::string(static_cast<std::size_t>(k / 4), 'n'); };
  for (const WritePath& path : kWritePaths) {
    SCOPED_TRACE(path.name);
    Sql("DROP TABLE IF EXISTS \"Plain\"");
    std::string create = "CREATE TABLE \"Plain\" (\"Chan Num\" SMALLINT NOT NULL PRIMARY KEY, \"Note\" VARCHAR(255)";
    for (int f = 0; f < kFields; ++f) create += ", \"F" + std::to_string(f) + "\" INTEGER";
    Sql(create + ")");
    std::string insert = "INSERT INTO \"Plain\" (\"Chan Num\"";
    for (int f = 0; f < kFields; ++f) insert += ", \"F" + std::to_string(f) + "\"";
    insert += ") VALUES ";
    for (int k = 1; k <= kRecords; ++k) {
      insert += (k == 1 ? "(" : ",(") + std::to_string(k);
      for (int f = 0; f < kFields; ++f) insert += ", -1";
      insert += ")";
    }
    Sql(insert);
    {
      auto db = Open(database_, OptionsFor(path));
      auto records = db->OpenRecordset("Plain", "Chan Num");
      for (records->MoveFirst(); !records->AtEnd(); records->MoveNext()) {
        const auto k = static_cast<int>(std::get<std::int64_t>(records->Key()));
        records->Edit();
        records->Assign("Note", note(k));
        for (int f = 0; f < kFields; ++f) {
          if (changes(k, f)) records->Assign("F" + std::to_string(f), written(k, f));
        }
        records->Update();
      }
      records->Flush([](const Where& place, const std::string& why) { ADD_FAILURE() << place.ToString() << ": " << why; });
      records.reset();
      db->Commit();
    }
    auto db = Open(database_, DatabaseOptions{});
    auto records = db->OpenRecordset("Plain", "Chan Num");
    int wrong = 0;
    for (records->MoveFirst(); !records->AtEnd(); records->MoveNext()) {
      const auto k = static_cast<int>(std::get<std::int64_t>(records->Key()));
      if (records->Field("Note") != FieldValue{note(k)} && ++wrong <= 5) {
        ADD_FAILURE() << "Chan Num " << k << ", Note: " << FieldValueText(records->Field("Note"));
      }
      for (int f = 0; f < kFields; ++f) {
        const FieldValue want = changes(k, f) ? written(k, f) : FieldValue{std::int64_t{-1}};
        if (records->Field("F" + std::to_string(f)) != want && ++wrong <= 5) {
          ADD_FAILURE() << "Chan Num " << k << ", F" << f << ": " << FieldValueText(records->Field("F" + std::to_string(f)));
        }
      }
    }
    db->Rollback();
    EXPECT_EQ(wrong, 0);
  }
}

// Records read ahead, none, some or all of them, are those the table is
// then opened with: their fields as stored, changed as any others. A table
// that cannot be read is left for its opening to report, and one read
// ahead but never opened keeps the commit whole.
TEST_P(EnginesTest, ReadAheadServesTheSameRecords) {
  constexpr int kRecords = 1500;  // three ranges as the ODBC engine reads them
  Sql("DROP TABLE IF EXISTS \"Plain\"");
  Sql("CREATE TABLE \"Plain\" (\"Chan Num\" SMALLINT NOT NULL PRIMARY KEY, \"Label\" VARCHAR(8), \"Other\" INTEGER)");
  std::string insert = "INSERT INTO \"Plain\" (\"Chan Num\", \"Label\", \"Other\") VALUES ";
  for (int k = 1; k <= kRecords; ++k) {
    insert += (k == 1 ? "(" : ",(") + std::to_string(k) + ", 'I" + std::to_string(k) + "', " + std::to_string(-k) + ")";
  }
  Sql(insert);
  // How many reads each run lets through before it says enough.
  for (const int reads : {0, 1, 2, 100}) {
    SCOPED_TRACE("reads " + std::to_string(reads));
    const std::string label = "R" + std::to_string(reads);
    {
      auto db = Open();
      int asked = 0;
      auto enough = [&] { return asked++ >= reads; };
      db->ReadAhead("Plain", "Other", 600, enough);  // by another key: never opened
      asked = 0;
      db->ReadAhead("plain", "chan num", kRecords, enough);
      db->ReadAhead("No Such Table", "Chan Num", 10, [] { return false; });
      EXPECT_THROW(db->OpenRecordset("No Such Table", "Chan Num"), DatabaseError);
      auto records = db->OpenRecordset("Plain", "Chan Num");
      int as_stored = 0;
      std::int64_t last = 0;
      for (records->MoveFirst(); !records->AtEnd(); records->MoveNext()) {
        const auto k = std::get<std::int64_t>(records->Key());
        if (k == last + 1 && records->Field("Other") == FieldValue{-k}) ++as_stored;  // in key order, as stored
        last = k;
        records->Edit();
        records->Assign("Label", label + std::to_string(k));
        records->Update();
      }
      EXPECT_EQ(as_stored, kRecords);
      records->Flush([](const Where& place, const std::string& why) { ADD_FAILURE() << place.ToString() << ": " << why; });
      records.reset();
      db->Commit();
    }
    auto db = Open();
    auto records = db->OpenRecordset("Plain", "Chan Num");
    int written = 0;
    for (records->MoveFirst(); !records->AtEnd(); records->MoveNext()) {
      const auto k = std::get<std::int64_t>(records->Key());
      if (records->Field("Label") == FieldValue{label + std::to_string(k)}) ++written;
    }
    db->Rollback();
    EXPECT_EQ(written, kRecords);
  }
}

// A second walk over a recordset (the aux numbering after the merge) that
// asks for fewer fields than the first, past the records the first walk
// reached, and for one more field in the middle of a block of records: every
// field reads as stored, every change is written.
TEST_P(EnginesTest, ALaterWalkReadsWhatItAsksFor) {
  constexpr int kRecords = 2000;  // ranges of 512, 1024 and the rest
  auto note = [](std::int64_t k) { return "Note " + std::to_string(k) + std::string(static_cast<std::size_t>(k % 200), '.'); };
  Sql("DROP TABLE IF EXISTS \"Plain\"");
  Sql("CREATE TABLE \"Plain\" (\"Chan Num\" SMALLINT NOT NULL PRIMARY KEY, \"Label\" VARCHAR(8), \"Other\" INTEGER, "
      "\"Note\" VARCHAR(255))");
  std::string insert = "INSERT INTO \"Plain\" (\"Chan Num\", \"Label\", \"Other\", \"Note\") VALUES ";
  for (int k = 1; k <= kRecords; ++k) {
    insert += (k == 1 ? "(" : ",(") + std::to_string(k) + ", 'I" + std::to_string(k) + "', " + std::to_string(-k) +
              ", '" + note(k) + "')";
  }
  Sql(insert);
  auto db = Open();
  auto records = db->OpenRecordset("Plain", "Chan Num");
  int wrong = 0;
  auto expect = [&](const char* field, const FieldValue& want) {
    if (records->Field(field) != want && ++wrong <= 5) {
      ADD_FAILURE() << FieldValueText(records->Key()) << ", " << field << ": " << FieldValueText(records->Field(field));
    }
  };
  for (records->MoveFirst(); !records->AtEnd(); records->MoveNext()) {  // the first 300, every field
    const auto k = std::get<std::int64_t>(records->Key());
    if (k > 300) break;
    expect("Label", "I" + std::to_string(k));
    records->Edit();
    records->Assign("Label", "L" + std::to_string(k));
    records->Update();
  }
  for (records->MoveFirst(); !records->AtEnd(); records->MoveNext()) {  // all, one field; another now and then
    const auto k = std::get<std::int64_t>(records->Key());
    expect("Other", -k);
    if (k == 1000 || k > 1600) expect("Note", note(k));
    if (k % 250 == 0) expect("Label", (k <= 300 ? "L" : "I") + std::to_string(k));
    records->Edit();
    records->Assign("Other", k);
    if (k == 1000) records->Assign("Note", "changed");
    records->Update();
  }
  records->Flush([](const Where& place, const std::string& why) { ADD_FAILURE() << place.ToString() << ": " << why; });
  records.reset();
  db->Commit();
  db = Open();
  records = db->OpenRecordset("Plain", "Chan Num");
  for (records->MoveFirst(); !records->AtEnd(); records->MoveNext()) {
    const auto k = std::get<std::int64_t>(records->Key());
    expect("Label", (k <= 300 ? "L" : "I") + std::to_string(k));
    expect("Other", k);
    expect("Note", k == 1000 ? "changed" : note(k));
  }
  db->Rollback();
  EXPECT_EQ(wrong, 0);
}

// One run's work on the database, as a conversion does it: open, read
// records 1 and 2, write the fields where its plant differs from what it
// read, keep the changes. False when the run did not keep its plant whole
// (refused at open, a record not written, the commit refused).
struct PlantState {
  std::string label;
  std::int64_t hidden;
};
bool WritePlant(SwitcherDatabase& db, const PlantState& plant) {
  bool whole = true;
  try {
    auto records = db.OpenRecordset("InptAlphas", "Chan Num");
    int n = 0;
    for (records->MoveFirst(); !records->AtEnd() && n < 2; records->MoveNext(), ++n) {
      records->Edit();
      if (records->Field("Label") != FieldValue{plant.label}) records->Assign("Label", plant.label);
      if (records->Field("Hidden") != FieldValue{plant.hidden}) records->Assign("Hidden", plant.hidden);
      records->Update();
    }
    records->Flush([&](const Where&, const std::string&) { whole = false; });
    records.reset();
    if (!whole) {
      db.Rollback();
      return false;
    }
    db.Commit();
    return true;
  } catch (const DatabaseError&) {
  } catch (const DatabaseFailure&) {
  }
  db.Rollback();
  return false;
}

// Two runs into one database at once, the second starting at several points
// of the first: each ends with its plant kept whole or with nothing kept,
// and the database holds one plant or the other, never fields of both.
TEST_P(EnginesTest, ConcurrentRunsLeaveOnePlantOrTheOther) {
  const PlantState a{"Plant A", 1}, b{"Plant B", 0};
  for (int offset = 0; offset < 3; ++offset) {
    SCOPED_TRACE("offset " + std::to_string(offset));
    if (GetParam() == Engine::kOdbcPostgres) DropTables();
    std::filesystem::remove(Store());
    Create(DatabaseSizes{2, 1, 1, 1, 1});
    DatabaseOptions options{false, 3000};
    std::unique_ptr<SwitcherDatabase> first = Open(database_, options);
    std::future<bool> second;
    auto start_second = [&] {
      second = std::async(std::launch::async, [&] {
        std::unique_ptr<SwitcherDatabase> db;
        try {
          db = Open(database_, options);
        } catch (const DatabaseError&) {
          return false;  // refused: the other run holds the database
        } catch (const DatabaseFailure&) {
          return false;
        }
        return WritePlant(*db, b);
      });
    };
    // 0: the second run starts before the first reads; 1: after it has
    // written, before it keeps; 2: just before it keeps.
    if (offset == 0) start_second();
    std::this_thread::sleep_for(std::chrono::milliseconds(offset == 0 ? 200 : 0));
    if (offset == 1) start_second();
    bool first_kept = false;
    {
      bool whole = true;
      try {
        auto records = first->OpenRecordset("InptAlphas", "Chan Num");
        int n = 0;
        for (records->MoveFirst(); !records->AtEnd() && n < 2; records->MoveNext(), ++n) {
          records->Edit();
          records->Assign("Label", a.label);
          records->Assign("Hidden", a.hidden);
          records->Update();
        }
        records->Flush([&](const Where&, const std::string&) { whole = false; });
        if (offset == 2) start_second();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        records.reset();
        if (whole) {
          first->Commit();
          first_kept = true;
        }
      } catch (const DatabaseError&) {
      } catch (const DatabaseFailure&) {
      }
      if (!first_kept) first->Rollback();
      first.reset();
    }
    const bool second_kept = second.get();
    const std::string dump = Dump();
    const bool holds_a = dump.find("\n1|\"Plant A\"|\"\"|0|1|") != std::string::npos &&
                         dump.find("\n2|\"Plant A\"|\"\"|0|1|") != std::string::npos;
    const bool holds_b = dump.find("\n1|\"Plant B\"|\"\"|0|0|") != std::string::npos &&
                         dump.find("\n2|\"Plant B\"|\"\"|0|0|") != std::string::npos;
    EXPECT_TRUE(first_kept || second_kept);
    EXPECT_TRUE(holds_a || holds_b) << dump.substr(0, 200);
    if (!second_kept) {
      EXPECT_TRUE(holds_a) << dump.substr(0, 200);
    }
    if (!first_kept) {
      EXPECT_TRUE(holds_b) << dump.substr(0, 200);
    }
    // SQLite locks the file for the first run from its start: the second
    // waits for it to end, then reads what it kept and keeps its own plant.
    // (Which run a Jet file keeps depends on the engine's record locks,
    // which the stand-in's SQLite file does not have.)
    if (GetParam() == Engine::kSqlite || GetParam() == Engine::kOdbcSqlite) {
      EXPECT_TRUE(first_kept && second_kept && holds_b) << dump.substr(0, 200);
    }
  }
}

// Runs `wait` (a run kept waiting by another's lock) beside this thread,
// asks for a stop `after_ms` later, and returns how many seconds the run
// took to end once asked.
double SecondsToStop(const std::function<void()>& wait, int after_ms) {
  auto waiting = std::async(std::launch::async, wait);
  std::this_thread::sleep_for(std::chrono::milliseconds(after_ms));
  const auto asked = std::chrono::steady_clock::now();
  RequestInterrupt();
  EXPECT_EQ(waiting.wait_for(std::chrono::seconds(3)), std::future_status::ready);
  waiting.get();
  ClearInterrupt();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
}

// A record another program holds locked: the run gives up after its lock
// wait, and a stop asked for while it waits ends the wait within a second;
// either way it rolls back and the holder's work is untouched.
//
// Jet waits for a held record on its own, LockRetry times LockDelay ms
// (2 s by default), whatever wait the run asks for, and its lock conflict
// is an error of the engine's: the run ends at the end of that wait, once,
// and a stop cannot end it sooner than Jet's wait does.
TEST_P(EnginesTest, LockWaitsAreBoundedAndAStopEndsThem) {
  const bool jet = GetParam() == Engine::kOdbcJet;
  Create(DatabaseSizes{2, 1, 1, 1, 1});
  auto holder = Open(database_, DatabaseOptions{false, 1000});
  {
    auto records = holder->OpenRecordset("InptAlphas", "Chan Num");
    records->MoveFirst();
    records->Edit();
    records->Assign("Label", std::string("held"));
    records->Update();
    records->Flush([](const Where&, const std::string&) {});
  }
  using Clock = std::chrono::steady_clock;
  auto write = [&](int wait_ms) {
    const auto start = Clock::now();
    try {
      auto db = Open(database_, DatabaseOptions{false, wait_ms});
      auto records = db->OpenRecordset("InptAlphas", "Chan Num");
      records->MoveFirst();
      records->Edit();
      records->Assign("Label", std::string("waited"));
      records->Update();
      records->Flush([](const Where&, const std::string&) {});
      records.reset();
      db->Commit();
      ADD_FAILURE() << "wrote over a held lock";
    } catch (const DatabaseError&) {
    } catch (const DatabaseFailure&) {
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  const double gave_up = write(1000);
  EXPECT_GE(gave_up, 0.9);
  EXPECT_LT(gave_up, jet ? 2.0 + 0.9 : 1.0 + 0.9);  // one wait, not one for each try
  EXPECT_LT(SecondsToStop([&] { write(30000); }, 500), jet ? 2.0 : 1.0);
  holder->Commit();
  holder.reset();
  EXPECT_NE(Dump().find("\n1|\"held\"|"), std::string::npos);
}

// A whole table locked by another session (PostgreSQL): the driver's own
// catalogue queries would wait for it as long as it is held; the run gives
// up after its lock wait, and a stop ends the wait within a second.
TEST_P(EnginesTest, ATableLockedElsewhereIsWaitedForBoundedly) {
  if (GetParam() != Engine::kOdbcPostgres) GTEST_SKIP() << "a table lock of a server's session";
  Create(DatabaseSizes{2, 1, 1, 1, 1});
  const std::string holder = std::string("psql -q -h '") + KVR_TEST_POSTGRES_DIR +
                             "' -U kvr -d switcher -c 'BEGIN; LOCK TABLE \"InptAlphas\"; SELECT pg_sleep(4); COMMIT;'"
                             " >/dev/null 2>&1 &";
  ASSERT_EQ(std::system(holder.c_str()), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  using Clock = std::chrono::steady_clock;
  auto open = [&](int wait_ms) {
    const auto start = Clock::now();
    try {
      auto db = Open(database_, DatabaseOptions{false, wait_ms});
      db->OpenRecordset("InptAlphas", "Chan Num");
      ADD_FAILURE() << "read a table another session holds locked";
    } catch (const DatabaseError& e) {
      EXPECT_NE(std::string(e.what()).find("is locked by another program"), std::string::npos) << e.what();
    } catch (const DatabaseFailure& e) {
      EXPECT_TRUE(InterruptRequested()) << e.what();
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  EXPECT_LT(open(1000), 1.0 + 1.0);
  EXPECT_LT(SecondsToStop([&] { open(30000); }, 300), 1.0);
}

// new-database stopped on its way makes nothing: the tables made so far go
// with the transaction.
TEST_P(EnginesTest, NewDatabaseStoppedMakesNoTable) {
  RequestInterrupt();
  bool stopped = false;
  try {
    Create(DatabaseSizes{});
  } catch (const RunInterrupted&) {
    stopped = true;
  } catch (const DatabaseFailure&) {
    stopped = true;  // a statement cancelled by the stop
  }
  ClearInterrupt();
  EXPECT_TRUE(stopped);
  if (GetParam() == Engine::kSqlite) {
    EXPECT_FALSE(std::filesystem::exists(File("sw.db")));
  } else {
    auto db = Open(database_, DatabaseOptions{});
    for (const std::string_view t : kSwitcherTables) {
      EXPECT_THROW(db->OpenRecordset(t, t == "OptoRelaySets" ? "SetNum" : "Chan Num"), DatabaseError) << t;
    }
  }
}

// Texts of every length around the limits drivers set for a text parameter,
// written in one walk so that each longer one binds its parameter anew, on
// every write path; row identifiers past 32 bits (SQLite's rowid); and a
// record a trigger keeps from being updated, which is reported, not
// counted as written.
TEST_P(EnginesTest, EveryTextReachesItsRecordExactly) {
  const std::vector<std::size_t> lengths = {0, 129, 255, 256, 300, 70000, 3, 140, 12};
  const std::size_t skipped = 8;  // the trigger's record
  for (const WritePath& path : kWritePaths) {
    SCOPED_TRACE(path.name);
    Sql("DROP TABLE IF EXISTS \"Plain\"");
    Sql("CREATE TABLE \"Plain\" (\"Chan Num\" SMALLINT, \"Notes\" TEXT)");
    std::string insert = "INSERT INTO \"Plain\" (\"Chan Num\", \"Notes\") VALUES ";
    for (std::size_t k = 1; k <= lengths.size(); ++k) insert += (k == 1 ? "(" : ",(") + std::to_string(k) + ", 'old')";
    Sql(insert);
    if (GetParam() == Engine::kOdbcPostgres) {
      Sql("CREATE OR REPLACE FUNCTION kvr_skip() RETURNS trigger AS $$ BEGIN RETURN NULL; END $$ LANGUAGE plpgsql");
      Sql("CREATE TRIGGER kvr_skip BEFORE UPDATE ON \"Plain\" FOR EACH ROW WHEN (OLD.\"Chan Num\" = " +
          std::to_string(skipped) + ") EXECUTE FUNCTION kvr_skip()");
    } else {
      Sql("UPDATE \"Plain\" SET rowid = rowid + 3000000000");  // past 2^31, past 2^32 too
      Sql("CREATE TRIGGER kvr_skip BEFORE UPDATE ON \"Plain\" WHEN OLD.\"Chan Num\" = " + std::to_string(skipped) +
          " BEGIN SELECT RAISE(IGNORE); END");
    }
    auto text = [](std::size_t k, std::size_t n) {
      std::string t;
      for (std::size_t i = 0; i < n; ++i) t += static_cast<char>('a' + (k + i) % 26);
      return n == 0 ? t : t.replace(0, 1, "\xC3\x9C");  // a character of two bytes first
    };
    auto db = Open(database_, OptionsFor(path));
    auto records = db->OpenRecordset("Plain", "Chan Num");
    std::vector<std::string> refused;
    for (records->MoveFirst(); !records->AtEnd(); records->MoveNext()) {
      const auto k = static_cast<std::size_t>(std::get<std::int64_t>(records->Key()));
      records->Edit();
      records->Assign("Notes", text(k, lengths[k - 1]));
      try {
        records->Update();
      } catch (const DatabaseError& e) {
        refused.push_back(FieldValueText(records->Key()) + ": " + e.what());
      }
    }
    records->Flush([&](const Where& place, const std::string& why) { refused.push_back(place.ToString() + ": " + why); });
    records.reset();
    db->Commit();
    ASSERT_EQ(refused.size(), 1u) << (refused.empty() ? "" : refused[0]);
    EXPECT_NE(refused[0].find("8"), std::string::npos) << refused[0];
    EXPECT_NE(refused[0].find(kReachedNoRecord), std::string::npos) << refused[0];

    db = Open(database_, DatabaseOptions{});
    records = db->OpenRecordset("Plain", "Chan Num");
    for (records->MoveFirst(); !records->AtEnd(); records->MoveNext()) {
      const auto k = static_cast<std::size_t>(std::get<std::int64_t>(records->Key()));
      const std::string want = k == skipped ? "old" : text(k, lengths[k - 1]);
      const FieldValue got = records->Field("Notes");
      const std::string* got_text = std::get_if<std::string>(&got);
      EXPECT_TRUE(got_text != nullptr && *got_text == want)
          << "Chan Num " << k << ": " << (got_text ? got_text->size() : 0) << " bytes, " << want.size() << " meant";
    }
    db->Rollback();
  }
}

// Two outputs that share a key on an engine that addresses records by their
// key: neither is written, and the aux numbering says so once for the key.
TEST_P(EnginesTest, RecordsSharingAKeyAreReportedOnce) {
  if (GetParam() != Engine::kOdbcPostgres) GTEST_SKIP() << "SQLite addresses each record by its rowid";
  Create(DatabaseSizes{});
  Sql("ALTER TABLE \"OutptAlphas\" DROP CONSTRAINT \"OutptAlphas_pkey\"");
  Sql("INSERT INTO \"OutptAlphas\" (\"Chan Num\") VALUES (2)");
  const std::string problems = Convert(std::string(KVR_EXAMPLES_DIR) + "/plant.xlsx", database_);
  std::size_t aux = 0;
  for (std::size_t at = 0; (at = problems.find("\"AuxId\" not written", at)) != std::string::npos; ++at) ++aux;
  EXPECT_EQ(aux, 1u) << problems;
  EXPECT_NE(problems.find("Chan Num 2"), std::string::npos) << problems;
}

INSTANTIATE_TEST_SUITE_P(AllEngines, EnginesTest,
                         ::testing::Values(Engine::kSqlite, Engine::kOdbcSqlite, Engine::kOdbcPostgres,
                                           Engine::kOdbcJet),
                         EngineName);

#if defined(_WIN32) && defined(KVR_TEST_JET_STANDIN)
// new-database with an .mdb name on Windows: the file made by the Jet
// driver's setup routine (SQLConfigDataSource, CREATE_DB; the stand-in's is
// registered in this Wine prefix for the test), its tables in Access SQL.
// A file that exists is left alone; a file made whose tables cannot be made
// is removed.
class JetNewDatabaseTest : public testing::TempDirTest {
 protected:
  static constexpr const wchar_t* kKey = L"SOFTWARE\\ODBC\\ODBCINST.INI\\Microsoft Access Driver (*.mdb)";
  void SetUp() override {
    TempDirTest::SetUp();
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const std::wstring setup = (std::filesystem::path(exe).parent_path() / L"kvr_jet_standin_setup.dll").wstring();
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    // Windows names the setup DLL by "Setup" (the Jet driver's is its own
    // DLL, named by "Driver" too); Wine's installer loads the one "Driver"
    // names. Its driver manager hands the connections to unixODBC whatever
    // the registry says.
    for (const wchar_t* name : {L"Setup", L"Driver"}) {
      RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(setup.c_str()),
                     static_cast<DWORD>((setup.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
  }
  void TearDown() override {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
    TempDirTest::TearDown();
  }
};

TEST_F(JetNewDatabaseTest, AnMdbIsMadeThroughTheDriver) {
  const DatabaseSizes sizes{3, 2, 1, 1, 1};
  const std::filesystem::path made = File("new plant.mdb");
  const Status created = CreateSwitcherDatabase(made, sizes);
  ASSERT_TRUE(created.ok()) << created.why();
  EXPECT_EQ(testing::ReadBytes(made).substr(4, 15), "Standard Jet DB");
  // The stand-in keeps the tables beside the file: the seven, sized.
  const std::filesystem::path store = File("new plant.mdb.standin");
  EXPECT_EQ(testing::Query(store, "SELECT COUNT(*) FROM InptAlphas"), "3");
  EXPECT_EQ(testing::Query(store, "SELECT COUNT(*) FROM OptoRelaySets"), "1");
  // Through the driver, as a conversion opens it.
  const auto db = OpenOdbcDatabase(*JetConnectionString(made), {});
  int outputs = 0;
  for (auto rs = db->OpenRecordset("OutptAlphas", "Chan Num"); !rs->AtEnd(); rs->MoveNext()) ++outputs;
  EXPECT_EQ(outputs, 2);

  // Made again: refused, the file as it was.
  const std::string before = testing::ReadBytes(store);
  const Status again = CreateSwitcherDatabase(made, sizes);
  EXPECT_FALSE(again.ok());
  EXPECT_NE(again.why().find("already exists"), std::string::npos) << again.why();
  EXPECT_EQ(testing::ReadBytes(store), before);

  // Tables that cannot be made (the store already holds them): the file
  // made for them is removed, nothing half-made is left.
  ASSERT_TRUE(CreateSwitcherDatabase(File("half.mdb.standin"), sizes).ok());
  const Status half = CreateSwitcherDatabase(File("half.mdb"), sizes);
  EXPECT_FALSE(half.ok());
  EXPECT_NE(half.why().find("already exists in"), std::string::npos) << half.why();
  EXPECT_FALSE(std::filesystem::exists(File("half.mdb")));
}
#endif

TEST(OdbcConnectionTest, PasswordsNeverShow) {
  try {
    OpenOdbcDatabase("Driver={No Such Driver};PWD=hunter2;", {});
    FAIL() << "opened a driver that does not exist";
  } catch (const DatabaseError& e) {
    EXPECT_EQ(std::string(e.what()).find("hunter2"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("PWD=***"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace kvr
