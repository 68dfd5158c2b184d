#include "workbook/workbook_writer.h"

#include <xlsxwriter.h>
#include <zip.h>

#include <fcntl.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <pugixml.hpp>
#include <sstream>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "base/utf8.h"
#include "workbook/cell_convert.h"

namespace kvr {
namespace {


// Characters a reader takes into account when sizing a column: one per
// UTF-8 character, the longest line of a text.
std::size_t DisplayWidth(const Cell& cell) {
  if (cell.kind == CellKind::kNumber) {
    char buffer[32];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, cell.number);
    return static_cast<std::size_t>(r.ptr - buffer);
  }
  std::size_t longest = 0;
  std::string_view rest = cell.text;
  while (true) {
    const std::size_t end = rest.find('\n');
    longest = std::max(longest, Utf8Length(rest.substr(0, end)));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return longest;
}

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// A text as the package stores it: a literal "_xHHHH_" would be read as the
// escape of a character, so its underscore is escaped itself ("_x005F_").
std::string EscapePackageText(std::string_view text) {
  if (text.find("_x") == std::string_view::npos) return std::string(text);
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '_' && i + 6 < text.size() && text[i + 1] == 'x' && IsHex(text[i + 2]) && IsHex(text[i + 3]) &&
        IsHex(text[i + 4]) && IsHex(text[i + 5]) && text[i + 6] == '_') {
      out += "_x005F_";  // the underscore, escaped
      continue;
    }
    out += text[i];
  }
  return out;
}

std::string NumberText(double v) {
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
  return std::string(buffer, r.ptr);
}

// --- .ods ---------------------------------------------------------------

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

void OutSheet::SetNumber(int row, int column, double value) {
  Slot& slot = Place(row, column);
  slot.kind = CellKind::kNumber;
  slot.number = value;
}

void OutSheet::SetText(int row, int column, std::string text) {
  if (text.empty()) {
    if (row <= rows() && column <= columns_) Place(row, column) = Slot{};
    return;
  }
  std::erase_if(cut_, [&](const CutCell& c) { return c.row == row && c.column == column; });
  CutCell changed{row, column, 0, false};
  if (std::string mended = SanitizeUtf8(text); mended != text) {
    text = std::move(mended);
    changed.not_utf8 = true;
  }
  if (const std::size_t characters = Utf8Length(text); characters > SheetGrid::kMaxTextChars) {
    text = std::string(Utf8Prefix(text, SheetGrid::kMaxTextChars));
    changed.characters = characters;
  }
  if (changed.not_utf8 || changed.characters > 0) cut_.push_back(changed);
  Slot& slot = Place(row, column);
  slot.kind = CellKind::kText;
  slot.text = static_cast<std::uint32_t>(texts_.size());
  texts_.push_back(std::move(text));
}

OutSheet::Slot& OutSheet::Place(int row, int column) {
  if (row > rows()) rows_.resize(static_cast<std::size_t>(row));
  auto& cells = rows_[static_cast<std::size_t>(row - 1)];
  if (column > static_cast<int>(cells.size())) cells.resize(static_cast<std::size_t>(column));
  columns_ = std::max(columns_, column);
  return cells[static_cast<std::size_t>(column - 1)];
}

Cell OutSheet::at(int row, int column) const {
  if (row < 1 || row > rows() || column < 1) return {};
  const auto& cells = rows_[static_cast<std::size_t>(row - 1)];
  if (column > static_cast<int>(cells.size())) return {};
  const Slot& slot = cells[static_cast<std::size_t>(column - 1)];
  if (slot.kind == CellKind::kText) return {CellKind::kText, 0, texts_[slot.text]};
  return {slot.kind, slot.number, {}};
}

std::vector<double> OutSheet::ColumnWidths() const {
  std::vector<std::size_t> longest(static_cast<std::size_t>(columns_), 0);
  for (int r = 1; r <= rows(); ++r) {
    for (int c = 1; c <= columns_; ++c) {
      longest[static_cast<std::size_t>(c - 1)] = std::max(longest[static_cast<std::size_t>(c - 1)], DisplayWidth(at(r, c)));
    }
  }
  std::vector<double> widths;
  for (const std::size_t n : longest) widths.push_back(std::clamp(static_cast<double>(n) + 2, 6.0, 80.0));
  return widths;
}

SheetGrid OutSheet::ToGrid() const {
  SheetGridBuilder builder(name_, false);
  for (int r = 1; r <= rows(); ++r) {
    for (int c = 1; c <= columns_; ++c) {
      const Cell cell = at(r, c);
      if (cell.kind == CellKind::kNumber) builder.AddNumber(r, c, cell.number);
      else if (cell.kind == CellKind::kText) builder.AddText(r, c, builder.InternText(std::string(cell.text)));
    }
  }
  return std::move(builder).Build();
}

