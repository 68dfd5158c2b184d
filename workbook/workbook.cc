#include "workbook/workbook.h"

#include <array>
#include <cstring>
#include <functional>
#include <fstream>
#include <new>

#include "base/utf8.h"
#include "base/output_file.h"
#include "base/nearest.h"
#include "base/problems.h"
#include "workbook/zip_archive.h"

namespace kvr {
namespace {

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameSheetName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// An OpenDocument package names its type in a "mimetype" entry; one without
// that entry still has content.xml and none of the Office Open XML package's
// relationships.
bool IsOpenDocument(const std::filesystem::path& path) {
  const ZipArchive zip(path);
  if (zip.Has("mimetype")) {
    return zip.Read("mimetype", 4096).rfind("application/vnd.oasis.opendocument", 0) == 0;
  }
  return zip.Has("content.xml") && !zip.Has("_rels/.rels");
}

// The reader for the file's format, opened; throws WorkbookError.
std::unique_ptr<Workbook> OpenByFormat(const std::filesystem::path& path) {
  if (const auto why = UnreadableFileReason(path)) {
    if (why->missing) throw WorkbookError("cannot open " + Utf8Path(path) + ": the file does not exist");
    throw WorkbookError("not a workbook: " + Utf8Path(path) + " " + why->why);
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw WorkbookError("cannot open " + Utf8Path(path) + ": " + std::strerror(errno));
  std::array<char, 8> magic{};
  in.read(magic.data(), magic.size());
  const auto got = static_cast<std::size_t>(in.gcount());
  in.close();
  static constexpr char kZip[] = {'P', 'K', '\x03', '\x04'};
  static constexpr char kOle2[] = {'\xD0', '\xCF', '\x11', '\xE0', '\xA1', '\xB1', '\x1A', '\xE1'};
  if (got >= 4 && std::memcmp(magic.data(), kZip, 4) == 0) {
    return IsOpenDocument(path) ? OpenOdsWorkbook(path) : OpenXlsxWorkbook(path);
  }
  if (got >= 8 && std::memcmp(magic.data(), kOle2, 8) == 0) return OpenXlsWorkbook(path);
  throw WorkbookError("not a workbook: " + Utf8Path(path) +
                      " is neither an Office Open XML (.xlsx), an OpenDocument (.ods) nor an Excel 97-2003 (.xls) file");
}

}  // namespace

Result<std::unique_ptr<Workbook>> OpenWorkbook(const std::filesystem::path& path) {
  try {
    return OpenByFormat(path);
  } catch (const WorkbookError& e) {
    return Status::Error(e.what());
  } catch (const std::bad_alloc&) {
    return Status::Error("cannot open " + Utf8Path(path) + ": out of memory");
  }
}

std::optional<std::size_t> FindSheet(const Workbook& workbook, std::string_view name) {
  const auto& names = workbook.SheetNames();
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (SameSheetName(names[i], name)) return i;
  }
  return std::nullopt;
}

std::optional<std::string> SheetMeant(std::string_view name, const std::vector<std::string>& sheet_names) {
  // Case, blanks and a "#" set aside; a slip of one key in a longer name.
  auto fold = [](std::string_view s) {
    std::string f = Folded(s);
    std::erase(f, '#');
    return f;
  };
  // Numbers are never a slip: "Console #1" does not mean "Console #10".
  auto digits = [](const std::string& s) {
    std::string d;
    for (const char c : s) if (c >= '0' && c <= '9') d += c;
    return d;
  };
  const std::string wanted = fold(name);
  for (const auto& candidate : sheet_names) {
    const std::string f = fold(candidate);
    if (f == wanted || (wanted.size() >= 5 && EditDistance(f, wanted) <= 1 && digits(f) == digits(wanted))) {
      return candidate;
    }
  }
  return std::nullopt;
}

SheetGrid MissingSheet(const Workbook& workbook, std::string_view name, Problems& problems) {
  const std::string wanted(name);
  // No place: the sheet it would name does not exist.
  problems.Report(Where(), "the workbook has no sheet \"" + wanted + "\"; nothing read from it",
                  ErrorCode::kSubscriptOutOfRange, "sheet-missing");
  if (const auto meant = SheetMeant(name, workbook.SheetNames())) {
    problems.Note(Where::Sheet(*meant), "this sheet is probably the \"" + wanted + "\" the run looked for, but "
                                        "sheets are found by their exact name (only case aside), so it was not read", "sheet-name-near");
  }
  return {};
}

SheetGrid SheetOrProblem(std::string_view name, const std::function<SheetGrid()>& read, Problems& problems) {
  try {
    return read();
  } catch (const WorkbookLimitError&) {
    throw;  // ends the run: the file is no real workbook
  } catch (const WorkbookError& e) {
    problems.Report(Where::Sheet(std::string(name)), std::string(e.what()) + "; nothing read from it",
                    ErrorCode::kInvalidFormat);
  } catch (const std::bad_alloc&) {
    problems.Report(Where::Sheet(std::string(name)), "out of memory while reading the sheet; nothing read from it",
                    ErrorCode::kInvalidFormat);
  }
  return {};
}

SheetGrid OpenSheetGrid(Workbook& workbook, std::string_view name, Problems& problems) {
  const auto index = FindSheet(workbook, name);
  if (!index) return MissingSheet(workbook, name, problems);
  return SheetOrProblem(name, [&] { return workbook.ReadSheet(*index); }, problems);
}

}  // namespace kvr
