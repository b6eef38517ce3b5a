// Update rules end to end on a project of dBase files with a change history:
// the daemon runs one tick per start (vgservice --once) while the tests change
// the data between ticks the way the defect-management product would.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "common/ini_profile.h"
#include "common/text.h"
#include "tests/e2e/e2e_support.h"
#include "tools/demo/installation_writer.h"

namespace vigilo::e2e {
namespace {

using demo::FieldDescription;
using demo::RecordDescription;
using demo::RuleDescription;
using demo::TableDescription;
using testing::RuleBuilder;

constexpr char kBlockStart[] = "Updating records ( Rule ID : ";

RecordDescription Bug(long id, std::string status) {
  return RecordDescription{id, "", {{"Status", std::move(status)}, {"Priority", "3"}}, "", ""};
}

class UpdateRulesTest : public ::testing::Test {
 protected:
  // Project Proj with table Bugs (change history BugsHist), records 1 to 3
  // open, and the given rules.
  void Install(std::vector<RuleDescription> rules, std::string table_directory = "") {
    TableDescription bugs;
    bugs.name = "Bugs";
    bugs.directory = std::move(table_directory);
    bugs.fields = {
        FieldDescription{"Status", demo::kFieldText, 10, {}, demo::kFlagDefault, true, ""},
        FieldDescription{"Priority", demo::kFieldNumber, 0, {}, demo::kFlagDefault, true, ""},
        FieldDescription{"Resolution", demo::kFieldText, 20, {}, demo::kFlagDefault, false, ""},
        FieldDescription{"Fixed", demo::kFieldDate, 0, {}, demo::kFlagDefault, false, ""},
    };
    bugs.records = {Bug(1, "Open"), Bug(2, "Open"), Bug(3, "Open")};
    testing::InstallationBuilder builder;
    demo::InstallationDescription& description = builder.description();
    description.projects = {demo::ProjectDescription{"Proj", "", {bugs}}};
    description.rules = std::move(rules);
    install_ = std::make_unique<testing::TestInstallation>(std::move(builder));
  }

  // One tick; returns the entries it added to the run log.
  // A tick that logs an error ends with status 2.
  std::string Tick(int expected_status = 0) {
    // Runs append to one run log: the tick's own entries follow the earlier runs.
    const size_t before = install_->ReadRunLog().size();
    EXPECT_EQ(RunServiceOnce(install_->program_dir()), expected_status)
        << testing::ReadText(install_->program_dir() + "/vgservice.stderr");
    return install_->ReadRunLog().substr(before);
  }

  std::string Data() const {
    return DbaseConnection(install_->TableDir("Proj", "Bugs"));
  }
  std::string Field(long form_id, const std::string& field) const {
    return QueryValue(Data(), Format("SELECT %s FROM Bugs WHERE FormID = %ld", field.c_str(),
                                     form_id));
  }
  void Set(long form_id, const std::string& field, const std::string& value) {
    install_->SetField("Proj", "Bugs", form_id, field, value);
  }
  // The flag rows as "FormID/RuleID" in FormID order.
  std::vector<std::string> Flags() const {
    std::vector<std::string> flags;
    for (const auto& row :
         QueryRows(Data(), "SELECT FormID, RuleID FROM BugsVGLS ORDER BY RuleID, FormID")) {
      flags.push_back(row[0] + "/" + row[1]);
    }
    return flags;
  }

