// Reading a large workbook into grids, beside the floor for any reader: a
// bare libzip + expat streaming parse of the same parts with handlers that do
// nothing. The workbook comes from KVR_BENCH_WORKBOOK (see make_workbook.py).
#include <benchmark/benchmark.h>
#include <expat.h>
#include <sys/resource.h>
#include <zip.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "workbook/workbook.h"

namespace {

std::string WorkbookPath() {
  const char* p = std::getenv("KVR_BENCH_WORKBOOK");
  return p != nullptr ? p : "large.xlsx";
}

double PeakRssMiB() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

void BM_ReadAllSheets(benchmark::State& state) {
  const std::string path = WorkbookPath();
  std::size_t cells = 0;
  for (auto _ : state) {
    auto opened = kvr::OpenWorkbook(path);
    if (!opened.ok()) {
      state.SkipWithError(opened.why().c_str());
      return;
    }
    const auto& wb = *opened;
    for (std::size_t i = 0; i < wb->SheetNames().size(); ++i) {
      const kvr::SheetGrid g = wb->ReadSheet(i);
      cells += static_cast<std::size_t>(g.rows()) * g.columns();
      benchmark::DoNotOptimize(g.at(1, 1));
    }
  }
  state.counters["grid_cells"] = static_cast<double>(cells) / state.iterations();
  state.counters["peak_rss_MiB"] = PeakRssMiB();
}
BENCHMARK(BM_ReadAllSheets)->Unit(benchmark::kMillisecond);

// Every part under xl/ that ends in .xml, parsed by expat with empty handlers.
void BM_BareLibzipExpat(benchmark::State& state) {
  const std::string path = WorkbookPath();
  std::size_t elements = 0;
  for (auto _ : state) {
    int err = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &err);
    if (z == nullptr) {
      state.SkipWithError("cannot open workbook");
      return;
    }
    std::vector<char> buf(1 << 16);
    const zip_int64_t n = zip_get_num_entries(z, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
      const std::string name = zip_get_name(z, static_cast<zip_uint64_t>(i), 0);
      const bool sheet = name.rfind("xl/worksheets/", 0) == 0 || name == "xl/sharedStrings.xml";
      if (!sheet) continue;
      XML_Parser parser = XML_ParserCreate(nullptr);
      XML_SetUserData(parser, &elements);
      XML_SetElementHandler(
          parser, [](void* ud, const XML_Char*, const XML_Char**) { ++*static_cast<std::size_t*>(ud); },
          [](void*, const XML_Char*) {});
      XML_SetCharacterDataHandler(parser, [](void*, const XML_Char*, int) {});
      zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), 0);
      zip_int64_t got;
      while ((got = zip_fread(f, buf.data(), buf.size())) > 0) XML_Parse(parser, buf.data(), static_cast<int>(got), 0);
      XML_Parse(parser, "", 0, 1);
      zip_fclose(f);
      XML_ParserFree(parser);
    }
    zip_discard(z);
  }
  state.counters["elements"] = static_cast<double>(elements) / state.iterations();
}
BENCHMARK(BM_BareLibzipExpat)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
