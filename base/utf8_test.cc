#include "base/utf8.h"

#include <gtest/gtest.h>

namespace kvr {
namespace {

TEST(Utf8Test, PrefixCountsCodePointsAndNeverSplitsASequence) {
  EXPECT_EQ(Utf8Prefix("Microphone 1", 8), "Micropho");
  EXPECT_EQ(Utf8Prefix("Mikrofon Ü", 10), "Mikrofon Ü");
  EXPECT_EQ(Utf8Prefix("ÄÖÜäöüßé€", 8), "ÄÖÜäöüßé");
  EXPECT_EQ(Utf8Prefix("a𝄞b", 2), "a𝄞");
  EXPECT_EQ(Utf8Prefix("ab", 8), "ab");
  EXPECT_EQ(Utf8Length("a𝄞€"), 3u);
}

TEST(Utf8Test, IllFormedInputBecomesReplacementCharacters) {
  EXPECT_EQ(SanitizeUtf8("ok"), "ok");
  EXPECT_EQ(SanitizeUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(SanitizeUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // encoded surrogate
  EXPECT_EQ(SanitizeUtf8("\xC3"), "\xEF\xBF\xBD");                                     // truncated
  std::string s;
  AppendUtf8(s, 0xD800);
  EXPECT_EQ(s, "\xEF\xBF\xBD");
}

TEST(Utf8Test, EscapedTextDrivesNoTerminal) {
  EXPECT_EQ(EscapeControls("a\nb\tc\x1B[2J"), "a\\nb\\tc\\x1B[2J");
  EXPECT_EQ(EscapeControls("Mic \xC2\x9B" "31m"), "Mic \\u009B31m");  // U+009B, a C1 control
  EXPECT_EQ(EscapeControls("caf\xC3\xA9 \xC2\xA0x"), "caf\xC3\xA9 \xC2\xA0x");  // é and U+00A0 stay
  EXPECT_EQ(EscapeControls("bad \xFF\xC3"), "bad \\xFF\\xC3");  // no character at all
  EXPECT_EQ(EscapeControls("\xE2\x82\xAC"), "\xE2\x82\xAC");
}

}  // namespace
}  // namespace kvr
