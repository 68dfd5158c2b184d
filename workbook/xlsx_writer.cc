// The .xlsx writer: each worksheet part made a row at a time as the archive
// compresses it (texts inline, numbers in their shortest exact form), and
// the package around the sheets: the workbook with its sheet list, one
// plain cell format, the document's creation time.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>
#include <set>
#include <string>
#include <string_view>

#include "base/iso_time.h"
#include "base/utf8.h"
#include "workbook/cell_convert.h"
#include "workbook/workbook_writer.h"
#include "workbook/zip_package.h"

namespace kvr {
namespace {

constexpr std::size_t kChunk = std::size_t{1} << 16;  // the bytes a worksheet part is made in at a time
constexpr int kMaxRows = 1048576;                     // what a worksheet holds
constexpr int kMaxColumns = 16384;
constexpr std::size_t kMaxSheetName = 31;

constexpr const char* kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr const char* kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr const char* kXmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

void AppendInt(std::string& out, long long v) {
  char buffer[24];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
  out.append(buffer, r.ptr);
}

void AppendNumber(std::string& out, double v) {
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
  out.append(buffer, r.ptr);
}

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// An attribute value, escaped.
void AppendAttribute(std::string& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
}

// A cell's text as the package stores it. XML carries no control character
// but tab and line feed (a carriage return would read back as a line feed),
// nor U+FFFE and U+FFFF: those are written as the package's "_xHHHH_"
// escapes, and a literal "_xHHHH_" in the text has its underscore escaped
// ("_x005F_") so that it is not read as one.
void AppendCellText(std::string& out, std::string_view text) {
  auto escape = [&](unsigned v) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += "_x";
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(v >> shift) & 0xF];
    out += '_';
  };
  std::size_t run = 0;  // start of the bytes not yet appended
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool plain = c >= 0x20 ? (c != '&' && c != '<' && c != '>' && c != '_' && c != 0xEF) : (c == '\t' || c == '\n');
    if (plain) continue;
    out.append(text.substr(run, i - run));
    run = i + 1;
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '_':
        if (i + 6 < text.size() && text[i + 1] == 'x' && IsHex(text[i + 2]) && IsHex(text[i + 3]) &&
            IsHex(text[i + 4]) && IsHex(text[i + 5]) && text[i + 6] == '_') {
          escape('_');
        } else {
          out += '_';
        }
        break;
      case 0xEF:  // U+FFFE and U+FFFF are EF BF BE and EF BF BF
        if (i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
            (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE) {
          escape(0xFFFE | (static_cast<unsigned char>(text[i + 2]) & 1));
          run = i + 3;
          i += 2;
        } else {
          out += text[i];
        }
        break;
      default:
        escape(c);
    }
  }
  out.append(text.substr(run));
}

bool NeedsSpacePreserved(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  return !text.empty() && (blank(text.front()) || blank(text.back()));
}

// A worksheet part, made a row at a time.
class WorksheetXml {
 public:
  explicit WorksheetXml(const OutSheet& sheet) : sheet_(sheet) {
    for (int c = 1; c <= sheet.columns(); ++c) letters_.push_back(ColumnLetters(c));
  }

  // Appends the next rows to `out` until it holds at least kChunk bytes or
  // the part ends; false once the whole part was given.
  bool More(std::string& out) {
    if (row_ == 0) {
      Head(out);
      row_ = 1;
    }
    while (out.size() < kChunk && row_ <= sheet_.rows()) Row(out, row_++);
    if (row_ <= sheet_.rows()) return true;
    out += "</sheetData><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
           "footer=\"0.3\"/></worksheet>";
    return false;
  }

