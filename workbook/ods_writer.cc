// The .ods writer: content.xml made a piece at a time as the archive
// compresses it, the view settings that freeze the heading rows, and the
// package around them.
#include <zip.h>

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

namespace kvr {
namespace {

constexpr const char* kOfficeNs = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";

bool StorableInXml(unsigned char c) { return c >= 0x20 || c == '\t' || c == '\n'; }

// XML character data and attribute values, escaped.
void AppendEscaped(std::string& out, std::string_view text) {
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
  if (repeated > 1) out += " table:number-columns-repeated=\"" + std::to_string(repeated) + "\"";
  if (cell.kind == CellKind::kNumber) {
    const std::string v = NumberText(cell.number);
    out += " office:value-type=\"float\" office:value=\"" + v + "\"/>";  // the value alone: readers show it
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

// content.xml, written as a stream: a plant's sheets hold over a million cells.
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

  void Row(std::string& out, const OutSheet& sheet, int r) {
    out += "<table:table-row>";
    int empties = 0;
    for (int c = 1; c <= sheet.columns(); ++c) {
      const Cell cell = sheet.at(r, c);
      if (cell.kind == CellKind::kEmpty) {
        ++empties;
        continue;
      }
      if (empties > 0) AppendCell(out, Cell{}, empties);
      empties = 0;
      if (cell.kind == CellKind::kText && !Storable(cell.text)) {
        std::string kept;
        for (const char ch : cell.text) {
          if (StorableInXml(static_cast<unsigned char>(ch))) kept += ch;
          else kept += "\xEF\xBF\xBD";
        }
        altered_.push_back({sheet.name(), r, c});
        AppendCell(out, Cell{CellKind::kText, 0, kept}, 1);
      } else {
        AppendCell(out, cell, 1);
      }
    }
    if (sheet.columns() == 0) out += "<table:table-cell/>";
    out += "</table:table-row>";
  }

  const std::vector<OutSheet>& sheets_;
  std::vector<AlteredCell>& altered_;
  std::vector<std::vector<std::string>> style_names_;
  std::size_t sheet_ = 0;
  int row_ = 0;
  bool begun_ = false, ended_ = false;
};

// A libzip source that reads a ContentXml as the archive asks for bytes.
struct ContentSource {
  static constexpr std::size_t kChunk = 1 << 16;
  explicit ContentSource(ContentXml made) : content(std::move(made)) { zip_error_init(&error); }
  ~ContentSource() { zip_error_fini(&error); }
  ContentSource(const ContentSource&) = delete;
  ContentSource& operator=(const ContentSource&) = delete;

  ContentXml content;
  std::string pending;
  std::size_t at = 0;
  bool more = true;
  zip_error_t error{};

  static zip_int64_t Callback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto* self = static_cast<ContentSource*>(state);
    switch (command) {
      case ZIP_SOURCE_OPEN:
      case ZIP_SOURCE_CLOSE:
        return 0;
      case ZIP_SOURCE_READ: {
        if (self->at == self->pending.size()) {
          self->pending.clear();
          self->at = 0;
          if (self->more) self->more = self->content.More(self->pending, kChunk);
        }
        const std::size_t n = std::min<std::size_t>(length, self->pending.size() - self->at);
        std::memcpy(data, self->pending.data() + self->at, n);
        self->at += n;
        return static_cast<zip_int64_t>(n);
      }
      case ZIP_SOURCE_STAT: {
        // Its size is known only once it is made.
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        return 0;
      }
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&self->error, data, length);
      case ZIP_SOURCE_FREE:
        return 0;
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
      default:
        zip_error_set(&self->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }
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
  const std::string file = Utf8Path(path);
  // Each part's bytes stay alive until the archive is closed; the content
  // is made as it is compressed.
  const std::vector<std::pair<const char*, std::string>> parts = {
      {"mimetype", "application/vnd.oasis.opendocument.spreadsheet"},
      {"META-INF/manifest.xml", kManifestXml},
      {"content.xml", std::string()},
      {"styles.xml", kStylesXml},
      {"settings.xml", SettingsXml(sheets)},
  };
  ContentSource content(ContentXml(sheets, altered));
  int error = 0;
  zip_t* archive = zip_open(file.c_str(), ZIP_CREATE | ZIP_EXCL, &error);
  if (archive == nullptr) {
    zip_error_t e;
    zip_error_init_with_code(&e, error);
    const std::string why = zip_error_strerror(&e);
    zip_error_fini(&e);
    return Status::Error("cannot create " + file + ": " + why);
  }
  auto fail = [&](const std::string& why) {
    zip_discard(archive);
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return Status::Error("cannot write " + file + ": " + why);
  };
  for (const auto& [name, bytes] : parts) {
    zip_source_t* source = std::string_view(name) == "content.xml"
                               ? zip_source_function(archive, &ContentSource::Callback, &content)
                               : zip_source_buffer(archive, bytes.data(), bytes.size(), 0);
    if (source == nullptr) return fail(zip_strerror(archive));
    const zip_int64_t index = zip_file_add(archive, name, source, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      zip_source_free(source);
      return fail(zip_strerror(archive));
    }
    // The media type comes first and uncompressed, so that a reader can tell
    // the kind of file from its first bytes.
    const auto i = static_cast<zip_uint64_t>(index);
    if (zip_set_file_compression(archive, i, std::string_view(name) == "mimetype" ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 3) != 0 ||
        zip_file_set_mtime(archive, i, created, 0) != 0) {
      return fail(zip_strerror(archive));
    }
  }
  if (zip_close(archive) != 0) return fail(zip_strerror(archive));
  return Status::Ok();
}

}  // namespace kvr
