// Office Open XML workbooks (.xlsx, .xlsm).
//
// The package is walked by its relationships: _rels/.rels names the workbook
// part, the workbook's relationships name its worksheets, shared strings and
// styles (never assumed to be sheetN.xml). Small parts are parsed whole with
// pugixml; worksheets and the shared-string table, which can be large, are
// streamed from the zip through expat, so memory grows with the cells kept,
// not with the XML.
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <pugixml.hpp>

#include "base/utf8.h"
#include "workbook/number_format.h"
#include "workbook/workbook.h"
#include "workbook/xlsx_package.h"
#include "workbook/xml_stream.h"
#include "workbook/zip_archive.h"

namespace kvr {
namespace {

using xlsx::Attribute;
using xlsx::Child;
using xlsx::DecodeEscapes;
using xlsx::EndsWith;
using xlsx::kLargePartCap;
using xlsx::kMaxRow;
using xlsx::ParseCellReference;
using xlsx::ParseSmallPart;
using xlsx::ReadRelationships;

// The shared-string table holds at most as many strings as a sheet holds
// cells, and at most this much text in all.
constexpr std::size_t kMaxSharedStrings = SheetGrid::kMaxCells / 2;
constexpr std::size_t kMaxSharedTextBytes = SheetGrid::kMaxSheetTextBytes;
// <sst><si><t>..</t></si><si><r><t>..</t></r>..<rPh>..</rPh></si></sst>
// The table is refused past kMaxSharedStrings strings, kMaxSharedTextBytes
// of text, or a string longer than a cell holds.
struct SharedStringsHandler {
  std::vector<std::string>* out = nullptr;
  std::string current;
  std::string error;
  bool limit = true;  // every refusal here is a bound
  std::size_t text_bytes = 0;
  int si_depth = 0, t_depth = 0, rph_depth = 0;

  void Start(std::string_view name, const XML_Char**) {
    if (name == "si") { si_depth++; current.clear(); }
    else if (name == "rPh") rph_depth++;
    else if (name == "t") t_depth++;
  }
  void End(std::string_view name) {
    if (name == "si" && si_depth > 0) {
      si_depth--;
      if (out->size() >= kMaxSharedStrings) {
        error = "more than " + std::to_string(kMaxSharedStrings) + " shared strings, the most this program reads";
        return;
      }
      std::string text = DecodeEscapes(std::move(current));
      current.clear();
      if (Utf8Length(text) > SheetGrid::kMaxTextChars) {
        error = "shared string " + std::to_string(out->size()) + " is longer than " +
                std::to_string(SheetGrid::kMaxTextChars) + " characters, the most a cell holds";
        return;
      }
      out->push_back(std::move(text));
    } else if (name == "rPh" && rph_depth > 0) {
      rph_depth--;
    } else if (name == "t" && t_depth > 0) {
      t_depth--;
    }
  }
  void Text(const char* s, std::size_t n) {
    if (si_depth == 0 || t_depth == 0 || rph_depth > 0) return;
    text_bytes += n;
    if (text_bytes > kMaxSharedTextBytes) {
      error = "shared strings hold more than " + std::to_string(kMaxSharedTextBytes) + " bytes of text";
    } else if (current.size() + n > 4 * SheetGrid::kMaxTextBytes) {  // room for the _xHHHH_ escapes
      error = "shared string " + std::to_string(out->size()) + " is longer than " +
              std::to_string(SheetGrid::kMaxTextChars) + " characters, the most a cell holds";
    } else {
      current.append(s, n);
    }
  }
};

// A cell's stored number. Most are short whole numbers, read here directly;
// the rest go through from_chars (exact for every form).
bool ParseNumber(std::string_view s, double& out) {
  std::size_t i = s.size() > 0 && s[0] == '-' ? 1 : 0;
  if (s.size() > i && s.size() - i <= 15) {
    std::int64_t n = 0;
    std::size_t k = i;
    for (; k < s.size() && s[k] >= '0' && s[k] <= '9'; ++k) n = n * 10 + (s[k] - '0');
    if (k == s.size()) {
      out = static_cast<double>(i == 1 ? -n : n);
      return true;
    }
  }
  const auto res = std::from_chars(s.data(), s.data() + s.size(), out);
  return res.ec == std::errc() && res.ptr == s.data() + s.size();
}

enum class CellType { kNumber, kShared, kFormulaText, kInline, kBoolean, kError, kIsoDate };

struct WorksheetHandler {
  SheetGridBuilder* builder = nullptr;
  const std::vector<std::string>* shared = nullptr;
  const std::vector<bool>* xf_is_date = nullptr;
  std::vector<std::uint32_t> shared_ids;  // shared string index -> grid text id
  bool date1904 = false;
  std::string error;
  bool limit = false;