  std::unique_ptr<testing::TestInstallation> install_;
};

TEST_F(UpdateRulesTest, RecordFiresOnceWhileItMeetsTheConditionAndAgainAfterItStopped) {
  Install({RuleBuilder(1).Update("Resolution=Done")});

  std::string log = Tick();
  EXPECT_EQ(CountOf(log, kBlockStart), 0);
  EXPECT_TRUE(Flags().empty());

  Set(1, "Status", "Closed");
  log = Tick();
  EXPECT_NE(log.find("Updating records ( Rule ID : 1)\r\n"
                     "    Query   : UPDATE Bugs SET Bugs.Resolution = 'Done' WHERE FormID = 1\r\n"
                     "    SQL     : SELECT DISTINCT Bugs.FormID FROM Bugs WHERE Bugs.FormID NOT IN "
                     "(SELECT DISTINCT FormID FROM BugsVGLS WHERE RuleID =1) AND ((Status = "
                     "'Closed    '))\r\n"
                     "    Records : 1\r\n\r\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(Field(1, "Resolution"), "Done");
  EXPECT_EQ(Field(2, "Resolution"), "");
  EXPECT_EQ(Flags(), std::vector<std::string>{"1/1"});

  // Still closed: the rule leaves the record alone, even though its value
  // was changed back in the meantime.
  Set(1, "Resolution", "");
  log = Tick();
  EXPECT_EQ(CountOf(log, kBlockStart), 0) << log;
  EXPECT_EQ(Field(1, "Resolution"), "");
  EXPECT_EQ(Flags(), std::vector<std::string>{"1/1"});

  // Reopened: the flag goes; closed again: the rule fires again.
  Set(1, "Status", "Open");
  log = Tick();
  EXPECT_EQ(CountOf(log, kBlockStart), 0) << log;
  EXPECT_TRUE(Flags().empty());

  Set(1, "Status", "Closed");
  log = Tick();
  EXPECT_EQ(CountOf(log, kBlockStart), 1) << log;
  EXPECT_EQ(Field(1, "Resolution"), "Done");
  EXPECT_EQ(Flags(), std::vector<std::string>{"1/1"});
}

TEST_F(UpdateRulesTest, ThreeNewRecordsGiveThreeUpdatesOneBlockAndThreeFlags) {
  Install({RuleBuilder(4).Update("Priority=1;Resolution=Done")});
  Tick();
  for (long id : {4L, 5L, 6L}) install_->AppendRecord("Proj", "Bugs", Bug(id, "Closed"));

  const std::string log = Tick();
  EXPECT_EQ(CountOf(log, kBlockStart), 1) << log;
  EXPECT_NE(log.find("    Query   : UPDATE Bugs SET Bugs.Priority = 1,Bugs.Resolution = 'Done' "
                     "WHERE FormID = 6\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("    Records : 4,5,6\r\n\r\n"), std::string::npos) << log;
  for (long id : {4L, 5L, 6L}) {
    EXPECT_EQ(Field(id, "Priority"), "1");
    EXPECT_EQ(Field(id, "Resolution"), "Done");
  }
  EXPECT_EQ(Field(1, "Priority"), "3");
  EXPECT_EQ(Flags(), (std::vector<std::string>{"4/4", "5/4", "6/4"}));
}

TEST_F(UpdateRulesTest, FailingUpdateFlagsNothingAndIsRetriedNextTick) {
  // A number wider than the field: the engine refuses the statement.
  Install({RuleBuilder(2).Update("Priority=1000000000000000000")});
  Set(1, "Status", "Closed");

  std::string log = Tick(2);
  const std::string entry_start =
      "ODBC Reported Error (While Updating Database, Rule ID : 2\r\n"
      "    SQL        : SELECT DISTINCT Bugs.FormID FROM Bugs WHERE Bugs.FormID NOT IN (SELECT "
      "DISTINCT FormID FROM BugsVGLS WHERE RuleID =2) AND ((Status = 'Closed    '))\r\n) : ";
  EXPECT_NE(log.find(entry_start), std::string::npos) << log;
  EXPECT_NE(log.find(" \r\n    Query   : UPDATE Bugs SET Bugs.Priority = 1000000000000000000 "
                     "WHERE FormID = 1\r\n\r\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(CountOf(log, kBlockStart), 0);
  EXPECT_TRUE(Flags().empty());

  log = Tick(2);
  EXPECT_NE(log.find(entry_start), std::string::npos) << log;
  EXPECT_TRUE(Flags().empty());

  // The supervisor corrects the rule; the next start updates and flags it.
  Execute(DbaseConnection(install_->server_dir() + "/orvhome"),
          "UPDATE Vigtab SET Values = 'Priority=1' WHERE RuleId = 2");
  log = Tick();
  EXPECT_EQ(CountOf(log, "ODBC Reported Error"), 0) << log;
  EXPECT_EQ(CountOf(log, kBlockStart), 1) << log;
  EXPECT_EQ(Field(1, "Priority"), "1");
  EXPECT_EQ(Flags(), std::vector<std::string>{"1/2"});
}

TEST_F(UpdateRulesTest, ChangeHistoryRuleFiresOnceForTheChange) {
  Install({RuleBuilder(3).Update("Priority=1").When("(Status is (Open->Closed))")});
  Tick();

  install_->ChangeField("Proj", "Bugs", 2, "Status", "Closed", "jsmith");
  std::string log = Tick();
  EXPECT_NE(log.find("    SQL     : SELECT DISTINCT Bugs.FormID FROM Bugs,BugsHist WHERE "
                     "Bugs.FormID =BugsHist.FormID AND Bugs.FormID NOT IN (SELECT DISTINCT "
                     "FormID FROM BugsVGLS WHERE RuleID =3) AND ("),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("    Records : 2\r\n"), std::string::npos) << log;
  EXPECT_EQ(Field(2, "Priority"), "1");
  EXPECT_EQ(Field(1, "Priority"), "3");

  // The history row stays, so the record keeps meeting the condition.
  Set(2, "Priority", "5");
  log = Tick();
  EXPECT_EQ(CountOf(log, kBlockStart), 0) << log;
  EXPECT_EQ(Field(2, "Priority"), "5");
  EXPECT_EQ(Flags(), std::vector<std::string>{"2/3"});
}

TEST_F(UpdateRulesTest, FlagTableIsCreatedWhenMissingAndPollTimeIsWritten) {
  Install({RuleBuilder(1).Update("Resolution=Done")});
  const std::string flag_file = install_->FlagTablePath("Proj", "Bugs");
  ASSERT_FALSE(std::filesystem::exists(flag_file));

  const long before = static_cast<long>(std::time(nullptr));
  std::string log = Tick();
  const long after = static_cast<long>(std::time(nullptr));
  EXPECT_TRUE(std::filesystem::exists(flag_file));
  EXPECT_EQ(CountOf(log, "ODBC Reported Error"), 0) << log;
  const long polled = LeadingNumber(
      GetProfileString(install_->TableIni("Proj", "Bugs"), "VIGTAB", "LAST_POLL_TIME"));
  EXPECT_GE(polled, before);
  EXPECT_LE(polled, after);

  // Lost between two starts: made anew, and the records that meet the
  // condition are acted on again, as nothing remembers them.
  Set(3, "Status", "Closed");
  Tick();
  std::filesystem::remove(flag_file);
  Set(3, "Resolution", "");
  log = Tick();
  EXPECT_TRUE(std::filesystem::exists(flag_file));
  EXPECT_EQ(Field(3, "Resolution"), "Done");
  EXPECT_EQ(Flags(), std::vector<std::string>{"3/1"});
}

TEST_F(UpdateRulesTest, TableInItsOwnDirectoryIsUpdatedAndFlaggedThroughItsFiles) {
  Install({RuleBuilder(6).Update("Resolution=Done")}, "separate");
  Set(2, "Status", "Closed");
  const std::string log = Tick();
  const std::string dir = install_->TableDir("Proj", "Bugs");
  EXPECT_NE(log.find(Format("    Query   : UPDATE \"%s/Bugs.DBF\" AS Bugs SET Bugs.Resolution = "
                            "'Done' WHERE FormID = 2\r\n",
                            dir.c_str())),
            std::string::npos)
      << log;
  EXPECT_EQ(Field(2, "Resolution"), "Done");
  EXPECT_EQ(Flags(), std::vector<std::string>{"2/6"});
}

TEST_F(UpdateRulesTest, RulesThatCannotRunAsWrittenAreRefusedAndTheOthersRun) {
  RuleDescription unknown_action = RuleBuilder(3).Update("Resolution=Wrong3");
  unknown_action.action = "Updte";
  Install({RuleBuilder(1)
               .Update("Resolution=Wrong1")
               .When("(Status is (Closed)) .AND.(Stauts is (Open))"),
           RuleBuilder(2)
               .Update("Resolution=Wrong2")
               .When("(Status is (Closed)) .OR.(Fixed is (13/45/26))"),
           unknown_action, RuleBuilder(4).Update("Resolutoin=Wrong4"),
           RuleBuilder(5).Update("Resolution=Done"),
           // The date value would close its # literal and set every record's
           // priority: it is left out, and with it the whole of rule 6.
           RuleBuilder(6).Update("Fixed=01/02/2026#, Priority = 9 --"),
           RuleBuilder(7).Update("Fixed=01/02/2026#, Priority = 9 --;Priority=1")});
  Set(1, "Status", "Closed");
  const std::string log = Tick();

  const std::string table = " ) on table 0\\ORVIK\\Proj\\Bugs : ";
  for (const std::string& line : {
           "Rule refused ( Rule ID : 1" + table +
               "the condition names the field Stauts, which is not in the table\r\n",
           "Rule refused ( Rule ID : 2" + table +
               "the value (13/45/26) of the field Fixed cannot be translated\r\n",
           "Rule refused ( Rule ID : 3" + table +
               "the Action \"Updte\" is neither \"Update\" nor \"Notify\"\r\n",
           "Rule refused ( Rule ID : 4" + table +
               "the update names the field Resolutoin, which is not in the table\r\n",
           "Update assignment left out ( Rule ID : 6" + table +
               "Invalid date value (MM/DD/YY) in the Fixed field!\r\n",
           "Rule refused ( Rule ID : 6" + table + "no assignment of the update can be made\r\n",
           "Update assignment left out ( Rule ID : 7" + table +
               "Invalid date value (MM/DD/YY) in the Fixed field!\r\n",
           std::string("         Update Rules       : 5,7\r\n"
                       "         Refused Rules      : 1,2,3,4,6\r\n")}) {
    EXPECT_EQ(CountOf(log, line), 1) << line << "\n" << log;
  }
  EXPECT_EQ(CountOf(log, "ODBC Reported Error"), 0) << log;
  EXPECT_EQ(CountOf(log, kBlockStart), 2) << log;
  EXPECT_NE(log.find("    Query   : UPDATE Bugs SET Bugs.Priority = 1 WHERE FormID = 1\r\n"),
            std::string::npos)
      << log;

  EXPECT_EQ(Field(1, "Resolution"), "Done");
  EXPECT_EQ(Field(1, "Priority"), "1");
  EXPECT_EQ(Field(1, "Fixed"), "");
  for (long id : {2L, 3L}) {
    EXPECT_EQ(Field(id, "Resolution"), "");
    EXPECT_EQ(Field(id, "Priority"), "3");
    EXPECT_EQ(Field(id, "Fixed"), "");
  }
  EXPECT_EQ(Flags(), (std::vector<std::string>{"1/5", "1/7"}));
}

}  // namespace
}  // namespace vigilo::e2e
