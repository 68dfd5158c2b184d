#include "workbook/xlsx_package.h"

#include <charconv>
#include <cstdint>
#include <cstring>

#include "base/utf8.h"
#include "workbook/workbook.h"
#include "workbook/xml_stream.h"

namespace kvr::xlsx {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Decodes the _xHHHH_ escapes of package text: "_x000D_" is a carriage
// return, "_x005F_" an underscore. Surrogate pairs are joined; a lone
// surrogate becomes U+FFFD.
std::string DecodeEscapes(std::string text) {
  if (text.find("_x") == std::string::npos) return text;
  std::string out;
  out.reserve(text.size());
  auto escape_at = [&](std::size_t i) -> int {
    if (i + 7 > text.size() || text[i] != '_' || text[i + 1] != 'x' || text[i + 6] != '_') return -1;
    int v = 0;
    for (std::size_t k = i + 2; k < i + 6; ++k) {
      const int h = HexValue(text[k]);
      if (h < 0) return -1;
      v = v * 16 + h;
    }
    return v;
  };
  for (std::size_t i = 0; i < text.size();) {
    const int v = escape_at(i);
    if (v < 0) {
      out += text[i++];
      continue;
    }
    i += 7;
    char32_t cp = static_cast<char32_t>(v);
    if (v >= 0xD800 && v <= 0xDBFF) {
      const int lo = escape_at(i);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        cp = 0x10000 + ((static_cast<char32_t>(v) - 0xD800) << 10) + (static_cast<char32_t>(lo) - 0xDC00);
        i += 7;
      }
    }
    AppendUtf8(out, cp);
  }
  return out;
}

// Resolves a relationship target against the folder of its source part.
std::string ResolveTarget(std::string_view source_dir, std::string_view target) {
  std::string joined = (!target.empty() && target.front() == '/')
                           ? std::string(target.substr(1))
                           : std::string(source_dir) + std::string(target);
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= joined.size()) {
    const auto slash = joined.find('/', start);
    const std::string seg = joined.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (seg == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!seg.empty() && seg != ".") {
      parts.push_back(seg);
    }
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  std::string out;
  for (const auto& p : parts) {
    if (!out.empty()) out += '/';
    out += p;
  }
  return out;
}

std::string DirectoryOf(std::string_view part) {
  const auto slash = part.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
}

std::string RelsPathOf(std::string_view part) {
  return DirectoryOf(part) + "_rels/" + std::string(part.substr(part.rfind('/') + 1)) + ".rels";
}

pugi::xml_document ParseSmallPart(const ZipArchive& zip, const std::string& file, const std::string& part) {
  const std::string xml = zip.Read(part, kSmallPartCap);
  pugi::xml_document doc;
  const auto res = doc.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_auto);
  if (!res) {
    throw WorkbookError("damaged workbook: " + file + ", part " + part + ": malformed XML (" +
                        res.description() + " at offset " + std::to_string(res.offset) + ")");
  }
  return doc;
}

pugi::xml_node Child(pugi::xml_node node, std::string_view local) {
  for (auto c : node.children()) {
    if (LocalName(c.name()) == local) return c;
  }
  return {};
}

pugi::xml_attribute Attribute(pugi::xml_node node, std::string_view local) {
  for (auto a : node.attributes()) {
    if (LocalName(a.name()) == local) return a;
  }
  return {};
}


std::unordered_map<std::string, Relationship> ReadRelationships(const ZipArchive& zip, const std::string& file,
                                                                const std::string& part) {
  std::unordered_map<std::string, Relationship> rels;
  const std::string rels_part = RelsPathOf(part);
  if (!zip.Has(rels_part)) return rels;
  const auto doc = ParseSmallPart(zip, file, rels_part);
  for (auto rel : doc.document_element().children()) {
    if (LocalName(rel.name()) != "Relationship") continue;
    if (std::string_view(rel.attribute("TargetMode").value()) == "External") continue;
    rels[rel.attribute("Id").value()] =
        Relationship{rel.attribute("Type").value(), ResolveTarget(DirectoryOf(part), rel.attribute("Target").value())};
  }
  return rels;
}

// Parses "AB12" into row and column; false when malformed or out of range.
bool ParseCellReference(std::string_view ref, int& row, int& column) {
  std::size_t i = 0;
  int c = 0;
  while (i < ref.size() && i < 4 && ((ref[i] >= 'A' && ref[i] <= 'Z') || (ref[i] >= 'a' && ref[i] <= 'z'))) {
    c = c * 26 + ((ref[i] | 0x20) - 'a' + 1);
    ++i;
  }
  if (i == 0 || c > kMaxColumn) return false;
  int r = 0;
  const auto res = std::from_chars(ref.data() + i, ref.data() + ref.size(), r);
  if (res.ec != std::errc() || res.ptr != ref.data() + ref.size() || r < 1 || r > kMaxRow) return false;
  row = r;
  column = c;
  return true;
}

}  // namespace kvr::xlsx
