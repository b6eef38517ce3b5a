#include "platform/xbase/xbase_expression.h"

#include <ctime>

#include <gtest/gtest.h>

#include "common/format.h"
#include "platform/xbase/calendar.h"
#include "platform/xbase/dbf_table.h"
#include "platform/xbase/xbase_node.h"
#include "tests/platform/xbase/xbase_test_util.h"

namespace vigilo {
namespace {

// One record: GrpName "dev", Dsn "Bugs", DbType 1, Price 12.5, Due 2024-02-29,
// Done true, Notes "memo text", Neg -3.
class XbaseExpressionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table_ = DbfTable::Create(dir_.File("expr.dbf"),
                              {{"GrpName", 'C', 10, 0}, {"Dsn", 'C', 8, 0},
                               {"DbType", 'N', 8, 0}, {"Price", 'N', 10, 2},
                               {"Due", 'D', 8, 0}, {"Done", 'L', 1, 0},
                               {"Notes", 'M', 10, 0}, {"Neg", 'F', 6, 1},
                               {"Empty", 'D', 8, 0}});
    table_->AppendStart();
    table_->AssignText(0, "dev");
    table_->AssignText(1, "Bugs");
    table_->AssignLong(2, 1);
    table_->AssignNumber(3, 12.5);
    table_->AssignText(4, "20240229");
    table_->AssignLogical(5, true);
    table_->AssignText(6, "memo text");
    table_->AssignNumber(7, -3);
    table_->AppendWrite();
  }

  XbaseRow Row() { return XbaseRow{table_->RecordBytes(), table_->RecNo(), table_.get()}; }

  bool True(const std::string& text) {
    return XbaseExpression::Parse(text, table_.get())->IsTrue(Row());
  }

  std::string Value(const std::string& text) {
    return XbaseExpression::Parse(text, table_.get())->ToText(Row());
  }

  testing::TempDir dir_;
  std::unique_ptr<DbfTable> table_;
};

TEST_F(XbaseExpressionTest, TextEqualityComparesUpToTheRightTextsLength) {
  EXPECT_TRUE(True("GrpName = 'dev'"));
  EXPECT_TRUE(True("GrpName = 'dev    '"));  // the membership filter's four blanks
  EXPECT_TRUE(True("GrpName = 'de'"));
  EXPECT_TRUE(True("GrpName = ''"));
  EXPECT_FALSE(True("GrpName = 'devx'"));
  EXPECT_FALSE(True("GrpName = 'dev x'"));
  // Blanks past the field's width still match the padded value.
  EXPECT_TRUE(True("GrpName = 'dev           '"));
  EXPECT_FALSE(True("GrpName = 'dev          x'"));
  EXPECT_FALSE(True("GrpName == 'dev'"));
  EXPECT_TRUE(True("TRIM(GrpName) == 'dev'"));
  EXPECT_TRUE(True("GrpName <> 'ops'"));
  EXPECT_TRUE(True("GrpName # 'ops'"));
  EXPECT_TRUE(True("GrpName != 'ops'"));
  EXPECT_FALSE(True("GrpName <> 'dev   '"));
  EXPECT_TRUE(True("GrpName < 'e'"));
  EXPECT_TRUE(True("GrpName >= 'dev'"));
  EXPECT_TRUE(True("GrpName <= 'de'"));  // equal up to the right's length
  EXPECT_FALSE(True("GrpName > 'dev       '"));
}

TEST_F(XbaseExpressionTest, EvaluatesTheRuleManagersFilters) {
  EXPECT_TRUE(True("(UPPER(Dsn) = UPPER('BUGS   '))"));
  EXPECT_TRUE(True("(DbType = 1) .AND. (UPPER(Dsn) = UPPER('bugs   ')) .and. "
                   "(UPPER(GrpName) = UPPER('DEV    '))"));
  EXPECT_FALSE(True("(DbType = 2) .AND. (UPPER(Dsn) = UPPER('BUGS   '))"));
  EXPECT_TRUE(True("(DbType = 2) .OR. .NOT. (Dsn = 'x')"));
  EXPECT_TRUE(True("(UPPER('BUG') $ UPPER(Dsn))"));
  EXPECT_TRUE(True("(DTOS(Due) >= '20240101' .AND. DTOS(Due) <= '20241231')"));
  EXPECT_TRUE(True("(Price >= 10 .AND. Price <= 20)"));
}