 private:
  void Head(std::string& out) {
    out += kXmlHead;
    out += std::string("<worksheet xmlns=\"") + kMainNs + "\" xmlns:r=\"" + kRelNs + "\"><dimension ref=\"A1";
    if (sheet_.rows() > 1 || sheet_.columns() > 1) {
      out += ':' + letters_.back();
      AppendInt(out, sheet_.rows());
    }
    out += "\"/><sheetViews><sheetView workbookViewId=\"0\">";
    if (const int frozen = sheet_.frozen_rows(); frozen > 0) {
      out += "<pane ySplit=\"";
      AppendInt(out, frozen);
      out += "\" topLeftCell=\"A";
      AppendInt(out, frozen + 1);
      out += "\" activePane=\"bottomLeft\" state=\"frozen\"/><selection pane=\"bottomLeft\"/>";
    }
    out += "</sheetView></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>";
    const std::vector<double> widths = sheet_.ColumnWidths();
    if (!widths.empty()) {
      out += "<cols>";
      for (std::size_t c = 0; c < widths.size(); ++c) {
        out += "<col min=\"";
        AppendInt(out, static_cast<long long>(c + 1));
        out += "\" max=\"";
        AppendInt(out, static_cast<long long>(c + 1));
        out += "\" width=\"";
        AppendNumber(out, StoredWidth(widths[c]));
        out += "\" customWidth=\"1\"/>";
      }
      out += "</cols>";
    }
    out += "<sheetData>";
  }

  // A width in characters as a worksheet stores it: the characters of the
  // default font's widest digit (7 pixels) and 5 pixels of padding, in
  // 1/256ths of a character.
  static double StoredWidth(double characters) {
    return std::trunc((characters * 7 + 5) / 7 * 256) / 256;
  }

  void Row(std::string& out, int r) {
    std::string number;
    AppendInt(number, r);
    bool opened = false;
    for (int c = 1; c <= sheet_.columns(); ++c) {
      const Cell cell = sheet_.at(r, c);
      if (cell.kind != CellKind::kNumber && cell.kind != CellKind::kText) continue;
      if (!opened) {
        out += "<row r=\"" + number + "\">";
        opened = true;
      }
      out += "<c r=\"";
      out += letters_[static_cast<std::size_t>(c - 1)];
      out += number;
      if (cell.kind == CellKind::kNumber) {
        out += "\"><v>";
        AppendNumber(out, cell.number);
        out += "</v></c>";
      } else {
        out += NeedsSpacePreserved(cell.text) ? "\" t=\"inlineStr\"><is><t xml:space=\"preserve\">"
                                              : "\" t=\"inlineStr\"><is><t>";
        AppendCellText(out, cell.text);
        out += "</t></is></c>";
      }
    }
    if (opened) out += "</row>";
  }

  const OutSheet& sheet_;
  std::vector<std::string> letters_;
  int row_ = 0;  // the next row to make; 0 before the head
};

// Why a name cannot be a worksheet's, or "": at most 31 characters, none of
// []:*?/\, no apostrophe at either end, unlike every other sheet's name
// whatever the case of its letters.
std::string SheetNameFault(const std::string& name, std::set<std::string>& taken) {
  if (name.empty()) return "it is empty";
  if (Utf8Length(name) > kMaxSheetName) return "it is longer than 31 characters";
  if (name.find_first_of("[]:*?/\\") != std::string::npos) return "it holds one of []:*?/\\";
  if (name.front() == '\'' || name.back() == '\'') return "it begins or ends with an apostrophe";
  std::string folded = name;
  for (char& c : folded) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  if (!taken.insert(folded).second) return "another sheet has that name";
  return "";
}

std::string ContentTypes(std::size_t sheets) {
  std::string out = kXmlHead;
  out += "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
         "<Override PartName=\"/docProps/app.xml\" "
         "ContentType=\"application/vnd.openxmlformats-officedocument.extended-properties+xml\"/>"
         "<Override PartName=\"/docProps/core.xml\" "
         "ContentType=\"application/vnd.openxmlformats-package.core-properties+xml\"/>"
         "<Override PartName=\"/xl/styles.xml\" "
         "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
         "<Override PartName=\"/xl/workbook.xml\" "
         "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>";
  for (std::size_t i = 1; i <= sheets; ++i) {
    out += "<Override PartName=\"/xl/worksheets/sheet" + std::to_string(i) +
           ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
  }
  return out + "</Types>";
}

