// How the preview behaves on the largest plant: about 1.16 million changes,
// the tables, fields and values a dry run of the maximum workbook lists
// (bench/make_workbook.py --max into a database made for it), made here so
// the bench needs no files. It prints, each on a line of its own:
//   model_ms=N       from building the preview to its first paint
//   filter_ms_max=N  the longest the window's thread is held while
//                    "Newsroom 12" (or the text given) is typed into the
//                    filter, a key at a time
//   filter_ms_total=N  from the first key until the last filter's rows show
// Run it headless: QT_QPA_PLATFORM=offscreen build/kvr_preview_bench [TEXT]
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/qt/preview_dialog.h"

namespace {

// Each field the maximum workbook changes, in its records' field order, and
// in how many records (from record 1 on) it changes.
struct FieldCount {
  const char* table;
  const char* field;
  bool text;
  int records;
};
constexpr FieldCount kFields[] = {
    {"InptAlphas", "Label", true, 32767},        {"InptAlphas", "LocalLabel", true, 32767},
    {"InptAlphas", "Location", false, 32702},    {"InptAlphas", "Type", false, 24576},
    {"InptAlphas", "Mute", false, 8192},         {"InptAlphas", "Linked", false, 16384},
    {"InptAlphas", "MMType", false, 16384},      {"InptAlphas", "MixMinus", false, 8192},
    {"InptAlphas", "AssocOutput", false, 32658}, {"InptAlphas", "OptoOn", false, 32440},
    {"InptAlphas", "OptoOff", false, 32767},     {"InptAlphas", "OptoCough", false, 32767},
    {"InptAlphas", "RelayOn", false, 32604},     {"InptAlphas", "CueOn", false, 32767},
    {"InptAlphas", "CueOff", false, 32767},      {"InptAlphas", "Timer", false, 26214},
    {"InptAlphas", "IFB", false, 21845},         {"InptAlphas", "GPI", false, 28086},
    {"InptAlphas", "GPO", false, 29127},         {"InptAlphas", "Notes", true, 32767},
    {"OutptAlphas", "Label", true, 32767},       {"OutptAlphas", "LocalLabel", true, 32767},
    {"OutptAlphas", "Location", false, 32702},   {"OutptAlphas", "Type", false, 31278},
    {"OutptAlphas", "Mute", false, 17873},       {"OutptAlphas", "Linked", false, 16384},
    {"OutptAlphas", "Switch", false, 17875},     {"OutptAlphas", "Fader", false, 13406},
    {"OutptAlphas", "AllowMM", false, 32767},    {"OutptAlphas", "AssocInput", false, 32767},
    {"OutptAlphas", "AssocOutput", false, 32658}, {"OutptAlphas", "AssocRelay", false, 32604},
    {"OutptAlphas", "RelayControl", false, 21845}, {"OutptAlphas", "RelayType", false, 16384},
    {"OutptAlphas", "AuxId", false, 32767},      {"OptoAlphas", "Label", true, 32767},
    {"OptoAlphas", "Type", false, 21845},        {"OptoAlphas", "Input", false, 32766},
    {"OptoAlphas", "Output", false, 32766},      {"OptoAlphas", "Relay", false, 32766},
    {"OptoAlphas", "Salvo", false, 32111},       {"RelayAlphas", "Label", true, 32767},
    {"ConsoleAlphas", "Label", true, 257},       {"LocationAlphas", "Label", true, 527},
    {"LocationAlphas", "Notes", true, 527},      {"OptoRelaySets", "Label", true, 257},
    {"OptoRelaySets", "Opto1", false, 256},      {"OptoRelaySets", "Opto2", false, 257},
    {"OptoRelaySets", "Opto3", false, 257},      {"OptoRelaySets", "Opto4", false, 257},
    {"OptoRelaySets", "Opto5", false, 257},      {"OptoRelaySets", "Relay1", false, 257},
    {"OptoRelaySets", "Relay2", false, 257},     {"OptoRelaySets", "Relay3", false, 257},
    {"OptoRelaySets", "Relay4", false, 257},     {"OptoRelaySets", "Relay5", false, 257},
};

kvr::ChangeList MaximumWorkbookChanges() {
  kvr::ChangeList changes;
  for (std::size_t first = 0; first < std::size(kFields);) {
    std::size_t last = first;
    while (last < std::size(kFields) && std::string(kFields[last].table) == kFields[first].table) ++last;
    const int records = std::max_element(kFields + first, kFields + last, [](auto& a, auto& b) {
                          return a.records < b.records;
                        })->records;
    for (int key = 1; key <= records; ++key) {
      for (std::size_t f = first; f < last; ++f) {
        const FieldCount& field = kFields[f];
        if (key > field.records) continue;
        kvr::FieldValue before = std::int64_t{0}, after = std::int64_t{key % 13 + 1};
        if (field.text) {
          before = std::string();
          char label[32];
          std::snprintf(label, sizeof label, "%s %05d", field.field, key);
          after = std::string(label);
        }
        changes.Add(field.table, "Chan Num", std::int64_t{key}, field.field, before, after);
      }
    }
    first = last;
  }
  return changes;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const kvr::ChangeList changes = MaximumWorkbookChanges();
  std::map<std::string, kvr::ChangeCount> counts;
  for (const auto& c : changes) counts[c.table].fields += 1;
  std::printf("changes=%zu\n", changes.size());

  QElapsedTimer clock;
  clock.start();
  kvr::PreviewDialog dialog(changes, counts);
  dialog.show();
  if (!QTest::qWaitForWindowExposed(&dialog)) return 1;
  QApplication::processEvents();
  std::printf("model_ms=%lld\n", static_cast<long long>(clock.elapsed()));

  // A tick every millisecond on the window's thread: the longest gap between
  // ticks while typing is the longest the thread was held.
  qint64 longest = 0, last_tick = 0;
  QElapsedTimer ticks;
  QTimer ticker;
  ticker.setInterval(1);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 now = ticks.elapsed();
    longest = std::max(longest, now - last_tick);
    last_tick = now;
  });
  auto* filter = dialog.findChild<QLineEdit*>("filter");
  filter->setFocus();
  ticks.start();
  ticker.start();
  clock.restart();
  const QString typed = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("Newsroom 12");
  for (const QChar key : typed) {
    const qint64 before = ticks.elapsed();
    QTest::keyClicks(filter, QString(key));
    longest = std::max(longest, ticks.elapsed() - before);
    QTest::qWait(120);  // a quick typist's pace
  }
  while (dialog.Selecting()) QTest::qWait(5);
  const qint64 total = clock.elapsed();
  ticker.stop();
  std::printf("filter_ms_max=%lld\nfilter_ms_total=%lld\nshown=%d\n", static_cast<long long>(longest),
              static_cast<long long>(total), dialog.ShownCount());
  return 0;
}
