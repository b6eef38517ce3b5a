// The text work of the dry run: the condition-only selection behind its
// "meeting the condition now" count, the column it shows per record, and the
// JSON strings of its --json lines.
#include "service/rule_preview.h"

#include <gtest/gtest.h>

namespace vigilo {
namespace {

TEST(RulePreviewTextTest, ConditionSelectionDropsOnlyTheFlagClause) {
  const std::string flag_select = "SELECT DISTINCT FormID FROM BugsVGLS WHERE RuleID =4";
  EXPECT_EQ(ConditionSelection("SELECT DISTINCT Bugs.FormID FROM Bugs WHERE Bugs.FormID NOT IN (" +
                                   flag_select + ") AND ((Status = 'Closed    '))",
                               "Bugs", flag_select),
            "SELECT DISTINCT Bugs.FormID FROM Bugs WHERE ((Status = 'Closed    '))");
  // Joined with the change history: the join stays.
  EXPECT_EQ(ConditionSelection("SELECT DISTINCT Bugs.FormID FROM Bugs,Hist WHERE Bugs.FormID "
                               "=Hist.FormID AND Bugs.FormID NOT IN (" +
                                   flag_select + ") AND (Hist.F = 1)",
                               "Bugs", flag_select),
            "SELECT DISTINCT Bugs.FormID FROM Bugs,Hist WHERE Bugs.FormID =Hist.FormID AND "
            "(Hist.F = 1)");
  // Another rule's flag clause is not this rule's: left as it is.
  EXPECT_EQ(ConditionSelection("SELECT x WHERE Bugs.FormID NOT IN (other) AND (c)", "Bugs",
                               flag_select),
            "SELECT x WHERE Bugs.FormID NOT IN (other) AND (c)");
}

TEST(RulePreviewTextTest, FirstReportColumnSkipsTheRecordIdAndAuditTrail) {
  EXPECT_EQ(FirstReportColumn("FormID, ATrail,Title,Status"), "Title");
  EXPECT_EQ(FirstReportColumn("FormID, ATrail, Owner"), "Owner");
  EXPECT_EQ(FirstReportColumn("FormID, ATrail"), "");
  EXPECT_EQ(FirstReportColumn(""), "");
}

TEST(RulePreviewTextTest, JsonStringEscapesQuotesBackslashesAndControls) {
  EXPECT_EQ(JsonString("0\\ORVIK\\Proj"), "\"0\\\\ORVIK\\\\Proj\"");
  EXPECT_EQ(JsonString("say \"hi\"\r\n\t"), "\"say \\\"hi\\\"\\r\\n\\t\"");
  EXPECT_EQ(JsonString(std::string("a\x01") + "\xc3\xa9"), "\"a\\u0001\xc3\xa9\"");
}

}  // namespace
}  // namespace vigilo
