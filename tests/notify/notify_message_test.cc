#include "notify/notify_message.h"

#include <gtest/gtest.h>

#include "common/ini_profile.h"
#include "notify/report_columns.h"
#include "tests/support/temp_dir.h"

namespace vigilo {
namespace {

TEST(AuditTrailTest, CutAt256) {
  EXPECT_EQ(AuditTrailText(std::string(256, 'a')), std::string(256, 'a'));
  EXPECT_EQ(AuditTrailText(std::string(257, 'a')), std::string(255, 'a') + "...");
  std::string long_trail = std::string(255, 'b') + std::string(45, 'c');
  EXPECT_EQ(AuditTrailText(long_trail), std::string(255, 'b') + "...");
  EXPECT_EQ(AuditTrailText(""), "");
}

TEST(MessageTextTest, NulInAFieldValueReadsAsABlankAndKeepsTheRest) {
  EXPECT_EQ(MessageFieldLine("Title", std::string("Crash\0on start", 14)),
            "Title : Crash on start\r\n");
}

TEST(MessageTextTest, BodySubjectAndLogTextsToTheCharacter) {
  EXPECT_EQ(MessageBodyHeader("Closed by ann", "0\\\\Proj\\Bugs", 7) + MessageFieldLine("Title", "Crash"),
            "Closed by ann\r\n\r\nDetailed Description of the record\r\n\r\n"
            "Table : 0\\\\Proj\\Bugs \r\nRuleID : 7\r\n\r\nTitle : Crash\r\n");
  EXPECT_EQ(MessageSubject(7, 12, "0\\\\Proj\\Bugs"), "VIGILO Rule# 7 , Record# 12 of 0\\\\Proj\\Bugs");
  EXPECT_EQ(RetrievalStatement("FormID, ATrail,Title", "Bugs", 12),
            "SELECT FormID, ATrail,Title FROM Bugs WHERE FormID =12");
  EXPECT_EQ(MessageDatabaseName("Bugs", 0), "Bugs.DBF");
  EXPECT_EQ(MessageDatabaseName("Bugs", 2), "Bugs");
  EXPECT_EQ(SendingNotificationBlock(NotifyRuleSummary(7, "Q", "S"), "12,15", "SMTP:a"),
            "Sending notification( Rule ID : 7 )\r\n    Query      : Q\r\n    SQL        : S\r\n"
            "    Records        :12,15\r\n    Notified Users :SMTP:a\r\n\r\n");
  EXPECT_EQ(NotifyErrorContext(7, "S"),
            "While Retrieving Records For Notification, Rule ID : 7\r\n    SQL        : S\r\n\r\n");
}

CFieldDef Field(const char* name, int type, int flags = 1) {
  CFieldDef field(1);
  field.name = name;
  field.type = type;
  field.flags = flags;
  return field;
}

TEST(FieldValueTextTest, NumbersAreRewritten) {
  DateSettings dates;
  EXPECT_EQ(FieldValueText("  42.00", Field("N", 1), dates), "42");
  EXPECT_EQ(FieldValueText("7", Field("N", 7), dates), "7");
  EXPECT_EQ(FieldValueText("2.5", Field("F", 2), dates), "2.500000");
  EXPECT_EQ(FieldValueText("Open    ", Field("T", 0), dates), "Open");
  EXPECT_EQ(FieldValueText("ann  ", Field("U", 9), dates), "ann");
}

TEST(FieldValueTextTest, DatesShowMonthDayAndFourDigitYear) {
  DateSettings dates;
  EXPECT_EQ(FieldValueText("20261208", Field("D", 3), dates), "12/08/2026");
  EXPECT_EQ(FieldValueText("2026-12-08", Field("D", 3), dates), "12/08/2026");
  EXPECT_EQ(FieldValueText("2026-12-08 00:00:00", Field("D", 3), dates), "12/08/2026");
  EXPECT_EQ(FieldValueText("12/08/26", Field("D", 3), dates), "12/08/2026");
  EXPECT_EQ(FieldValueText("someday", Field("D", 3), dates), "someday");
  EXPECT_EQ(FieldValueText("", Field("D", 3), dates), "");
}

TEST(FieldValueTextTest, DateTimesFollowTheFlags) {
  DateSettings dates;
  std::string stamp = "2026-12-08 13:45:10.000";
  EXPECT_EQ(FieldValueText(stamp, Field("T", 12, 0x800), dates), "12/08/2026");
  EXPECT_EQ(FieldValueText(stamp, Field("T", 12, 0x1000), dates), "13:45:10");
  EXPECT_EQ(FieldValueText(stamp, Field("T", 12, 0x1801), dates), "12/08/2026 13:45:10");
  EXPECT_EQ(FieldValueText(stamp, Field("T", 12, 1), dates), "2026-12-08 13:45:10");
  EXPECT_EQ(FieldValueText("", Field("T", 12, 0x800), dates), "");
}

TEST(FieldValueTextTest, SecondsAreLocalTime) {
  DateSettings dates;
  std::tm local{};
  local.tm_year = 126;
  local.tm_mon = 11;
  local.tm_mday = 8;
  local.tm_hour = 9;
  local.tm_min = 5;
  local.tm_sec = 1;
  local.tm_isdst = -1;
  std::string seconds = std::to_string(static_cast<long long>(mktime(&local)));
  EXPECT_EQ(FieldValueText(seconds, Field("S", 11), dates), "12/08/2026 09:05:01");
  EXPECT_EQ(FieldValueText("", Field("S", 11), dates), "");
}

TEST(MailReportColumnsTest, FourthPartGivesTheFieldNames) {
  EXPECT_EQ(MailReportColumns("Mail|2|x|Title,1 Status,2"), ",Title,Status");
  EXPECT_EQ(MailReportColumns("Mail|2|x|Title,1 Status,2|tail"), ",Title,Status");
  EXPECT_EQ(MailReportColumns("Mail|2|x|Title,1"), "");
  EXPECT_EQ(MailReportColumns("Mail|2|x|Title,1 Junk ,3 Status,2 "), ",Title,Status");
  EXPECT_EQ(MailReportColumns("Mail|2|x| Title,1 Status,2"), "");
}

TEST(BuildReportColumnsTest, MailReportOfTheFormChoosesTheColumns) {
  testing::TempDir dir;
  std::string ini = dir.path() + "/Bugs.INI";
  WriteProfileString(ini, "Morvane Orvik", "FormNames", "Bug Form,Other Form");
  WriteProfileString(dir.path() + "/Bugs.REP", "Bug Form Reports", "MailReport",
                     "Mail|2|x|Title,1 Status,2");
  std::vector<CFieldDef> fields{Field("Owner", 9)};
  EXPECT_EQ(BuildReportColumns(ini, dir.path(), "Bugs", fields), "FormID, ATrail,Title,Status");
}

TEST(BuildReportColumnsTest, WithoutMailReportEveryShowableField) {
  testing::TempDir dir;
  std::vector<CFieldDef> fields{Field("Title", 0), Field("Hidden", 13), Field("Owner", 9),
                                Field("Locked", 0, 0x2001), Field("ChngHist->Date", 3)};
  EXPECT_EQ(BuildReportColumns(dir.path() + "/Bugs.INI", dir.path(), "Bugs", fields),
            "FormID, ATrail,Title,Owner");
}

}  // namespace
}  // namespace vigilo