  int sheet_data_depth = 0;
  int row = 0, next_column = 1;
  bool in_cell = false, in_v = false, in_is = false, in_t = false;
  int rph_depth = 0;
  bool has_v = false, has_is = false, has_f = false;
  int cell_row = 0, cell_column = 0, cell_style = 0;
  CellType cell_type = CellType::kNumber;
  std::string value;

  void Fail(std::string why) { if (error.empty()) error = std::move(why); }

  static bool Hidden(const XML_Char** atts) {
    const char* h = FindAttribute(atts, "hidden");
    return h != nullptr && (std::strcmp(h, "1") == 0 || std::strcmp(h, "true") == 0);
  }

  void Start(std::string_view name, const XML_Char** atts) {
    if (name == "sheetData") { sheet_data_depth++; return; }
    if (sheet_data_depth == 0) {
      if (name == "col" && Hidden(atts)) {
        // <col min="3" max="5" hidden="1"/>: columns hidden from view.
        int min = 0, max = 0;
        const char* a = FindAttribute(atts, "min");
        const char* b = FindAttribute(atts, "max");
        if (a != nullptr && b != nullptr) {
          std::from_chars(a, a + std::strlen(a), min);
          std::from_chars(b, b + std::strlen(b), max);
          if (min >= 1 && max >= min) builder->HideColumns(min, max);
        }
      }
      return;
    }
    if (name == "row") {
      const char* r = FindAttribute(atts, "r");
      int n = row + 1;
      if (r != nullptr) {
        const auto res = std::from_chars(r, r + std::strlen(r), n);
        if (res.ec != std::errc() || n < 1 || n > kMaxRow) { Fail(std::string("malformed row number \"") + r + "\""); n = row + 1; }
      }
      if (n > kMaxRow) n = kMaxRow;
      row = n;
      next_column = 1;
      if (Hidden(atts)) builder->HideRows(n, n);
    } else if (name == "c") {
      in_cell = true;
      has_v = has_is = has_f = false;
      value.clear();
      cell_row = row == 0 ? 1 : row;
      cell_column = next_column;
      cell_style = 0;
      cell_type = CellType::kNumber;
      for (int i = 0; atts[i] != nullptr; i += 2) {
        // Cell attributes are single letters (r, s, t): no need to look for a prefix.
        const std::string_view key =
            atts[i][0] != 0 && atts[i][1] == 0 ? std::string_view(atts[i], 1) : LocalName(atts[i]);
        const std::string_view val = atts[i + 1];
        if (key == "r") {
          if (!ParseCellReference(val, cell_row, cell_column)) Fail("malformed cell reference \"" + std::string(val) + "\"");
        } else if (key == "s") {
          std::from_chars(val.data(), val.data() + val.size(), cell_style);
        } else if (key == "t") {
          if (val == "s") cell_type = CellType::kShared;
          else if (val == "str") cell_type = CellType::kFormulaText;
          else if (val == "inlineStr") cell_type = CellType::kInline;
          else if (val == "b") cell_type = CellType::kBoolean;
          else if (val == "e") cell_type = CellType::kError;
          else if (val == "d") cell_type = CellType::kIsoDate;
        }
      }
      if (row == 0) row = cell_row;
      next_column = cell_column + 1;
    } else if (!in_cell) {
      return;
    } else if (name == "v") {
      in_v = true;
      has_v = true;
      value.clear();
    } else if (name == "is") {
      in_is = true;
      has_is = true;
      value.clear();
    } else if (name == "f") {
      has_f = true;
    } else if (name == "rPh") {
      rph_depth++;
    } else if (name == "t" && in_is) {
      in_t = true;
    }
  }

  void End(std::string_view name) {
    if (name == "sheetData") { if (sheet_data_depth > 0) sheet_data_depth--; return; }
    if (!in_cell) return;
    if (name == "v") in_v = false;
    else if (name == "is") in_is = false;
    else if (name == "rPh") { if (rph_depth > 0) rph_depth--; }
    else if (name == "t") in_t = false;
    else if (name == "c") { in_cell = false; FinishCell(); }
  }

  void Text(const char* s, std::size_t n) {
    if (!(in_v || (in_is && in_t && rph_depth == 0))) return;
    if (value.size() + n > 4 * SheetGrid::kMaxTextBytes) {  // room for the _xHHHH_ escapes
      TextTooLong();
      return;
    }
    value.append(s, n);
  }

