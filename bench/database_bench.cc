// The database phase at the largest size: 32767 inputs and outputs with their
// opto and relay tables, written into a database made by
// CreateSwitcherDatabase, beside a bare loop of prepared SQLite UPDATEs that
// writes the same fields of the same records in one transaction.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "base/problems.h"
#include "tables/input_table.h"
#include "tables/new_database.h"
#include "tables/opto_relay_tables.h"
#include "tables/output_table.h"
#include "tables/switcher_database.h"

namespace {

namespace fs = std::filesystem;
constexpr std::int16_t kCount = 32766;  // tables hold count + 1 = 32767 entries

struct Fixture {
  fs::path dir = fs::temp_directory_path() / ("kvr_dbbench_" + std::to_string(::getpid()));
  fs::path pristine = dir / "pristine.db";
  fs::path work = dir / "work.db";
  kvr::InputTable inputs;
  kvr::OutputTable outputs;
  kvr::OptoTable optos;
  kvr::RelayTable relays;

  Fixture() {
    fs::create_directories(dir);
    if (const kvr::Status s = kvr::CreateSwitcherDatabase(pristine, kvr::DatabaseSizes{32767, 32767, 8, 32, 32});
        !s.ok()) {
      throw std::runtime_error(s.why());
    }
    for (int i = 0; i <= kCount; ++i) {
      const auto n = static_cast<std::int16_t>(i + 1);
      kvr::InputRecord in;
      in.ChanNum = n;
      in.Label = "Source " + std::to_string(n);
      in.LocalLabel = i % 3 ? "" : "Loc" + std::to_string(n);
      in.Notes = i % 4 ? "" : "note " + std::to_string(n);
      in.Location = static_cast<std::int16_t>(i % 500);
      in.Type = static_cast<std::int16_t>(i % 4);
      inputs.push_back(in);
      kvr::OutputRecord out;
      out.ChanNum = n;
      out.Label = "Dest " + std::to_string(n);
      out.Type = static_cast<std::int16_t>(i % 22);
      outputs.push_back(out);
      optos.push_back({n, "Opto " + std::to_string(n), "", 1, 0, static_cast<std::int16_t>(i), 0, 0});
      relays.push_back({n, "Relay " + std::to_string(n), ""});
    }
  }
  ~Fixture() { fs::remove_all(dir); }
  void Reset() { fs::copy_file(pristine, work, fs::copy_options::overwrite_existing); }
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

void BM_DatabasePhase(benchmark::State& state) {
  Fixture& f = Shared();
  std::size_t problems = 0;
  for (auto _ : state) {
    state.PauseTiming();
    f.Reset();
    kvr::InputTable inputs = f.inputs;
    kvr::OutputTable outputs = f.outputs;
    state.ResumeTiming();
    kvr::Problems p;
    auto db = kvr::OpenSqliteDatabase(f.work, {});
    kvr::WriteInptAlphas(*db, inputs, kCount, p);
    kvr::WriteOutptAlphas(*db, outputs, kCount, p);
    kvr::WriteOptoAlphas(*db, f.optos, kCount, p);
    kvr::WriteRelayAlphas(*db, f.relays, kCount, p);
    db->Commit();
    problems += p.size();
  }
  state.counters["problems"] = static_cast<double>(problems);
}
BENCHMARK(BM_DatabasePhase)->Unit(benchmark::kMillisecond);

void Exec(sqlite3* db, const char* sql) { sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

// The same records and fields, one prepared UPDATE per record, no checks.
void BM_BarePreparedUpdates(benchmark::State& state) {
  Fixture& f = Shared();
  for (auto _ : state) {
    state.PauseTiming();
    f.Reset();
    state.ResumeTiming();
    sqlite3* db = nullptr;
    sqlite3_open(f.work.c_str(), &db);
    Exec(db, "BEGIN IMMEDIATE");
    sqlite3_stmt* in = nullptr;
    sqlite3_prepare_v2(db,
                       "UPDATE InptAlphas SET Label=?,LocalLabel=?,Location=?,Type=?,MixMinus=?,MMType=?,Mute=?,IFB=?,"
                       "Timer=?,Hidden=?,Linked=?,AssocOutput=?,GPI=?,OptoOn=?,OptoOff=?,OptoCough=?,CueOn=?,CueOff=?,"
                       "GPO=?,RelayOn=?,RelayOff=?,Notes=? WHERE \"Chan Num\"=?",
                       -1, &in, nullptr);
    for (const auto& e : f.inputs) {
      sqlite3_bind_text(in, 1, e.Label.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(in, 2, e.LocalLabel.c_str(), -1, SQLITE_TRANSIENT);
      for (int k = 3; k <= 21; ++k) sqlite3_bind_int(in, k, e.Location);
      sqlite3_bind_text(in, 22, e.Notes.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(in, 23, e.ChanNum);
      sqlite3_step(in);
      sqlite3_reset(in);
    }
    sqlite3_finalize(in);
    sqlite3_stmt* out = nullptr;
    sqlite3_prepare_v2(db,
                       "UPDATE OutptAlphas SET Label=?,LocalLabel=?,Location=?,Type=?,Mute=?,Hidden=?,Linked=?,Switch=?,"
                       "Fader=?,AllowMM=?,AssocInput=?,AssocOutput=?,AssocRelay=?,RelayControl=?,RelayType=?,AuxId=? "
                       "WHERE \"Chan Num\"=?",
                       -1, &out, nullptr);
    for (const auto& e : f.outputs) {
      sqlite3_bind_text(out, 1, e.Label.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(out, 2, e.Label.c_str(), -1, SQLITE_TRANSIENT);
      for (int k = 3; k <= 16; ++k) sqlite3_bind_int(out, k, e.Type);
      sqlite3_bind_int(out, 17, e.ChanNum);
      sqlite3_step(out);
      sqlite3_reset(out);
    }
    sqlite3_finalize(out);
    sqlite3_stmt* opto = nullptr;
    sqlite3_prepare_v2(db, "UPDATE OptoAlphas SET Label=?,Type=?,Input=?,Output=?,Relay=?,Salvo=? WHERE \"Chan Num\"=?",
                       -1, &opto, nullptr);
    for (const auto& e : f.optos) {
      sqlite3_bind_text(opto, 1, e.Label.c_str(), -1, SQLITE_TRANSIENT);
      for (int k = 2; k <= 6; ++k) sqlite3_bind_int(opto, k, e.Input);
      sqlite3_bind_int(opto, 7, e.ChanNum);
      sqlite3_step(opto);
      sqlite3_reset(opto);
    }
    sqlite3_finalize(opto);
    sqlite3_stmt* relay = nullptr;
    sqlite3_prepare_v2(db, "UPDATE RelayAlphas SET Label=? WHERE \"Chan Num\"=?", -1, &relay, nullptr);
    for (const auto& e : f.relays) {
      sqlite3_bind_text(relay, 1, e.Label.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(relay, 2, e.ChanNum);
      sqlite3_step(relay);
      sqlite3_reset(relay);
    }
    sqlite3_finalize(relay);
    Exec(db, "COMMIT");
    sqlite3_close(db);
  }
}
BENCHMARK(BM_BarePreparedUpdates)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