TEST_F(XbaseExpressionTest, ComputesWithNumbersDatesAndLogicals) {
  EXPECT_TRUE(True("1 + 2 * 3 = 7"));
  EXPECT_TRUE(True("(1 + 2) * 3 = 9"));
  EXPECT_TRUE(True("-Neg = 3 .AND. Neg < 0"));
  EXPECT_TRUE(True("Price / 2 - 0.25 = 6"));
  EXPECT_EQ(Value("7 / 2"), "3.5");
  EXPECT_EQ(Value("DbType * 1000000"), "1000000");
  EXPECT_TRUE(True("Due + 1 = CTOD('03/01/24')"));
  EXPECT_TRUE(True("1 + Due = CTOD('03/01/2024')"));
  EXPECT_TRUE(True("Due - 29 = CTOD('01/31/2024')"));
  EXPECT_TRUE(True("Due - CTOD('02/01/2024') = 28"));
  EXPECT_TRUE(True("Due > CTOD('12/31/99')"));
  EXPECT_EQ(Value("DTOS(Due)"), "20240229");
  EXPECT_EQ(Value("DTOC(Due)"), "02/29/24");
  EXPECT_EQ(Value("DTOS(Empty)"), "        ");
  EXPECT_EQ(Value("DTOS(CTOD('02/30/2024'))"), "        ");
  EXPECT_TRUE(True("Empty < Due"));
  EXPECT_TRUE(True("Done .AND. .NOT. .F."));
  EXPECT_TRUE(True("Done = .T. .AND. Done <> .N."));
  EXPECT_TRUE(True("!.F."));
  EXPECT_EQ(Value("Done"), "T");
}

TEST_F(XbaseExpressionTest, ReadsAndWritesDatesAcrossLeapDaysAndCenturies) {
  EXPECT_EQ(Value("DTOS(CTOD('02/29/2000'))"), "20000229");
  EXPECT_EQ(Value("DTOS(CTOD('02/29/2100'))"), "        ");  // 2100 is no leap year
  EXPECT_EQ(Value("DTOS(CTOD('02/28/2100') + 1)"), "21000301");
  EXPECT_EQ(Value("DTOS(CTOD('03/01/2000') - 1)"), "20000229");
  EXPECT_EQ(Value("CTOD('03/01/2000') - CTOD('03/01/1999')"), "366");
  // Two-digit years below 50 are in this century, the others in the last.
  EXPECT_EQ(Value("DTOS(CTOD('12/31/49'))"), "20491231");
  EXPECT_EQ(Value("DTOS(CTOD('1-5-50'))"), "19500105");
  EXPECT_EQ(Value("DTOS(CTOD(' 1.5.0099 '))"), "00990105");
  // Only digits between exactly three "/", "-" or "." separated parts count.
  EXPECT_EQ(Value("DTOS(CTOD('01/05/99x'))"), "        ");
  EXPECT_EQ(Value("DTOS(CTOD('01 05 99'))"), "        ");
  EXPECT_EQ(Value("DTOS(CTOD('01/05/12345'))"), "        ");
  EXPECT_EQ(Value("DTOC(CTOD('01/05/1999'))"), "01/05/99");
  EXPECT_EQ(Value("DTOC(Empty)"), "  /  /  ");
  // The blank date stays blank under arithmetic; dates stop at 00010101.
  EXPECT_EQ(Value("DTOS(Empty + 5)"), "        ");
  EXPECT_EQ(Value("DTOS(CTOD('01/01/0001') - 1)"), "        ");
  EXPECT_EQ(Value("DTOS(CTOD('12/31/9999') + 1)"), "        ");
}

