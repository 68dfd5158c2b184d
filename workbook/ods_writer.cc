// The .ods writer: content.xml made a piece at a time as the archive
// compresses it, the view settings that freeze the heading rows, and the
// package around them.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <pugixml.hpp>
#include <sstream>

#include "base/utf8.h"
#include "workbook/cell_convert.h"
#include "workbook/workbook_writer.h"
#include "workbook/zip_package.h"

namespace kvr {
namespace {

constexpr std::size_t kChunk = std::size_t{1} << 16;  // the bytes a part is made in at a time
constexpr const char* kOfficeNs = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";

bool StorableInXml(unsigned char c) { return c >= 0x20 || c == '\t' || c == '\n'; }

// XML character data and attribute values, escaped.
void AppendEscaped(std::string& out, std::string_view text) {
  while (!text.empty()) {
    const std::size_t special = std::min(text.find_first_of("&<>\""), text.size());
    out.append(text.substr(0, special));
    if (special == text.size()) return;
    switch (text[special]) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += "&quot;";
    }
    text.remove_prefix(special + 1);
  }
}

// One paragraph's text: blanks that a reader would collapse (a run, or one
// at either end) as <text:s>, tabs as <text:tab>.
void AppendParagraph(std::string& out, std::string_view line) {
  out += "<text:p>";
  for (std::size_t i = 0; i < line.size();) {
    if (line[i] == '\t') {
      out += "<text:tab/>";
      ++i;
      continue;
    }
    if (line[i] != ' ') {
      const std::size_t end = std::min(line.find_first_of(" \t", i), line.size());
      AppendEscaped(out, line.substr(i, end - i));
      i = end;
      continue;
    }
    std::size_t n = 0;
    while (i + n < line.size() && line[i + n] == ' ') ++n;
    const bool inner = i > 0 && i + n < line.size() && line[i - 1] != '\t' && line[i + n] != '\t';
    if (n == 1 && inner) out += ' ';
    else if (n == 1) out += "<text:s/>";
    else out += "<text:s text:c=\"" + std::to_string(n) + "\"/>";
    i += n;
  }
  out += "</text:p>";
}

void AppendCell(std::string& out, const Cell& cell, int repeated) {
  out += "<table:table-cell";
  char digits[32];
  if (repeated > 1) {
    out += " table:number-columns-repeated=\"";
    out.append(digits, std::to_chars(digits, digits + sizeof digits, repeated).ptr);
    out += '"';
  }
  if (cell.kind == CellKind::kNumber) {
    out += " office:value-type=\"float\" office:value=\"";  // the value alone: readers show it
    out.append(digits, std::to_chars(digits, digits + sizeof digits, cell.number).ptr);
    out += "\"/>";
  } else if (cell.kind == CellKind::kText) {
    out += " office:value-type=\"string\">";
    std::string_view rest = cell.text;
    while (true) {
      const std::size_t end = rest.find('\n');
      AppendParagraph(out, rest.substr(0, end));
      if (end == std::string_view::npos) break;
      rest.remove_prefix(end + 1);
    }
    out += "</table:table-cell>";
  } else {
    out += "/>";
  }
}

bool Storable(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char ch) { return StorableInXml(static_cast<unsigned char>(ch)); });
}

// The content part, made a piece at a time as the archive compresses it:
// a plant's content runs past a hundred megabytes, which is never held
// whole. Cells it has to alter are added to `altered` as they are reached.
class ContentXml {
 public:
  ContentXml(const std::vector<OutSheet>& sheets, std::vector<AlteredCell>& altered)
      : sheets_(sheets), altered_(altered) {}

  // Appends the next rows to `out` until it holds at least `chunk` bytes or
  // the document ends; false once the whole document was given.
  bool More(std::string& out, std::size_t chunk) {
    if (sheet_ == 0 && row_ == 0 && !begun_) {
      Head(out);
      begun_ = true;
    }
    while (out.size() < chunk) {
      if (sheet_ == sheets_.size()) {
        if (!ended_) out += "</office:spreadsheet></office:body></office:document-content>";
        ended_ = true;
        return false;
      }
      const OutSheet& sheet = sheets_[sheet_];
      if (row_ == 0) {
        out += "<table:table table:name=\"";
        AppendEscaped(out, sheet.name());
        out += "\">";
        for (const std::string& name : style_names_[sheet_]) {
          out += "<table:table-column table:style-name=\"" + name + "\"/>";
        }
      }
      if (row_ < sheet.rows()) {
        Row(out, sheet, ++row_);
      } else {
        out += "</table:table>";
        ++sheet_;
        row_ = 0;
      }
    }
    return true;
  }

