#include "base/utf8.h"

namespace kvr {
namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the well-formed sequence at text[i], or 0 when it is ill-formed.
std::size_t SequenceLength(std::string_view text, std::size_t i) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  std::size_t n;
  char32_t min;
  if (b0 < 0x80) return 1;
  if ((b0 & 0xE0) == 0xC0) { n = 2; min = 0x80; }
  else if ((b0 & 0xF0) == 0xE0) { n = 3; min = 0x800; }
  else if ((b0 & 0xF8) == 0xF0) { n = 4; min = 0x10000; }
  else return 0;
  if (i + n > text.size()) return 0;
  char32_t cp = b0 & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if (!IsContinuation(b)) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string_view Utf8Prefix(std::string_view text, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t seen = 0; i < text.size() && seen < count; ++seen) {
    ++i;
    while (i < text.size() && IsContinuation(static_cast<unsigned char>(text[i]))) ++i;
  }
  return text.substr(0, i);
}

std::size_t Utf8Length(std::string_view text) {
  std::size_t n = 0;
  for (char c : text) n += !IsContinuation(static_cast<unsigned char>(c));
  return n;
}

std::string SanitizeUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = SequenceLength(text, i);
    if (n == 0) {
      AppendUtf8(out, 0xFFFD);
      ++i;
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

std::string EscapeControls(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto u = static_cast<unsigned char>(text[i]);
    const std::size_t n = SequenceLength(text, i);
    if (n == 0) {
      // A byte that is no part of a character: shown as its value, never
      // handed to the terminal to make of it what it will.
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
      ++i;
      continue;
    }
    const char32_t cp = n == 2 ? ((u & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu) : u;
    if (u == '\n') {
      out += "\\n";
    } else if (u == '\r') {
      out += "\\r";
    } else if (u == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7F) {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else if (n == 2 && cp >= 0x80 && cp <= 0x9F) {
      // C1 controls: a terminal takes U+009B as the start of a command.
      out += "\\u00";
      out += kHex[cp >> 4];
      out += kHex[cp & 15];
    } else {
      out.append(text.substr(i, n));
    }
    i += n;
  }
  return out;
}

std::string Utf8Path(const std::filesystem::path& path) {
  const std::u8string u8 = path.u8string();
  return std::string(u8.begin(), u8.end());
}

std::filesystem::path PathFromUtf8(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

}  // namespace kvr