constexpr const char* kPackageRels =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
    "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
    "officeDocument\" Target=\"xl/workbook.xml\"/>"
    "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/package/2006/relationships/metadata/"
    "core-properties\" Target=\"docProps/core.xml\"/>"
    "<Relationship Id=\"rId3\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
    "extended-properties\" Target=\"docProps/app.xml\"/>"
    "</Relationships>";

constexpr const char* kAppProperties =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\">"
    "<Application>KVR Conversion</Application></Properties>";

// One font, the two fills every workbook has, no border: the one cell format
// all cells use.
constexpr const char* kStyles =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
    "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/><family val=\"2\"/></font></fonts>"
    "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
    "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
    "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
    "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
    "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/></cellXfs>"
    "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
    "</styleSheet>";

std::string CoreProperties(std::time_t created) {
  const std::string when = IsoUtcTime(created);
  return std::string(kXmlHead) +
         "<cp:coreProperties xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
         "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\" "
         "xmlns:dcmitype=\"http://purl.org/dc/dcmitype/\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
         "<dcterms:created xsi:type=\"dcterms:W3CDTF\">" + when + "</dcterms:created>"
         "<dcterms:modified xsi:type=\"dcterms:W3CDTF\">" + when + "</dcterms:modified>"
         "</cp:coreProperties>";
}

std::string WorkbookPart(const std::vector<OutSheet>& sheets) {
  std::string out = kXmlHead;
  out += std::string("<workbook xmlns=\"") + kMainNs + "\" xmlns:r=\"" + kRelNs +
         "\"><bookViews><workbookView/></bookViews><sheets>";
  for (std::size_t i = 1; i <= sheets.size(); ++i) {
    out += "<sheet name=\"";
    AppendAttribute(out, sheets[i - 1].name());
    out += "\" sheetId=\"" + std::to_string(i) + "\" r:id=\"rId" + std::to_string(i) + "\"/>";
  }
  return out + "</sheets></workbook>";
}

std::string WorkbookRels(std::size_t sheets) {
  std::string out = kXmlHead;
  out += "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  for (std::size_t i = 1; i <= sheets; ++i) {
    out += "<Relationship Id=\"rId" + std::to_string(i) + "\" Type=\"" + kRelNs +
           "/worksheet\" Target=\"worksheets/sheet" + std::to_string(i) + ".xml\"/>";
  }
  out += "<Relationship Id=\"rId" + std::to_string(sheets + 1) + "\" Type=\"" + kRelNs +
         "/styles\" Target=\"styles.xml\"/>";
  return out + "</Relationships>";
}

}  // namespace

Status WriteXlsx(const std::vector<OutSheet>& sheets, const std::filesystem::path& path, std::time_t created) {
  std::set<std::string> taken;
  for (const OutSheet& sheet : sheets) {
    if (const std::string fault = SheetNameFault(sheet.name(), taken); !fault.empty()) {
      return Status::Error("the sheet name \"" + sheet.name() + "\" cannot be used in a workbook: " + fault);
    }
    if (sheet.rows() > kMaxRows || sheet.columns() > kMaxColumns) {
      return Status::Error("the sheet \"" + sheet.name() + "\" has more rows or columns than a worksheet holds");
    }
  }
  std::vector<WorksheetXml> parts;
  parts.reserve(sheets.size());
  for (const OutSheet& sheet : sheets) parts.emplace_back(sheet);
  ZipPackage package;
  package.Add("[Content_Types].xml", ContentTypes(sheets.size()));
  package.Add("_rels/.rels", kPackageRels);
  package.Add("docProps/app.xml", kAppProperties);
  package.Add("docProps/core.xml", CoreProperties(created));
  package.Add("xl/workbook.xml", WorkbookPart(sheets));
  package.Add("xl/_rels/workbook.xml.rels", WorkbookRels(sheets.size()));
  package.Add("xl/styles.xml", kStyles);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    package.AddMade("xl/worksheets/sheet" + std::to_string(i + 1) + ".xml",
                    [&part = parts[i]](std::string& out) { return part.More(out); });
  }
  return package.Write(path, created);
}

}  // namespace kvr
