#include "tests/workbook_files.h"

#ifdef KVR_HAVE_GSF
#include <gsf/gsf.h>
#endif
#include <zip.h>

#include <cstring>
#include <stdexcept>

#include "base/utf8.h"

namespace kvr::testing {

std::unique_ptr<Workbook> Open(const std::filesystem::path& path) {
  auto opened = OpenWorkbook(path);
  if (!opened.ok()) throw WorkbookError(opened.why());
  return std::move(*opened);
}

void WriteZip(const std::filesystem::path& path, const Parts& parts) {
  int err = 0;
  zip_t* z = zip_open(Utf8Path(path).c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  if (z == nullptr) throw std::runtime_error("cannot create zip");
  for (const auto& [name, content] : parts) {
    zip_source_t* src = zip_source_buffer(z, content.data(), content.size(), 0);
    if (src == nullptr || zip_file_add(z, name.c_str(), src, ZIP_FL_OVERWRITE) < 0) {
      throw std::runtime_error("cannot add zip part");
    }
  }
  if (zip_close(z) != 0) throw std::runtime_error("cannot write zip");
}

#ifdef KVR_HAVE_GSF
bool CanWriteOle2() { return true; }

void WriteOle2(const std::filesystem::path& path, const Parts& streams) {
  GError* e = nullptr;
  GsfOutput* out = gsf_output_stdio_new(path.c_str(), &e);
  if (out == nullptr) throw std::runtime_error("cannot create OLE2 file");
  GsfOutfile* ole = gsf_outfile_msole_new(out);
  for (const auto& [name, content] : streams) {
    GsfOutput* child = gsf_outfile_new_child(ole, name.c_str(), FALSE);
    gsf_output_write(child, content.size(), reinterpret_cast<const guint8*>(content.data()));
    gsf_output_close(child);
    g_object_unref(child);
  }
  gsf_output_close(GSF_OUTPUT(ole));
  g_object_unref(ole);
  gsf_output_close(out);
  g_object_unref(out);
}
#else
bool CanWriteOle2() { return false; }

void WriteOle2(const std::filesystem::path&, const Parts&) {
  throw std::runtime_error("this build writes no compound files");
}
#endif

Parts MinimalXlsx(const std::string& sheet_data, const std::string& shared_strings) {
  const std::string ns = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  Parts parts = {
      {"[Content_Types].xml", "<?xml version=\"1.0\"?><Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>"},
      {"_rels/.rels", "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                      "<Relationship Id=\"rId1\" Type=\"" + rel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
      {"xl/workbook.xml", "<?xml version=\"1.0\"?><workbook " + ns + " xmlns:r=\"" + rel +
                              "\"><sheets><sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels",
       "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
       "<Relationship Id=\"rId1\" Type=\"" + rel + "/worksheet\" Target=\"worksheets/data.xml\"/>"
       "<Relationship Id=\"rId2\" Type=\"" + rel + "/sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>"},
      {"xl/worksheets/data.xml", "<?xml version=\"1.0\"?><worksheet " + ns + "><sheetData>" + sheet_data +
                                     "</sheetData></worksheet>"},
      {"xl/sharedStrings.xml", "<?xml version=\"1.0\"?><sst " + ns + ">" + shared_strings + "</sst>"},
  };
  return parts;
}

namespace {

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '"') out += "&quot;";
    else out += c;
  }
  return out;
}

std::string Column(int c) {
  std::string s;
  for (; c > 0; c = (c - 1) / 26) s.insert(s.begin(), static_cast<char>('A' + (c - 1) % 26));
  return s;
}

}  // namespace

void WriteXlsx(const std::filesystem::path& path, const std::vector<std::pair<std::string, SheetRows>>& sheets) {
  const std::string ns = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  std::string workbook = "<?xml version=\"1.0\"?><workbook " + ns + " xmlns:r=\"" + rel + "\"><sheets>";
  std::string rels = "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  Parts parts = {{"_rels/.rels", "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                                 "<Relationship Id=\"rId1\" Type=\"" + rel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"}};
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    const std::string id = std::to_string(i + 1);
    workbook += "<sheet name=\"" + Escape(sheets[i].first) + "\" sheetId=\"" + id + "\" r:id=\"rId" + id + "\"/>";
    rels += "<Relationship Id=\"rId" + id + "\" Type=\"" + rel + "/worksheet\" Target=\"worksheets/sheet" + id + ".xml\"/>";
    std::string data;
    for (std::size_t r = 0; r < sheets[i].second.size(); ++r) {
      data += "<row r=\"" + std::to_string(r + 1) + "\">";
      const auto& row = sheets[i].second[r];
      for (std::size_t c = 0; c < row.size(); ++c) {
        const std::string ref = Column(static_cast<int>(c + 1)) + std::to_string(r + 1);
        if (const auto* d = std::get_if<double>(&row[c])) {
          char buf[32];
          std::snprintf(buf, sizeof buf, "%.17g", *d);
          data += "<c r=\"" + ref + "\"><v>" + buf + "</v></c>";
        } else if (const auto* t = std::get_if<std::string>(&row[c]); t && !t->empty()) {
          data += "<c r=\"" + ref + "\" t=\"inlineStr\"><is><t xml:space=\"preserve\">" + Escape(*t) + "</t></is></c>";
        }
      }
      data += "</row>";
    }
    parts.emplace_back("xl/worksheets/sheet" + id + ".xml",
                       "<?xml version=\"1.0\"?><worksheet " + ns + "><sheetData>" + data + "</sheetData></worksheet>");
  }
  parts.emplace_back("xl/workbook.xml", workbook + "</sheets></workbook>");
  parts.emplace_back("xl/_rels/workbook.xml.rels", rels + "</Relationships>");
  WriteZip(path, parts);
}

BiffRecords& BiffRecords::Add(std::uint16_t type, const std::string& data) {
  bytes_ += U16(type) + U16(static_cast<std::uint16_t>(data.size())) + data;
  return *this;
}

BiffRecords& BiffRecords::Bof(std::uint16_t kind) {
  return Add(0x0809, U16(0x0600) + U16(kind) + U16(0) + U16(0) + U32(0) + U32(0));
}

std::string BiffRecords::U16(std::uint16_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}
std::string BiffRecords::U32(std::uint32_t v) {
  return U16(static_cast<std::uint16_t>(v & 0xFFFF)) + U16(static_cast<std::uint16_t>(v >> 16));
}
std::string BiffRecords::F64(double v) {
  std::string s(8, '\0');
  std::memcpy(s.data(), &v, 8);
  return s;
}
std::string BiffRecords::Str16(const std::string& s) {
  return U16(static_cast<std::uint16_t>(s.size())) + std::string(1, '\0') + s;
}
std::string BiffRecords::Str8(const std::string& s) {
  return std::string(1, static_cast<char>(s.size())) + std::string(1, '\0') + s;
}

}  // namespace kvr::testing
