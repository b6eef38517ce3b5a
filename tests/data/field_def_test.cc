#include "data/field_def.h"

#include <sstream>

#include <gtest/gtest.h>

namespace vigilo {
namespace {

using Items = std::vector<std::string>;

TEST(FieldDefParse, FullLine) {
  CFieldDef field(3,
                  "Status,Current status,5,10,2,attr,7,1:Open|2:Fixed|,1,2,3,4,"
                  "512(x|y|),5 a,b,c,4 abcd,LOOKUP,third,3 xyz,one two,");
  EXPECT_EQ(field.sequence, 3);
  EXPECT_EQ(field.name, "Status");
  EXPECT_EQ(field.label, "Current status");
  EXPECT_EQ(field.type, 5);
  EXPECT_EQ(field.width, 10u);
  EXPECT_EQ(field.decimals, 2);
  EXPECT_EQ(field.attribute_text, "attr");
  EXPECT_EQ(field.attribute_number, 7);
  EXPECT_EQ(field.choices, (Items{"1:Open", "2:Fixed"}));
  EXPECT_EQ(field.layout[0], 1);
  EXPECT_EQ(field.layout[3], 4);
  EXPECT_EQ(field.flags, 512);
  EXPECT_TRUE(field.HasHistoryFlag());
  EXPECT_EQ(field.secondary, (Items{"x", "y"}));
  EXPECT_EQ(field.extra1, "a,b,c");  // length-prefixed text keeps its commas
  EXPECT_EQ(field.extra2, "abcd");
  EXPECT_EQ(field.lookup, "LOOKUP");
  EXPECT_EQ(field.extra3, "third");
  EXPECT_EQ(field.extra4, "xyz");
  EXPECT_EQ(field.word1, "one");
  EXPECT_EQ(field.word2, "two");
}

TEST(FieldDefParse, DefaultsWithoutLine) {
  CFieldDef field(1);
  EXPECT_EQ(field.name, "NoName");
  EXPECT_EQ(field.label, "NoName");
  EXPECT_EQ(field.type, 0);
  EXPECT_EQ(field.width, 64u);
  EXPECT_EQ(field.flags, 1);
  EXPECT_EQ(field.layout[0], 100);
  EXPECT_EQ(field.layout[3], 24);
}

TEST(FieldDefParse, FewerFieldsKeepDefaults) {
  CFieldDef field(1, "Count,Count,1,8,");
  EXPECT_EQ(field.name, "Count");
  EXPECT_EQ(field.type, 1);
  EXPECT_EQ(field.width, 8u);
  EXPECT_EQ(field.flags, 1);
  EXPECT_EQ(field.layout[3], 24);
  // A field without a comma after it is not read.
  CFieldDef cut(1, "Count,Count,1,8");
  EXPECT_EQ(cut.width, 64u);
  CFieldDef empty(1, "");
  EXPECT_EQ(empty.name, "NoName");
  EXPECT_EQ(empty.label, "");
}

TEST(FieldDefParse, EmptyFieldsKeepDefaults) {
  CFieldDef field(1, "Name,,,,,,,,,,,,,0,0,,,0,,");
  EXPECT_EQ(field.name, "Name");
  EXPECT_EQ(field.width, 64u);
  EXPECT_EQ(field.flags, 1);
  EXPECT_TRUE(field.choices.empty());
  EXPECT_EQ(field.extra1, "");
  EXPECT_EQ(field.extra4, "");
}

TEST(FieldDefParse, AttributeTextWithComma) {
  CFieldDef field(1, "F,F,0,10,0,|a,b|,3,");
  EXPECT_EQ(field.attribute_text, "a,b");
  EXPECT_EQ(field.attribute_number, 3);
}

TEST(FieldDefParse, ChoiceItemsWithCommas) {
  CFieldDef field(1, "F,F,5,10,0,,0,Open, new|Closed|,9,");
  EXPECT_EQ(field.choices, (Items{"Open, new", "Closed"}));
  EXPECT_EQ(field.layout[0], 9);
}

TEST(FieldDefParse, LengthPrefixedFieldThatDoesNotFit) {
  // The length points past the comma: the raw text up to the comma is kept.
  CFieldDef field(1, "F,F,0,10,0,,0,,1,2,3,4,1,9 ab,cd,");
  EXPECT_EQ(field.extra1, "9 ab");
  EXPECT_EQ(field.extra2, "");  // "cd" is no length
  // A fourth extra text longer than the line is cut at the line end.
  CFieldDef last(1, "F,F,0,10,0,,0,,1,2,3,4,1,0,0,,,50 abc,");
  EXPECT_EQ(last.extra4, "abc,");
}

TEST(FieldDefWrite, RoundTrip) {
  CFieldDef field(2);
  field.name = "Summary";
  field.label = "Short summary";
  field.type = 0;
  field.width = 80;
  field.attribute_text = "x,y";
  field.attribute_number = 5;
  field.choices = {"a", "b, c"};
  field.flags = 0x201;
  field.secondary = {"s1", "s2"};
  field.extra1 = "one,two";
  field.extra2 = "ext2";
  field.lookup = "look";
  field.extra3 = "ex3";
  field.extra4 = "f,o,u,r";
  field.word1 = "w1";
  field.word2 = "w2";
  std::string line = FieldDefLine(field);
  EXPECT_EQ(line,
            "Summary,Short summary,0,80,0,|x,y|,5,a|b, c|,100,100,100,24,513(s1|s2|),"
            "7 one,two,4 ext2,look,ex3,7 f,o,u,r,w1 w2,");
  CFieldDef back(2, line);
  EXPECT_EQ(FieldDefLine(back), line);
  EXPECT_EQ(back.attribute_text, "x,y");
  EXPECT_EQ(back.choices, field.choices);
  EXPECT_EQ(back.extra4, "f,o,u,r");

  std::ostringstream out;
  WriteFieldDef(out, field);
  EXPECT_EQ(out.str(), line + "\n");
}

TEST(FieldDefWrite, DefaultsRoundTrip) {
  CFieldDef field(1);
  field.name = "ChngHist->ChngFrom";
  field.label = field.name;
  std::string line = FieldDefLine(field);
  EXPECT_EQ(line, "ChngHist->ChngFrom,ChngHist->ChngFrom,0,64,0,,0,,100,100,100,24,1,0,0,,,0,,");
  CFieldDef back(1, line);
  EXPECT_EQ(back.name, field.name);
  EXPECT_EQ(back.label, field.label);
  EXPECT_EQ(FieldDefLine(back), line);
}

TEST(FieldDefLookup, ExactNameOnly) {
  std::vector<CFieldDef> fields = {CFieldDef(1, "Status,S,5,10,"), CFieldDef(2, "Owner,O,9,10,")};
  EXPECT_EQ(FindField(fields, "Owner"), &fields[1]);
  EXPECT_EQ(FindField(fields, "owner"), nullptr);
}

}  // namespace
}  // namespace vigilo
