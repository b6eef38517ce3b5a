// Numbers as the embedded dBase engine reads them from N fields, in every
// layout a field can have: right-aligned as the xBase library writes them,
// left-aligned, signed, wider than a machine word, and not numbers at all.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/sql/dbf_field_text.h"

namespace vigilo::sql {
namespace {

TEST(ParseIntegerTest, ReadsEveryLayoutOfAWholeNumber) {
  EXPECT_EQ(ParseInteger("         7"), 7);
  EXPECT_EQ(ParseInteger("  12345678"), 12345678);   // eight digits, blanks before
  EXPECT_EQ(ParseInteger("12345678"), 12345678);     // eight digits, the whole field
  EXPECT_EQ(ParseInteger(" 123456789"), 123456789);  // more than a word of digits
  EXPECT_EQ(ParseInteger("        0000000042"), 42);
  EXPECT_EQ(ParseInteger("          1000000"), 1000000);
  EXPECT_EQ(ParseInteger("999999999999999999"), 999999999999999999);
  EXPECT_EQ(ParseInteger("42"), 42);                 // narrower than a word
  EXPECT_EQ(ParseInteger("      -305"), -305);
  EXPECT_EQ(ParseInteger("-12345678"), -12345678);
  EXPECT_EQ(ParseInteger("42        "), 42);         // left-aligned
  EXPECT_EQ(ParseInteger("     +9"), 9);
  EXPECT_EQ(ParseInteger("    2.50"), 3);            // a decimal is rounded
  EXPECT_EQ(ParseInteger("        12345678"), 12345678);   // sixteen bytes
  EXPECT_EQ(ParseInteger("               5"), 5);
  EXPECT_EQ(ParseInteger("                5"), 5);          // seventeen
  EXPECT_EQ(ParseInteger("     00000"), 0);
}

TEST(ParseIntegerTest, BlanksAndOtherTextAreNoNumber) {
  EXPECT_EQ(ParseInteger("          "), std::nullopt);
  EXPECT_EQ(ParseInteger(""), std::nullopt);
  EXPECT_EQ(ParseInteger("     12 34"), std::nullopt);
  EXPECT_EQ(ParseInteger("   1234:67"), std::nullopt);  // ':' follows '9'
  EXPECT_EQ(ParseInteger("   1234/67"), std::nullopt);  // '/' precedes '0'
  EXPECT_EQ(ParseInteger("  12345A78"), std::nullopt);
  EXPECT_EQ(ParseInteger("    -"), std::nullopt);
  EXPECT_EQ(ParseInteger("  \xb1" "2345678"), std::nullopt);
  EXPECT_EQ(ParseInteger("1       00000042"), std::nullopt);  // a digit ahead of blanks
  EXPECT_EQ(ParseInteger("       1 0000042"), std::nullopt);
}

}  // namespace
}  // namespace vigilo::sql