namespace {

// Keeps the standard error stream closed to what a library prints there
// while it lives: libxlsxwriter prints its own "[ERROR] ..." lines before
// returning the error code the program reports in its own words. The
// descriptor is the process's, so this is for a run that owns the
// process's stderr (the command line); a window shows no stderr anyway.
class QuietStderr {
 public:
  QuietStderr() {
    std::fflush(stderr);
#ifdef _WIN32
    saved_ = _dup(2);
    const int null = _open("NUL", _O_WRONLY);
    if (saved_ >= 0 && null >= 0) _dup2(null, 2);
    if (null >= 0) _close(null);
#else
    saved_ = dup(2);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) dup2(null, 2);
    if (null >= 0) close(null);
#endif
  }
  ~QuietStderr() {
    std::fflush(stderr);
    if (saved_ < 0) return;
#ifdef _WIN32
    _dup2(saved_, 2);
    _close(saved_);
#else
    dup2(saved_, 2);
    close(saved_);
#endif
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int saved_ = -1;
};

}  // namespace

Status WriteXlsx(const std::vector<OutSheet>& sheets, const std::filesystem::path& path, std::time_t created,
                 const std::filesystem::path& scratch) {
  const QuietStderr quiet;
  const std::string file = Utf8Path(path);
  std::string tmpdir = Utf8Path(scratch);
  lxw_workbook_options options{};
  // Rows go to the file as they are written (the sheets are written in row
  // order), texts inline: memory stays flat whatever the plant's size.
  options.constant_memory = LXW_TRUE;
  options.tmpdir = tmpdir.empty() ? nullptr : tmpdir.data();
  lxw_workbook* book = workbook_new_opt(file.c_str(), &options);
  if (book == nullptr) return Status::Error("cannot create " + file);
  lxw_doc_properties properties{};
  properties.created = created;
  workbook_set_properties(book, &properties);
  for (const OutSheet& sheet : sheets) {
    lxw_worksheet* ws = workbook_add_worksheet(book, sheet.name().c_str());
    if (ws == nullptr) {
      workbook_close(book);
      std::error_code ec;
      std::filesystem::remove(path, ec);
      return Status::Error("the sheet name \"" + sheet.name() + "\" cannot be used in a workbook");
    }
    const std::vector<double> widths = sheet.ColumnWidths();
    for (std::size_t c = 0; c < widths.size(); ++c) {
      worksheet_set_column(ws, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c), widths[c], nullptr);
    }
    if (sheet.frozen_rows() > 0) worksheet_freeze_panes(ws, static_cast<lxw_row_t>(sheet.frozen_rows()), 0);
    for (int r = 1; r <= sheet.rows(); ++r) {
      for (int c = 1; c <= sheet.columns(); ++c) {
        const Cell cell = sheet.at(r, c);
        const auto row = static_cast<lxw_row_t>(r - 1);
        const auto col = static_cast<lxw_col_t>(c - 1);
        lxw_error e = LXW_NO_ERROR;
        if (cell.kind == CellKind::kNumber) e = worksheet_write_number(ws, row, col, cell.number, nullptr);
        else if (cell.kind == CellKind::kText) {
          e = worksheet_write_string(ws, row, col, EscapePackageText(cell.text).c_str(), nullptr);
        }
        if (e != LXW_NO_ERROR) {
          workbook_close(book);
          std::error_code ec;
          std::filesystem::remove(path, ec);
          return Status::Error(sheet.name() + "!" + ColumnLetters(c) + std::to_string(r) + ": " + lxw_strerror(e));
        }
      }
    }
  }
  if (const lxw_error e = workbook_close(book); e != LXW_NO_ERROR) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return Status::Error(std::string("cannot write ") + file + ": " + lxw_strerror(e));
  }
  return Status::Ok();
}

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

std::vector<std::string> GridDifferences(const OutSheet& written, const SheetGrid& read) {
  std::vector<std::string> found;
  const int rows = std::max(written.rows(), read.rows()), columns = std::max(written.columns(), read.columns());
  for (int r = 1; r <= rows && found.size() < 5; ++r) {
    for (int c = 1; c <= columns && found.size() < 5; ++c) {
      const Cell want = written.at(r, c);
      const Cell got = read.at(r, c);
      const std::string name = ColumnLetters(c) + std::to_string(r);
      switch (want.kind) {
        case CellKind::kEmpty:
          if (got.kind != CellKind::kEmpty) found.push_back(name + ": an empty cell reads back as a value");
          break;
        case CellKind::kNumber:
          if (got.kind != CellKind::kNumber || got.number != want.number) {
            found.push_back(name + ": the number " + NumberText(want.number) + " does not read back as written");
          }
          break;
        case CellKind::kText:
          if (got.kind != CellKind::kText || got.text != want.text) {
            found.push_back(name + ": the text \"" + EscapeControls(std::string(want.text)) + "\" reads back as \"" +
                            EscapeControls(std::string(got.text)) + "\"");
          }
          break;
        default:
          break;
      }
    }
  }
  return found;
}

}  // namespace kvr
