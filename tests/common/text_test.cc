#include "common/format.h"
#include "common/text.h"

#include <sstream>

#include <gtest/gtest.h>

namespace vigilo {
namespace {

TEST(FormatTest, FillsTemplatesOfAnyLength) {
  EXPECT_EQ(Format("%ld\\%s\\%s", 1L, "BUGS", "Proj"), "1\\BUGS\\Proj");
  std::string long_value(2000, 'x');
  EXPECT_EQ(Format("<%s>", long_value.c_str()).size(), 2002u);
}

TEST(SplitTextTest, KeepsOrDropsEmptyPieces) {
  EXPECT_EQ(SplitText("ann,,bob", ','), (std::vector<std::string>{"ann", "", "bob"}));
  EXPECT_EQ(SplitText("", ','), (std::vector<std::string>{""}));
  EXPECT_EQ(SplitText("a,", ','), (std::vector<std::string>{"a", ""}));
  EXPECT_EQ(SplitNonEmpty("ann,,bob,", ','), (std::vector<std::string>{"ann", "bob"}));
}

TEST(TrimTest, RemovesOnlyBlanksAtTheChosenEnd) {
  std::string s = "  Open  ";
  TrimRight(s);
  EXPECT_EQ(s, "  Open");
  TrimLeft(s);
  EXPECT_EQ(s, "Open");
  std::string blank = "    ";
  Trim(blank);
  EXPECT_EQ(blank, "");
  std::string tab = "\tx ";
  Trim(tab);
  EXPECT_EQ(tab, "\tx");
}

TEST(ReadLineTest, ReadsLinesOfAnyLengthWithEitherLineEnd) {
  std::string big(100000, 'f');
  std::istringstream in("first\r\n" + big + "\nlast");
  std::string line;
  ASSERT_TRUE(ReadLine(in, line));
  EXPECT_EQ(line, "first");
  ASSERT_TRUE(ReadLine(in, line));
  EXPECT_EQ(line.size(), big.size());
  ASSERT_TRUE(ReadLine(in, line));
  EXPECT_EQ(line, "last");
  EXPECT_FALSE(ReadLine(in, line));
}

TEST(LeadingNumberTest, ReadsLikeAtol) {
  EXPECT_EQ(LeadingNumber("10"), 10);
  EXPECT_EQ(LeadingNumber("  -7x"), -7);
  EXPECT_EQ(LeadingNumber("abc"), 0);
  EXPECT_EQ(LeadingNumber(""), 0);
  EXPECT_EQ(LeadingNumber("+3,4"), 3);
}

TEST(CaseTest, ComparesWithoutRegardToCase) {
  EXPECT_TRUE(EqualsNoCase("Morvane Vigilo", "MORVANE vigilo"));
  EXPECT_FALSE(EqualsNoCase("abc", "abcd"));
  EXPECT_TRUE(StartsWithNoCase("FieldName=x", "field"));
}

}  // namespace
}  // namespace vigilo
