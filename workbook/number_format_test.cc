#include "workbook/number_format.h"

#include <gtest/gtest.h>

namespace kvr {
namespace {

TEST(NumberFormatTest, BuiltinDateIds) {
  for (int id : {14, 22, 27, 36, 45, 47, 50, 58}) EXPECT_TRUE(IsBuiltinDateFormat(id, false)) << id;
  for (int id : {0, 1, 13, 23, 26, 37, 44, 48, 49, 59, 71, 164}) EXPECT_FALSE(IsBuiltinDateFormat(id, false)) << id;
  EXPECT_TRUE(IsBuiltinDateFormat(71, true));
}

TEST(NumberFormatTest, OpenXmlFormatCodes) {
  for (const char* code : {"yyyy-mm-dd", "d/m/yy h:mm", "[h]:mm:ss", "[$-409]mmmm d, yyyy", "mm:ss.0",
                           "[Red]dd/mm", "HH:MM"}) {
    EXPECT_TRUE(IsDateFormatCode(code)) << code;
  }
  for (const char* code : {"General", "0.00", "[Red]0", "\"days\"0", "0\\d", "#,##0;[Red]-#,##0", "0;dd", "@",
                           "0.00E+00", "[$EUR ]#,##0.00_-"}) {
    EXPECT_FALSE(IsDateFormatCode(code)) << code;
  }
}

TEST(NumberFormatTest, BinaryFormatCodesWeighDateLettersAgainstDigits) {
  EXPECT_TRUE(IsBiffDateFormatCode("dd/mm/yyyy"));
  EXPECT_TRUE(IsBiffDateFormatCode("h:mm AM/PM"));
  EXPECT_FALSE(IsBiffDateFormatCode("General"));
  EXPECT_FALSE(IsBiffDateFormatCode("0.00"));
  EXPECT_FALSE(IsBiffDateFormatCode("\"Yes\";\"Yes\";\"No\""));
  EXPECT_FALSE(IsBiffDateFormatCode("[Red]0.00"));
}

}  // namespace
}  // namespace kvr
