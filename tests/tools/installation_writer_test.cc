// The installation writer's files read back as the service and the product
// read them: table layouts by field position, INI keys, Field lines, history.
#include "tools/demo/installation_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "common/ini_profile.h"
#include "common/text.h"
#include "platform/xbase/dbf_query.h"
#include "platform/xbase/dbf_table.h"
#include "tests/support/temp_dir.h"

namespace vigilo::demo {
namespace {

using vigilo::testing::TempDir;

InstallationDescription SmallInstallation() {
  InstallationDescription description;
  TableDescription bugs;
  bugs.name = "Bugs";
  bugs.form_names = {"Bug Report", "Other"};
  bugs.fields = {
      {"Title", kFieldText, 30, {}, kFlagDefault, false, "Short title"},
      {"Status", kFieldList, 10, {"Open", "Closed"}, kFlagDefault, true, ""},
      {"Priority", kFieldNumber, 0, {}, kFlagNoUpdate, false, ""},
      {"Created", kFieldDate, 0, {}, kFlagDefault, false, ""},
      {"Descript", kFieldMemo, 0, {}, kFlagDefault, false, ""},
  };
  bugs.records = {{7, "Entered by ann.", {{"Title", "First"}, {"Status", "Open"},
                                          {"Priority", "2"}, {"Created", "20261102"},
                                          {"Descript", "Long text, with commas"}}, "", ""}};
  bugs.history = {{7, 1793520000, "ann", "Status", "New", "Open"}};
  bugs.mail_report = {"Title", "Status"};
  TableDescription tasks;
  tasks.name = "Tasks";
  tasks.directory = "elsewhere/tasks";
  tasks.has_history = false;
  tasks.fields = {{"Title", kFieldText, 0, {}, kFlagDefault, false, ""}};
  description.projects = {{"Proj", "", {bugs, tasks}}};
  description.users = {{"ann", "pw1", 0, "ann", "Ann"}, {"erin", "pw2", 5, "erin@x.example", ""}};
  description.groups = {{"dev", {"ann", "erin"}, ""}, {"qa", {"erin"}, ""}};
  description.rules = {
      {5, 0, "", "Proj\\Bugs", "Notify", "User", "ann", "(Status is (Open))", 0, ""},
      {2, 0, "", "Proj\\Bugs", "Update", "", "Title=x", "(Status is (Open -> Closed))", 0, "1"},
  };
  description.mail.smtp_server = "127.0.0.1:2525";
  description.mail.smtp_sender = "vigilo@x.example";
  description.mail.mapi_profile = "Vigilo";
  description.mail.mapi_password = "a,b";
  return description;
}

std::vector<std::string> Column(DbfTable& table, int index) {
  std::vector<std::string> values;
  for (bool on = table.GoFirst(); on; on = table.Skip()) values.push_back(table.Text(index));
  return values;
}

TEST(InstallationWriter, RuleTableHasTheRuleLayoutAndReadsBackInTagOrder) {
  TempDir dir;
  auto inst = Installation::Write(dir.path(), SmallInstallation());
  auto table = DbfTable::Open(inst.rule_table(), false);
  const std::vector<DbfField> expected = {
      {"RuleId", 'N', 8, 0},     {"DbType", 'N', 8, 0},     {"Dsn", 'C', 64, 0},
      {"DbTable", 'C', 64, 0},   {"Action", 'C', 32, 0},    {"Target", 'C', 32, 0},
      {"Values", 'C', 128, 0},   {"Cond", 'C', 255, 0},     {"Flag", 'N', 8, 0},
      {"Reserved1", 'C', 32, 0}, {"Reserved2", 'C', 32, 0}, {"Reserved3", 'C', 32, 0},
      {"Reserved4", 'C', 32, 0}, {"Reserved5", 'C', 32, 0}};
  EXPECT_EQ(table->Fields(), expected);
  for (const char* tag : {"RuleId", "DbTable", "Action", "Target"}) {
    EXPECT_GE(table->TagByName(tag), 0) << tag;
  }

  // Written as 5 then 2; the RuleId tag reads 2 first.
  table->SelectTag(table->TagByName("RuleId"));
  ASSERT_TRUE(table->GoFirst());
  EXPECT_EQ(table->FieldLong(0), 2);
  EXPECT_EQ(table->Text(3), "Proj\\Bugs");
  EXPECT_EQ(table->Text(4), "Update");
  EXPECT_EQ(table->Text(7), "(Status is (Open -> Closed))");
  EXPECT_EQ(table->Text(9), "1");
  ASSERT_TRUE(table->Skip());
  EXPECT_EQ(table->FieldLong(0), 5);
  EXPECT_EQ(table->Text(5), "User");
  EXPECT_EQ(table->Text(9), "");
  EXPECT_FALSE(table->Skip());
}

TEST(InstallationWriter, RefusesValuesThatWouldBeCut) {
  TempDir dir;
  InstallationDescription description = SmallInstallation();
  description.rules[0].cond = std::string(256, 'x');
  EXPECT_THROW(Installation::Write(dir.path(), description), std::runtime_error);

  description = SmallInstallation();
  description.projects[0].tables[0].fields[0].label = "Title, short";
  EXPECT_THROW(Installation::Write(dir.path(), description), std::runtime_error);
}

TEST(InstallationWriter, WritesTheSettingsKeys) {
  TempDir dir;
  auto inst = Installation::Write(dir.path(), SmallInstallation());
  EXPECT_EQ(GetProfileString(inst.vigtab_ini(), "Morvane Vigilo", "SERVERDIR"),
            inst.server_dir());
  EXPECT_EQ(GetProfileString(inst.vigtab_ini(), "OPTIONS", "FIRING_INTERVAL"), "5");
  EXPECT_EQ(GetProfileString(inst.morvik_ini(), "Orvik Dsn", "Proj"), inst.ProjectDir("Proj"));
  EXPECT_EQ(inst.ProjectDir("Proj"), dir.path() + "/projects/Proj");

  // SMTP Mail: server in field 3, sender in field 4 after two characters.
  std::vector<std::string> smtp =
      SplitText(GetProfileString(inst.morvik_ini(), "Mail", "SMTP Mail"), ',');
  ASSERT_GE(smtp.size(), 5u);
  EXPECT_EQ(smtp[2], "127.0.0.1:2525");
  EXPECT_EQ(smtp[3].substr(2), "vigilo@x.example");
  // MAPI Mail: fields 4 and 5 length-prefixed, so a comma may stand inside.
  EXPECT_EQ(GetProfileString(inst.morvik_ini(), "Mail", "MAPI Mail"),
            "1,MAPI,0,6 Vigilo,3 a,b,0,");
  EXPECT_EQ(GetProfileString(inst.mapi_ini(), "Profiles", "Vigilo"), "a,b");

  // A table with its own directory is registered in the project INI.
  EXPECT_EQ(GetProfileString(inst.ProjectIni("Proj"), "Table DSN", "Proj\\Tasks"),
            dir.path() + "/elsewhere/tasks");
  EXPECT_TRUE(std::filesystem::exists(inst.TablePath("Proj", "Tasks")));
  EXPECT_EQ(GetProfileString(inst.ProjectIni("Proj"), "Table DSN", "Proj\\Bugs"), "");
  // Every table is named as a data file, as the rule manager lists them.
  EXPECT_EQ(GetProfileString(inst.ProjectIni("Proj"), "Morvane Orvik", "Bugs Datafile"),
            "Bugs.dbf");
  EXPECT_EQ(GetProfileString(inst.ProjectIni("Proj"), "Morvane Orvik", "Tasks Datafile"),
            inst.TablePath("Proj", "Tasks"));

  EXPECT_EQ(GetProfileString(inst.TableIni("Proj", "Bugs"), "Morvane Orvik", "ChngHist Datafile"),
            "BugsHist.dbf");
  EXPECT_EQ(GetProfileString(inst.TableIni("Proj", "Bugs"), "Morvane Orvik", "FormNames"),
            "Bug Report,Other");
  EXPECT_EQ(GetProfileString(inst.TableIni("Proj", "Tasks"), "Morvane Orvik",
                             "ChngHist Datafile", "none"),
            "none");

  // The report's fourth "|"-part lists "Field,n" tokens separated by blanks.
  std::vector<std::string> report = SplitText(
      GetProfileString(inst.ReportPath("Proj", "Bugs"), "Bug Report Reports", "MailReport"), '|');
  ASSERT_GE(report.size(), 4u);
  EXPECT_EQ(report[3], "Title,1 Status,2");
  EXPECT_FALSE(std::filesystem::exists(inst.ReportPath("Proj", "Tasks")));
}

TEST(InstallationWriter, UserGroupAndMembershipTablesByFieldPosition) {
  TempDir dir;
  auto inst = Installation::Write(dir.path(), SmallInstallation());
  auto users = DbfTable::Open(inst.users_table(), false);
  EXPECT_EQ(Column(*users, 0), (std::vector<std::string>{"ann", "erin"}));
  EXPECT_EQ(Column(*users, 1), (std::vector<std::string>{"pw1", "pw2"}));
  EXPECT_EQ(users->Field(6).type, 'N');
  EXPECT_EQ(Column(*users, 6), (std::vector<std::string>{"0", "5"}));
  EXPECT_EQ(Column(*users, 7), (std::vector<std::string>{"ann", "erin@x.example"}));

  auto groups = DbfTable::Open(inst.groups_table(), false);
  EXPECT_EQ(Column(*groups, 0), (std::vector<std::string>{"dev", "qa"}));

  // The membership lookup filters on GrpName with the name and four blanks.
  auto members = DbfTable::Open(inst.membership_table(), false);
  DbfQuery query(*members);
  query.SetQuery("GrpName = 'dev    '");
  std::vector<std::string> dev;
  for (bool on = query.QueryFirst(); on; on = query.QueryNext()) dev.push_back(members->Text(0));
  EXPECT_EQ(dev, (std::vector<std::string>{"ann", "erin"}));

  // Without master tables a second write leaves the existing ones alone.
  InstallationDescription bare = SmallInstallation();
  bare.users.clear();
  bare.write_master_tables = false;
  Installation::Write(dir.path(), bare);
  EXPECT_EQ(Column(*DbfTable::Open(inst.users_table(), false), 0),
            (std::vector<std::string>{"ann", "erin"}));
  TempDir empty;
  EXPECT_FALSE(std::filesystem::exists(Installation::Write(empty.path(), bare).rule_table()));
}

TEST(InstallationWriter, FieldLinesHaveNineteenFields) {
  TempDir dir;
  auto inst = Installation::Write(dir.path(), SmallInstallation());
  std::vector<ProfileEntry> lines = GetProfileEntries(inst.TableIni("Proj", "Bugs"), "Bug Report");
  ASSERT_EQ(lines.size(), 5u);
  for (const ProfileEntry& line : lines) {
    EXPECT_TRUE(StartsWithNoCase(line.key, "Field")) << line.key;
    // Nineteen fields, each followed by a comma; the choice list adds none.
    EXPECT_EQ(std::count(line.value.begin(), line.value.end(), ','), 19) << line.value;
  }
  std::vector<std::string> status = SplitText(lines[1].value, ',');
  EXPECT_EQ(status[0], "Status");
  EXPECT_EQ(status[2], "5");
  EXPECT_EQ(status[3], "10");
  EXPECT_EQ(status[7], "Open|Closed|");
  EXPECT_EQ(std::stoi(status[12]), kFlagDefault | kFlagHistory);
  std::vector<std::string> title = SplitText(lines[0].value, ',');
  EXPECT_EQ(title[1], "Short title");
  EXPECT_EQ(std::stoi(SplitText(lines[2].value, ',')[12]), kFlagNoUpdate);

  // The dBase types behind the Field line types.
  auto table = DbfTable::Open(inst.TablePath("Proj", "Bugs"), false);
  std::string types;
  for (const DbfField& field : table->Fields()) types += field.type;
  EXPECT_EQ(types, "NMCCCCNDM");  // FormID ATrail Locker Locktime Title Status Priority ...
  EXPECT_EQ(table->Field(4).width, 30);
}

TEST(InstallationWriter, RecordsAndHistoryReadBackAndChangeBetweenTicks) {
  TempDir dir;
  auto inst = Installation::Write(dir.path(), SmallInstallation());
  {
    auto table = DbfTable::Open(inst.TablePath("Proj", "Bugs"), false);
    ASSERT_TRUE(table->GoFirst());
    EXPECT_EQ(table->FieldLong(table->FieldIndex("FormID")), 7);
    EXPECT_EQ(table->Text(table->FieldIndex("ATrail")), "Entered by ann.");
    EXPECT_EQ(table->Text(table->FieldIndex("Descript")), "Long text, with commas");
    EXPECT_EQ(table->Text(table->FieldIndex("Created")), "20261102");
  }

  inst.AppendRecord("Proj", "Bugs", {8, "", {{"Status", "Open"}}, "", ""});
  inst.ChangeField("Proj", "Bugs", 7, "Status", "Closed", "erin", 1793530000);
  EXPECT_THROW(inst.SetField("Proj", "Bugs", 99, "Status", "x"), std::runtime_error);

  std::vector<TableRow> rows = ReadRows(inst.TablePath("Proj", "Bugs"));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["Status"], "Closed");
  EXPECT_EQ(rows[0]["Title"], "First");
  EXPECT_EQ(rows[1]["FormID"], "8");
  EXPECT_EQ(rows[1]["Status"], "Open");
  DeleteRecord(inst.TablePath("Proj", "Bugs"), 8);
  EXPECT_EQ(ReadRows(inst.TablePath("Proj", "Bugs")).size(), 1u);

  auto history = DbfTable::Open(inst.HistoryPath("Proj", "Bugs"), false);
  std::vector<std::string> names;
  for (const DbfField& field : history->Fields()) names.push_back(field.name);
  EXPECT_EQ(names, (std::vector<std::string>{"FormID", "ChngDate", "ChngBy", "ChngWhat",
                                             "ChngFrom", "ChngTo"}));
  ASSERT_TRUE(history->GoFirst());
  ASSERT_TRUE(history->Skip());  // the row written by ChangeField
  EXPECT_EQ(history->FieldLong(0), 7);
  EXPECT_EQ(history->Text(1), "1793530000");
  EXPECT_EQ(history->Text(2), "erin");
  EXPECT_EQ(history->Text(3), "Status");
  EXPECT_EQ(history->Text(4), "Open");
  EXPECT_EQ(history->Text(5), "Closed");
}

}  // namespace
}  // namespace vigilo::demo