  void TextTooLong() {
    limit = true;
    Fail("cell " + ColumnLetters(cell_column) + std::to_string(cell_row) + " holds a text longer than " +
         std::to_string(SheetGrid::kMaxTextChars) + " characters, the most a cell holds");
  }

  void AddText(std::string text) {
    text = DecodeEscapes(std::move(text));
    if (Utf8Length(text) > SheetGrid::kMaxTextChars) {
      TextTooLong();
      return;
    }
    builder->AddText(cell_row, cell_column, builder->InternText(std::move(text)));
  }

  void FinishCell() {
    if (!error.empty()) return;
    if (cell_type == CellType::kInline) {
      if (has_is) AddText(std::move(value));
      else if (has_v) AddText(std::move(value));
      return;
    }
    // An empty <v/> is a saved empty text only for a formula typed "str".
    if (has_f && (!has_v || (value.empty() && cell_type != CellType::kFormulaText))) {
      builder->AddUnsavedFormula(cell_row, cell_column);  // a formula without a cached value
      return;
    }
    if (!has_v) return;  // formatted but empty
    switch (cell_type) {
      case CellType::kShared: {
        std::size_t index = 0;
        const auto res = std::from_chars(value.data(), value.data() + value.size(), index);
        if (res.ec != std::errc() || index >= shared->size()) {
          Fail("cell " + ColumnLetters(cell_column) + std::to_string(cell_row) + " refers to shared string \"" +
               value + "\", which does not exist");
          return;
        }
        if (shared_ids.empty()) shared_ids.assign(shared->size(), std::numeric_limits<std::uint32_t>::max());
        std::uint32_t& id = shared_ids[index];
        if (id == std::numeric_limits<std::uint32_t>::max()) id = builder->InternText((*shared)[index]);
        builder->AddText(cell_row, cell_column, id);
        return;
      }
      case CellType::kFormulaText:
        AddText(std::move(value));
        return;
      case CellType::kBoolean:
        builder->AddBoolean(cell_row, cell_column, value == "1" || value == "true");
        return;
      case CellType::kError:
        builder->AddError(cell_row, cell_column, value);
        return;
      case CellType::kIsoDate:
        if (const auto serial = ParseIsoDateTime(value, date1904)) builder->AddDate(cell_row, cell_column, *serial);
        else AddText(std::move(value));
        return;
      case CellType::kNumber:
      case CellType::kInline:
        break;
    }
    std::size_t b = 0, e = value.size();
    while (b < e && (value[b] == ' ' || value[b] == '\t' || value[b] == '\n' || value[b] == '\r')) ++b;
    while (e > b && (value[e - 1] == ' ' || value[e - 1] == '\t' || value[e - 1] == '\n' || value[e - 1] == '\r')) --e;
    if (b == e) return;
    double number = 0;
    if (!ParseNumber(std::string_view(value).substr(b, e - b), number)) {
      AddText(value.substr(b, e - b));  // not a number after all: keep what it says
      return;
    }
    const bool is_date = cell_style >= 0 && static_cast<std::size_t>(cell_style) < xf_is_date->size() &&
                         (*xf_is_date)[static_cast<std::size_t>(cell_style)];
    if (is_date) builder->AddDate(cell_row, cell_column, number);
    else builder->AddNumber(cell_row, cell_column, number);
  }
};

class XlsxWorkbook : public Workbook {
 public:
  explicit XlsxWorkbook(const std::filesystem::path& path) : file_(Utf8Path(path)), zip_(path) {
    std::string workbook_part = "xl/workbook.xml";
    for (const auto& [id, rel] : ReadRelationships(zip_, file_, "")) {
      if (EndsWith(rel.type, "/officeDocument")) workbook_part = rel.target;
    }
    if (!zip_.Has(workbook_part)) {
      throw WorkbookError("not a workbook: " + file_ + " is a zip file without a spreadsheet workbook part");
    }
    const auto doc = ParseSmallPart(zip_, file_, workbook_part);
    const auto root = doc.document_element();
    if (LocalName(root.name()) != "workbook") {
      throw WorkbookError("not a workbook: " + file_ + ", part " + workbook_part + " is no workbook");
    }
    const std::string_view d1904 = Attribute(Child(root, "workbookPr"), "date1904").value();
    date1904_ = d1904 == "1" || d1904 == "true";

    const auto rels = ReadRelationships(zip_, file_, workbook_part);
    std::string shared_part, styles_part;
    for (const auto& [id, rel] : rels) {
      if (EndsWith(rel.type, "/sharedStrings")) shared_part = rel.target;
      else if (EndsWith(rel.type, "/styles")) styles_part = rel.target;
    }
    for (auto sheet : Child(root, "sheets").children()) {
      if (LocalName(sheet.name()) != "sheet") continue;
      pugi::xml_attribute rid;
      for (auto a : sheet.attributes()) {
        const std::string_view n = a.name();
        if (LocalName(n) == "id" && n.find(':') != std::string_view::npos) rid = a;
      }
      const auto it = rels.find(rid.value());
      if (it == rels.end() || !EndsWith(it->second.type, "/worksheet")) continue;  // chart sheets and the like
      if (names_.size() >= kMaxSheets) {
        throw WorkbookLimitError("workbook too large: " + file_ + " lists more than " + std::to_string(kMaxSheets) +
                            " sheets");
      }
      names_.push_back(SanitizeUtf8(sheet.attribute("name").value()));
      parts_.push_back(it->second.target);
    }
    if (!shared_part.empty() && zip_.Has(shared_part)) {
      SharedStringsHandler h;
      h.out = &shared_;
      StreamXml(zip_, file_, shared_part, kLargePartCap, h);
    }
    if (!styles_part.empty() && zip_.Has(styles_part)) ReadStyles(styles_part);
  }

