#include "tables/change_log.h"

#include <gtest/gtest.h>

namespace kvr {
namespace {

std::vector<std::string> Texts(const ChangeList& list) {
  std::vector<std::string> texts;
  for (const FieldChange& c : list) {
    texts.push_back(c.table + ", " + c.key + ", " + c.field + ": " + FieldValueText(c.before) + " -> " +
                    FieldValueText(c.after));
  }
  return texts;
}

// Each change reads back as it was kept: every kind of key and value, names
// shared by some changes and not others, texts of any length side by side.
TEST(ChangeListTest, EveryChangeReadsBackAsKept) {
  ChangeList list;
  const std::string long_text(70000, 'x');
  list.Add("InptAlphas", "Chan Num", std::int64_t{7}, "Label", std::string(""), std::string("Mic 1"));
  list.Add("InptAlphas", "Chan Num", std::int64_t{-32768}, "Type", std::int64_t{0}, std::int64_t{3});
  list.Add("OptoRelaySets", "SetNum", std::int64_t{2}, "Label", std::monostate{}, long_text);
  list.Add("InptAlphas", "Chan Num", std::monostate{}, "Label", std::string("a"), std::monostate{});
  list.Add("InptAlphas", "Chan Num", std::string("x1"), "Notes", std::int64_t{1} << 40, std::string("\x1f\n"));
  list.Add(FieldChange{"T", "key as said", "Label", std::string("b"), std::string("c")});
  ASSERT_EQ(list.size(), 6u);
  EXPECT_EQ(Texts(list), (std::vector<std::string>{
                             "InptAlphas, Chan Num 7, Label: \"\" -> \"Mic 1\"",
                             "InptAlphas, Chan Num -32768, Type: 0 -> 3",
                             "OptoRelaySets, SetNum 2, Label: Null -> \"" + long_text + "\"",
                             "InptAlphas, Chan Num Null, Label: \"a\" -> Null",
                             "InptAlphas, Chan Num \"x1\", Notes: 1099511627776 -> \"\x1f\n\"",
                             "T, key as said, Label: \"b\" -> \"c\"",
                         }));
  EXPECT_EQ(list[2].after, FieldValue{long_text});
  EXPECT_EQ(list[1].before, FieldValue{std::int64_t{0}});
}

// A copy is a list of its own: adding to one leaves the other as it was.
TEST(ChangeListTest, ACopyIsIndependent) {
  ChangeList first = {{"InptAlphas", "Chan Num 1", "Label", std::string(""), std::string("A")}};
  ChangeList second = first;
  second.Add("OutptAlphas", "Chan Num", std::int64_t{2}, "Label", std::string("B"), std::string("C"));
  first.Add("InptAlphas", "Chan Num", std::int64_t{3}, "Mute", std::int64_t{0}, std::int64_t{1});
  EXPECT_EQ(Texts(first), (std::vector<std::string>{"InptAlphas, Chan Num 1, Label: \"\" -> \"A\"",
                                                    "InptAlphas, Chan Num 3, Mute: 0 -> 1"}));
  EXPECT_EQ(Texts(second), (std::vector<std::string>{"InptAlphas, Chan Num 1, Label: \"\" -> \"A\"",
                                                     "OutptAlphas, Chan Num 2, Label: \"B\" -> \"C\""}));
}

// The log keeps changes only when asked to, and counts them either way.
TEST(ChangeLogTest, KeepsOnlyWhenAskedAndCountsAlways) {
  ChangeLog counting(true, false), keeping(false, true);
  for (ChangeLog* log : {&counting, &keeping}) {
    log->Keep("InptAlphas", "Chan Num", std::int64_t{1}, "Label", std::string(""), std::string("A"));
    log->Count("InptAlphas", 1, true);
    log->Count("InptAlphas", 2, false);
    log->Count("InptAlphas", 0, true);
    EXPECT_EQ(log->counts().at("InptAlphas").records, 1);
    EXPECT_EQ(log->counts().at("InptAlphas").fields, 3);
  }
  EXPECT_TRUE(counting.list().empty());
  EXPECT_EQ(keeping.list().size(), 1u);
}

}  // namespace
}  // namespace kvr
