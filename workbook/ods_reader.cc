// OpenDocument spreadsheets (.ods).
//
// All sheets live in one part, content.xml: office:spreadsheet holds one
// table:table per sheet, in document order. Opening the workbook streams that
// part once for the sheet names; reading a sheet streams it again up to the
// end of that sheet's table and stops. Parsing is namespace-aware, so the
// value type of a cell ("office:value-type") and LibreOffice's error mark
// ("calcext:value-type") are told apart whatever prefixes the file uses.
//
// Rows are every table:table-row of the table (also inside header rows, row
// groups and the like); repeated rows and cells are expanded only where they
// hold a value, so a million repeated empty rows cost one counter. Covered
// cells (the cells a merged range hides) are empty whatever they hold.
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/utf8.h"
#include "workbook/ods_content.h"
#include "workbook/workbook.h"
#include "workbook/xml_stream.h"
#include "workbook/zip_archive.h"

namespace kvr {
namespace {

constexpr std::size_t kSmallPartCap = std::size_t{1} << 20;  // mimetype, manifest
constexpr std::size_t kContentCap = std::size_t{1} << 30;

using ods::ContentHandler;

class OdsWorkbook : public Workbook {
 public:
  explicit OdsWorkbook(const std::filesystem::path& path) : file_(Utf8Path(path)), zip_(path) {
    if (zip_.Has("mimetype")) {
      const std::string mime = zip_.Read("mimetype", kSmallPartCap);
      if (mime.rfind("application/vnd.oasis.opendocument.spreadsheet", 0) != 0) {
        throw WorkbookError("not a workbook: " + file_ + " is an OpenDocument file of type \"" + SanitizeUtf8(mime) +
                            "\", not a spreadsheet");
      }
    }
    if (zip_.Has("META-INF/manifest.xml") &&
        zip_.Read("META-INF/manifest.xml", kSmallPartCap).find("encryption-data") != std::string::npos) {
      throw WorkbookError("cannot read " + file_ + ": the workbook is encrypted (password-protected)");
    }
    // One pass lists the names and reads the first sheets ahead.
    ContentHandler h;
    h.names = &names_;
    h.cache = &cache_;
    StreamXml(zip_, file_, "content.xml", kContentCap, h, XmlNames::kNamespaced);
    cache_.resize(names_.size());
    if (!h.spreadsheet_seen) {
      throw WorkbookError("not a workbook: " + file_ + " is an OpenDocument file without a spreadsheet");
    }
  }

  const std::vector<std::string>& SheetNames() const override { return names_; }

  // A sheet read ahead is handed out once; asked for again, or not read
  // ahead, it is read by a pass that also reads the sheets after it ahead.
  SheetGrid ReadSheet(std::size_t index) override {
    if (index >= names_.size()) throw std::out_of_range("no sheet " + std::to_string(index));
    if (!cache_[index]) {
      ContentHandler h;
      h.cache = &cache_;
      h.first = h.must = index;
      try {
        StreamXml(zip_, file_, "content.xml", kContentCap, h, XmlNames::kNamespaced);
      } catch (const WorkbookLimitError& e) {
        if (!cache_[index]) throw WorkbookLimitError(std::string(e.what()) + " (sheet '" + names_[index] + "')");
      } catch (const WorkbookError& e) {
        // A fault past the wanted sheet (malformed XML further on) does not
        // take that sheet with it.
        if (!cache_[index]) throw WorkbookError(std::string(e.what()) + " (sheet '" + names_[index] + "')");
      }
    }
    SheetGrid grid = std::move(*cache_[index]);
    cache_[index].reset();
    return grid;
  }

 private:
  std::string file_;
  ZipArchive zip_;
  std::vector<std::string> names_;
  std::vector<std::optional<SheetGrid>> cache_;
};

}  // namespace

std::unique_ptr<Workbook> OpenOdsWorkbook(const std::filesystem::path& path) {
  return std::make_unique<OdsWorkbook>(path);
}

}  // namespace kvr