  const std::vector<std::string>& SheetNames() const override { return names_; }

  bool ConcurrentReads() const override { return true; }

  // Each read borrows a container of its own (one archive must not be read
  // by two threads at once); everything else it uses is read-only once the
  // workbook is open.
  SheetGrid ReadSheet(std::size_t index) override {
    ZipLease zip(*this);
    SheetGridBuilder builder(names_.at(index), date1904_);
    WorksheetHandler h;
    h.builder = &builder;
    h.shared = &shared_;
    h.xf_is_date = &xf_is_date_;
    h.date1904 = date1904_;
    if (!zip.archive->Has(parts_[index])) {
      throw WorkbookError("damaged workbook: " + file_ + " lacks the part of sheet '" + names_[index] + "' (" +
                          parts_[index] + ")");
    }
    StreamXml(*zip.archive, file_, parts_[index], kLargePartCap, h);
    if (!h.error.empty()) {
      throw WorkbookError("damaged workbook: " + file_ + ", sheet '" + names_[index] + "': " + h.error);
    }
    return std::move(builder).Build();
  }

 private:
  // A container taken from the idle ones (or opened anew) and given back.
  struct ZipLease {
    explicit ZipLease(XlsxWorkbook& wb) : owner(wb) {
      {
        std::lock_guard<std::mutex> lock(owner.idle_mutex_);
        if (!owner.idle_.empty()) {
          archive = std::move(owner.idle_.back());
          owner.idle_.pop_back();
        }
      }
      if (!archive) archive = owner.zip_.Reopen();
    }
    ~ZipLease() {
      std::lock_guard<std::mutex> lock(owner.idle_mutex_);
      owner.idle_.push_back(std::move(archive));
    }
    XlsxWorkbook& owner;
    std::unique_ptr<ZipArchive> archive;
  };

  void ReadStyles(const std::string& part) {
    const auto doc = ParseSmallPart(zip_, file_, part);
    const auto root = doc.document_element();
    std::unordered_map<int, bool> custom;
    for (auto f : Child(root, "numFmts").children()) {
      if (LocalName(f.name()) != "numFmt") continue;
      custom[f.attribute("numFmtId").as_int(-1)] = IsDateFormatCode(f.attribute("formatCode").value());
    }
    for (auto xf : Child(root, "cellXfs").children()) {
      if (LocalName(xf.name()) != "xf") continue;
      const int id = xf.attribute("numFmtId").as_int(0);
      const auto it = custom.find(id);
      xf_is_date_.push_back(it != custom.end() ? it->second : IsBuiltinDateFormat(id, false));
    }
  }

  std::string file_;
  ZipArchive zip_;
  bool date1904_ = false;
  std::vector<std::string> names_;
  std::vector<std::string> parts_;
  std::vector<std::string> shared_;
  std::vector<bool> xf_is_date_;
  std::mutex idle_mutex_;
  std::vector<std::unique_ptr<ZipArchive>> idle_;
};

}  // namespace

std::unique_ptr<Workbook> OpenXlsxWorkbook(const std::filesystem::path& path) {
  return std::make_unique<XlsxWorkbook>(path);
}

}  // namespace kvr
