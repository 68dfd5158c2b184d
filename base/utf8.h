// Small UTF-8 helpers. All text in the core is UTF-8; "characters" are code points.
#ifndef KVR_BASE_UTF8_H_
#define KVR_BASE_UTF8_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace kvr {

// Appends code point `cp` as UTF-8. Surrogates and values past U+10FFFF are
// written as U+FFFD, so the result is always valid UTF-8.
void AppendUtf8(std::string& out, char32_t cp);

// The first `count` code points of `text` (all of it when shorter). Never
// splits a multi-byte sequence.
std::string_view Utf8Prefix(std::string_view text, std::size_t count);

// Number of code points in `text`.
std::size_t Utf8Length(std::string_view text);

// Replaces every ill-formed sequence with U+FFFD.
std::string SanitizeUtf8(std::string_view text);

// A path as UTF-8 text, and a path from UTF-8 text. The path type's own
// narrow strings are in the ANSI code page on Windows, so every conversion
// between names and text goes through these.
std::string Utf8Path(const std::filesystem::path& path);
std::filesystem::path PathFromUtf8(std::string_view text);

// `text` with its control characters written out ("\n", "\r", "\t",
// "\x1B", C1 controls as "\u009B") and each byte of an ill-formed sequence
// as "\xFF", so that text from a workbook or a database never splits or
// rewrites a line of a report or drives the terminal.
std::string EscapeControls(std::string_view text);

}  // namespace kvr

#endif  // KVR_BASE_UTF8_H_