TEST_F(XbaseExpressionTest, AppliesTheTextFunctions) {
  EXPECT_EQ(Value("UPPER(GrpName) + '|'"), "DEV       |");
  EXPECT_EQ(Value("LOWER('AbC')"), "abc");
  EXPECT_EQ(Value("TRIM(GrpName) + RTRIM(' x ') + '|'"), "dev x|");
  EXPECT_EQ(Value("LTRIM('  x ') + ALLTRIM('  y  ') + '|'"), "x y|");
  EXPECT_EQ(Value("'ab  ' - 'cd'"), "abcd  ");
  EXPECT_EQ(Value("SUBSTR('abcdef', 2, 3)"), "bcd");
  EXPECT_EQ(Value("SUBSTR('abcdef', 4)"), "def");
  EXPECT_EQ(Value("SUBSTR('abc', 9, 2)"), "");
  EXPECT_EQ(Value("LEFT('abc', 2) + RIGHT('abc', 2) + LEFT('abc', 9)"), "abbcabc");
  EXPECT_EQ(Value("STR(42)"), "        42");
  EXPECT_EQ(Value("STR(3.14159, 6, 2)"), "  3.14");
  EXPECT_EQ(Value("STR(123456, 3)"), "***");
  EXPECT_EQ(Value("STR(Price, 5, 1)"), " 12.5");
  EXPECT_EQ(Value("VAL('  12.5xyz') + VAL('abc')"), "12.5");
  EXPECT_EQ(Value("LEN(GrpName) + LEN('')"), "10");
  EXPECT_EQ(Value("IIF(Done, 'yes', 'no')"), "yes");
  EXPECT_EQ(Value("IIF(DbType > 5, 1, 2)"), "2");
  EXPECT_EQ(Value("RECNO()"), "1");
  EXPECT_FALSE(True("DELETED()"));
  EXPECT_TRUE(True("'ev' $ GrpName .AND. .NOT. ('' $ GrpName)"));
  EXPECT_TRUE(True("'text' $ Notes"));
  EXPECT_EQ(Value("Notes"), "memo text");
  EXPECT_EQ(Value("\"double\" + [bracket]"), "doublebracket");
  EXPECT_EQ(Value("'O''Brien' + \"say \"\"hi\"\"\" + [it's]"), "O'Briensay \"hi\"it's");
  EXPECT_EQ(Value("x->GrpName"), "dev       ");

  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::string today = Format("%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  EXPECT_EQ(Value("DTOS(DATE())"), today);
}

TEST_F(XbaseExpressionTest, OrdersValuesByTheirSortKeys) {
  auto key = [&](const std::string& text) {
    return XbaseExpression::Parse(text, table_.get())->SortKey(Row());
  };
  EXPECT_LT(key("-2.5"), key("-1"));
  EXPECT_LT(key("-1"), key("0"));
  EXPECT_LT(key("0"), key("2.5"));
  EXPECT_LT(key("2.5"), key("10"));
  EXPECT_LT(key("CTOD('12/31/1999')"), key("Due"));
  EXPECT_LT(key("'ab'"), key("'b'"));
}

struct ExpressionFault {
  const char* text;
  size_t position;
  const char* detail;
};

class XbaseExpressionFaultTest : public XbaseExpressionTest,
                                 public ::testing::WithParamInterface<ExpressionFault> {};

TEST_P(XbaseExpressionFaultTest, NamesTheExpressionAndThePosition) {
  const ExpressionFault& fault = GetParam();
  try {
    XbaseExpression::Parse(fault.text, table_.get());
    FAIL() << "accepted: " << fault.text;
  } catch (const XbaseExpressionError& error) {
    EXPECT_EQ(error.position(), fault.position) << error.what();
    EXPECT_NE(error.detail().find(fault.detail), std::string::npos) << error.what();
    std::string message = error.what();
    EXPECT_NE(message.find(std::string("\"") + fault.text + "\""), std::string::npos) << message;
    EXPECT_NE(message.find(Format("position %zu", fault.position)), std::string::npos) << message;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, XbaseExpressionFaultTest,
    ::testing::Values(ExpressionFault{"GrpName = ", 11, "ends where a value is expected"},
                      ExpressionFault{"GrpName = 'dev", 11, "no closing quote"},
                      ExpressionFault{"Nosuch = 1", 1, "unknown field Nosuch"},
                      ExpressionFault{"GrpName = 1", 9, "compares character with numeric"},
                      ExpressionFault{"UPPER(1)", 7, "argument 1 of UPPER must be character"},
                      ExpressionFault{"SUBSTR('a')", 1, "SUBSTR takes 2 to 3 arguments"},
                      ExpressionFault{"FOO(1)", 1, "unknown function FOO"},
                      ExpressionFault{"(DbType = 1", 12, "missing ')'"},
                      ExpressionFault{"1 .AND. 2", 1, ".AND. needs a logical operand"},
                      ExpressionFault{"GrpName 'x'", 9, "unexpected '''"},
                      ExpressionFault{"Done < .T.", 6, "cannot order logical"},
                      ExpressionFault{"Due + Due", 5, "cannot combine date and date"},
                      ExpressionFault{"IIF(Done, 1, 'a')", 14, "both must be of one type"},
                      ExpressionFault{"", 1, "empty"},
                      ExpressionFault{"@", 1, "unexpected '@'"}));

TEST_F(XbaseExpressionTest, AFilterMustBeLogical) {
  auto expression = XbaseExpression::Parse("DbType + 1", table_.get());
  EXPECT_EQ(expression->type(), XbaseType::kNumeric);
  EXPECT_THROW(expression->RequireLogical(), XbaseExpressionError);
  EXPECT_THROW(expression->IsTrue(Row()), XbaseExpressionError);
}

}  // namespace
}  // namespace vigilo

namespace vigilo {
namespace {

// The per-record date check of DTOS filters gives the calendar's answer for
// every day of four centuries' leap rules and for malformed texts.
TEST(XbaseDateDigitsTest, ValidDigitsAgreesWithTheCalendar) {
  for (int year : {1, 4, 100, 1600, 1900, 1999, 2000, 2024, 2100, 9999}) {
    for (int month = 0; month <= 13; ++month) {
      for (int day = 0; day <= 32; ++day) {
        std::string digits = Format("%04d%02d%02d", year, month, day);
        EXPECT_EQ(xbase_date::ValidDigits(digits), xbase::DateToDay(digits) >= 0) << digits;
      }
    }
  }
  for (const char* text : {"        ", "2024013 ", " 2024013", "2024-1-1", "00000101",
                           "2024013:", "2024013/", "2O240131", "202401311", "2024013"}) {
    EXPECT_EQ(xbase_date::ValidDigits(text), xbase::DateToDay(text) >= 0) << text;
  }
}

}  // namespace
}  // namespace vigilo