 private:
  void Head(std::string& out) {
    out += std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<office:document-content xmlns:office=\"") +
           kOfficeNs +
           "\" xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\""
           " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\""
           " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\""
           " xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" office:version=\"1.2\">"
           "<office:automatic-styles>";
    // One column style per column of each sheet: about a tenth of an inch
    // per character of the default font.
    int style_count = 0;
    for (const OutSheet& sheet : sheets_) {
      style_names_.emplace_back();
      for (const double width : sheet.ColumnWidths()) {
        const std::string name = "co" + std::to_string(++style_count);
        out += "<style:style style:name=\"" + name + "\" style:family=\"table-column\">"
               "<style:table-column-properties style:column-width=\"" +
               NumberText(std::round((0.1 * width + 0.1) * 1000) / 1000) + "in\"/></style:style>";
        style_names_.back().push_back(name);
      }
    }
    out += "</office:automatic-styles><office:body><office:spreadsheet>";
  }

  // A row's cells, a run of equal cells as one repeated cell (as spreadsheet
  // programs write them: a plant's rows hold many equal numbers).
  void Row(std::string& out, const OutSheet& sheet, int r) {
    out += "<table:table-row>";
    int empties = 0;
    for (int c = 1; c <= sheet.columns();) {
      const Cell cell = sheet.at(r, c);
      if (cell.kind == CellKind::kEmpty) {
        ++empties;
        ++c;
        continue;
      }
      if (empties > 0) AppendCell(out, Cell{}, empties);
      empties = 0;
      int run = 1;
      while (c + run <= sheet.columns() && Same(sheet.at(r, c + run), cell)) ++run;
      if (cell.kind == CellKind::kText && !Storable(cell.text)) {
        std::string kept;
        for (const char ch : cell.text) {
          if (StorableInXml(static_cast<unsigned char>(ch))) kept += ch;
          else kept += "\xEF\xBF\xBD";
        }
        for (int k = 0; k < run; ++k) altered_.push_back({sheet.name(), r, c + k});
        AppendCell(out, Cell{CellKind::kText, 0, kept}, run);
      } else {
        AppendCell(out, cell, run);
      }
      c += run;
    }
    if (sheet.columns() == 0) out += "<table:table-cell/>";
    out += "</table:table-row>";
  }

  // Cells written alike: the same text, or the same number (0 and -0 apart).
  static bool Same(const Cell& a, const Cell& b) {
    if (a.kind != b.kind) return false;
    if (a.kind == CellKind::kText) return a.text == b.text;
    return a.number == b.number && std::signbit(a.number) == std::signbit(b.number);
  }

  const std::vector<OutSheet>& sheets_;
  std::vector<AlteredCell>& altered_;
  std::vector<std::vector<std::string>> style_names_;
  std::size_t sheet_ = 0;
  int row_ = 0;
  bool begun_ = false, ended_ = false;
};

void AppendConfigItem(pugi::xml_node parent, const char* name, const char* type, const std::string& value) {
  pugi::xml_node item = parent.append_child("config:config-item");
  item.append_attribute("config:name") = name;
  item.append_attribute("config:type") = type;
  item.append_child(pugi::node_pcdata).set_value(value.c_str());
}

// The view settings that freeze each sheet's heading rows.
std::string SettingsXml(const std::vector<OutSheet>& sheets) {
  pugi::xml_document doc;
  pugi::xml_node root = doc.append_child("office:document-settings");
  root.append_attribute("xmlns:office") = kOfficeNs;
  root.append_attribute("xmlns:config") = "urn:oasis:names:tc:opendocument:xmlns:config:1.0";
  root.append_attribute("office:version") = "1.2";
  pugi::xml_node set = root.append_child("office:settings").append_child("config:config-item-set");
  set.append_attribute("config:name") = "ooo:view-settings";
  pugi::xml_node views = set.append_child("config:config-item-map-indexed");
  views.append_attribute("config:name") = "Views";
  pugi::xml_node view = views.append_child("config:config-item-map-entry");
  AppendConfigItem(view, "ViewId", "string", "view1");
  pugi::xml_node tables = view.append_child("config:config-item-map-named");
  tables.append_attribute("config:name") = "Tables";
  for (const OutSheet& sheet : sheets) {
    if (sheet.frozen_rows() <= 0) continue;
    pugi::xml_node entry = tables.append_child("config:config-item-map-entry");
    entry.append_attribute("config:name") = sheet.name().c_str();
    const std::string rows = std::to_string(sheet.frozen_rows());
    AppendConfigItem(entry, "VerticalSplitMode", "short", "2");
    AppendConfigItem(entry, "VerticalSplitPosition", "int", rows);
    AppendConfigItem(entry, "ActiveSplitRange", "short", "2");
    AppendConfigItem(entry, "PositionTop", "int", "0");
    AppendConfigItem(entry, "PositionBottom", "int", rows);
  }
  std::ostringstream out;
  doc.save(out, "", pugi::format_raw, pugi::encoding_utf8);
  return out.str();
}

constexpr const char* kManifestXml =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\" manifest:version=\"1.2\">"
    "<manifest:file-entry manifest:full-path=\"/\" manifest:version=\"1.2\" "
    "manifest:media-type=\"application/vnd.oasis.opendocument.spreadsheet\"/>"
    "<manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\"/>"
    "<manifest:file-entry manifest:full-path=\"styles.xml\" manifest:media-type=\"text/xml\"/>"
    "<manifest:file-entry manifest:full-path=\"settings.xml\" manifest:media-type=\"text/xml\"/>"
    "</manifest:manifest>";

constexpr const char* kStylesXml =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<office:document-styles xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
    "office:version=\"1.2\"/>";

}  // namespace

Status WriteOds(const std::vector<OutSheet>& sheets, const std::filesystem::path& path, std::time_t created,
                std::vector<AlteredCell>& altered) {
  ContentXml content(sheets, altered);
  ZipPackage package;
  // The media type comes first and uncompressed, so that a reader can tell
  // the kind of file from its first bytes.
  package.AddStored("mimetype", "application/vnd.oasis.opendocument.spreadsheet");
  package.Add("META-INF/manifest.xml", kManifestXml);
  package.AddMade("content.xml", [&content](std::string& out) { return content.More(out, kChunk); });
  package.Add("styles.xml", kStylesXml);
  package.Add("settings.xml", SettingsXml(sheets));
  return package.Write(path, created);
}

}  // namespace kvr
