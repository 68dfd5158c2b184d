// Streaming a zip part through expat, shared by the zip-based readers.
//
// A handler has Start(name, attributes), End(name), Text(chars, length) and a
// string `error` it sets to refuse the part. Names are either local names
// ("c" for "x:c") or, with XmlNames::kNamespaced, the names as written
// ("table:table-cell"), with the handler's XmlNamespaces member `namespaces`
// kept up to date with the prefixes bound where the parse stands, which lets
// a reader tell elements and attributes of different vocabularies apart
// whatever prefixes the file uses. A handler that also has a bool `finished`
// may set it to end the parse early without error, and one with a bool
// `limit` sets it with `error` when the part is refused for passing a bound
// (the error is then a WorkbookLimitError).
//
// Nesting deeper than kMaxXmlDepth elements is refused: no real workbook
// nests more than a few dozen levels, and a file of unclosed elements would
// otherwise grow the parser's stack without end.
#ifndef KVR_WORKBOOK_XML_STREAM_H_
#define KVR_WORKBOOK_XML_STREAM_H_

#include <expat.h>

#include <cstddef>
#include <new>
#include <string>
#include <string_view>

#include "workbook/workbook_error.h"
#include "workbook/xml_namespaces.h"
#include "workbook/zip_archive.h"

namespace kvr {

inline constexpr int kMaxXmlDepth = 256;

enum class XmlNames { kLocal, kNamespaced };

// "c" for "x:c" and for "c".
inline std::string_view LocalName(std::string_view name) {
  const auto colon = name.rfind(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// The same for a name as expat hands it, in one pass over its characters
// (the parser's hottest path calls this for every element).
inline std::string_view LocalName(const char* name) {
  const char* start = name;
  const char* p = name;
  for (; *p != 0; ++p) {
    if (*p == ':') start = p + 1;
  }
  return {start, static_cast<std::size_t>(p - start)};
}

// The value of the attribute named `name` (as the handler sees names), or nullptr.
inline const char* FindAttribute(const XML_Char** atts, std::string_view name, XmlNames names = XmlNames::kLocal) {
  for (int i = 0; atts[i] != nullptr; i += 2) {
    const std::string_view n = atts[i];
    if ((names == XmlNames::kLocal ? LocalName(n) : n) == name) return atts[i + 1];
  }
  return nullptr;
}

namespace xml_stream_detail {

template <typename Handler>
struct Context {
  XML_Parser parser;
  Handler* handler;
  XmlNames names;
  int depth = 0;
  bool too_deep = false;

  std::string_view Name(const XML_Char* name) const {
    return names == XmlNames::kLocal ? LocalName(static_cast<const char*>(name)) : std::string_view(name);
  }
};

template <typename Handler>
bool PastLimit(const Handler& h) {
  if constexpr (requires { h.limit; }) return h.limit;
  return false;
}

template <typename Handler>
bool Finished(const Handler& h) {
  if constexpr (requires { h.finished; }) return h.finished;
  return false;
}

// True when the parse must stop now: the handler is done or refused the part.
template <typename Handler>
bool MustStop(const Handler& h) {
  return Finished(h) || !h.error.empty();
}

}  // namespace xml_stream_detail

// Parses zip part `part` of `file` as it inflates (at most `cap` bytes).
// Throws WorkbookError naming the file and part when the XML is malformed,
// nests too deep or the handler set `error`.
template <typename Handler>
void StreamXml(const ZipArchive& zip, const std::string& file, const std::string& part, std::size_t cap,
               Handler& handler, XmlNames names = XmlNames::kLocal) {
  using Ctx = xml_stream_detail::Context<Handler>;
  XML_Parser parser = XML_ParserCreate(nullptr);
  if (parser == nullptr) throw std::bad_alloc();
  struct Guard {
    XML_Parser p;
    ~Guard() { XML_ParserFree(p); }
  } guard{parser};
  Ctx ctx{parser, &handler, names};
  XML_SetUserData(parser, &ctx);
  XML_SetElementHandler(
      parser,
      [](void* ud, const XML_Char* name, const XML_Char** atts) {
        auto* c = static_cast<Ctx*>(ud);
        if (++c->depth > kMaxXmlDepth) {
          c->too_deep = true;
          XML_StopParser(c->parser, XML_FALSE);
          return;
        }
        if constexpr (requires { c->handler->namespaces.Enter(atts); }) c->handler->namespaces.Enter(atts);
        c->handler->Start(c->Name(name), atts);
        if (xml_stream_detail::MustStop(*c->handler)) XML_StopParser(c->parser, XML_FALSE);
      },
      [](void* ud, const XML_Char* name) {
        auto* c = static_cast<Ctx*>(ud);
        --c->depth;
        c->handler->End(c->Name(name));
        if constexpr (requires { c->handler->namespaces.Leave(); }) c->handler->namespaces.Leave();
        if (xml_stream_detail::MustStop(*c->handler)) XML_StopParser(c->parser, XML_FALSE);
      });
  XML_SetCharacterDataHandler(parser, [](void* ud, const XML_Char* s, int len) {
    auto* c = static_cast<Ctx*>(ud);
    c->handler->Text(s, static_cast<std::size_t>(len));
    if (xml_stream_detail::MustStop(*c->handler)) XML_StopParser(c->parser, XML_FALSE);
  });
  const std::string where = "damaged workbook: " + file + ", part " + part + ": ";
  const std::string past = "workbook too large: " + file + ", part " + part + ": ";
  auto fail = [&] {
    if (ctx.too_deep) {
      throw WorkbookLimitError(past + "elements nested deeper than " + std::to_string(kMaxXmlDepth) + " levels");
    }
    if (xml_stream_detail::PastLimit(handler)) throw WorkbookLimitError(past + handler.error);
    if (!handler.error.empty()) throw WorkbookError(where + handler.error);
    throw WorkbookError(where + "malformed XML at line " + std::to_string(XML_GetCurrentLineNumber(parser)) + " (" +
                        XML_ErrorString(XML_GetErrorCode(parser)) + ")");
  };
  // Thrown out of the inflating loop once the handler has what it needs.
  struct Done {};
  try {
    zip.Stream(part, cap, [&](const char* p, std::size_t n) {
      if (XML_Parse(parser, p, static_cast<int>(n), 0) != XML_STATUS_OK) {
        if (xml_stream_detail::Finished(handler) && handler.error.empty() && !ctx.too_deep) throw Done{};
        fail();
      }
    });
    if (XML_Parse(parser, "", 0, 1) != XML_STATUS_OK && !xml_stream_detail::Finished(handler)) fail();
  } catch (const Done&) {
  }
  if (!handler.error.empty()) fail();
}

}  // namespace kvr

#endif  // KVR_WORKBOOK_XML_STREAM_H_
