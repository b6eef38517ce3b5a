#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "data/name_lists.h"
#include "data/rule.h"
#include "notify/mail_sender.h"
#include "notify/orvik_tables.h"
#include "notify/user_record.h"
#include "tests/support/test_installation.h"
#include "tests/support/faulty_file_system.h"

namespace vigilo {
namespace {

using ::testing::ElementsAre;
using testing::TestInstallation;

TEST(UserRecordLineTest, WritesAbsentTextsEmptyAndReadsThemBackAbsent) {
  UserRecord record;
  record.login_name = "ann";
  record.mail_type = 5;
  record.mail_address = "ann@example.org";
  EXPECT_EQ(UserRecordLine(record), "ann||5|ann@example.org|");
  EXPECT_EQ(ParseUserRecordLine(UserRecordLine(record)), record);
}

TEST(UserRecordLineTest, FieldWithoutClosingBarIsNotRead) {
  UserRecord record = ParseUserRecordLine("bob|secret|2|bob@host");
  EXPECT_EQ(record.login_name, "bob");
  EXPECT_EQ(record.password, "secret");
  EXPECT_EQ(record.mail_type, 2);
  EXPECT_EQ(record.mail_address, "");
  EXPECT_EQ(ParseUserRecordLine("|||x|").login_name, std::nullopt);
  EXPECT_EQ(ParseUserRecordLine("a||1|" + std::string(80, 'm') + "|").mail_address.size(), 63u);
}

TEST(AddressForMailTypeTest, EachMailTypeGivesItsPrefix) {
  EXPECT_EQ(AddressForMailType(0, "a"), "ORVIK:a");
  EXPECT_EQ(AddressForMailType(1, "a"), "a");
  EXPECT_EQ(AddressForMailType(2, "a"), "CCMAIL:a");
  EXPECT_EQ(AddressForMailType(3, "a"), std::nullopt);
  EXPECT_EQ(AddressForMailType(4, "a"), "a");
  EXPECT_EQ(AddressForMailType(5, "a"), "SMTP:a");
  EXPECT_EQ(AddressForMailType(17, "a"), "SMTP:a");
  EXPECT_EQ(AddressForMailType(-1, "a"), "SMTP:a");
}

class RecipientsTest : public ::testing::Test {
 protected:
  RecipientsTest() {
    install_.WriteUsers({{"ann", "pw", 0, "ann", ""},
                         {"ann", "", 5, "ann@example.org", ""},
                         {"bob", "", 1, "Bob Builder", ""},
                         {"carl", "", 3, "carl@example.org", ""},
                         {"dora", "", 5, "", ""},
                         {"", "", 5, "ghost@example.org", ""},
                         {"eve", "", 2, "eve@ccmail", ""}});
    install_.WriteGroups({"dev", "qa", "dev", "ops"});
    install_.WriteMembership({{"ann", "dev"}, {"bob", "dev"}, {"bob", "qa"}, {"carl", "qa"},
                              {"x", "devops"}});
  }

  CMailSender& Sender() {
    if (!sender_) sender_ = std::make_unique<CMailSender>(CMailSender::Options{});
    return *sender_;
  }

  CNotifyRule Rule(const std::string& target, const std::string& values) {
    CNotifyRule rule;
    rule.target = target;
    rule.values = values;
    ResolveRuleRecipients(Sender().directory(), rule);
    return rule;
  }

  TestInstallation install_;
  std::unique_ptr<CMailSender> sender_;
};

TEST_F(RecipientsTest, EveryMatchingUserRecordGivesTheAddressOfItsMailType) {
  EXPECT_EQ(Sender().directory().AddressesForNames("ann"), "ORVIK:ann,SMTP:ann@example.org,");
  EXPECT_EQ(Sender().directory().AddressesForNames("bob,eve"), "Bob Builder,CCMAIL:eve@ccmail,");
  EXPECT_EQ(Sender().directory().AddressesForNames(""), std::nullopt);
}

TEST_F(RecipientsTest, MailTypeThreeGivesNoAddressAndNoSmtpFallback) {
  EXPECT_EQ(Sender().directory().AddressesForNames("carl"), "");
}

TEST_F(RecipientsTest, UnknownNamesEmptyAddressesAndNamelessRecordsBecomeSmtp) {
  // dora's only record has no address; the nameless record matches nobody.
  EXPECT_EQ(Sender().directory().AddressesForNames("dora,zed@example.org"),
            "SMTP:dora,SMTP:zed@example.org,");
  EXPECT_EQ(Sender().directory().AddressesForNames("Ann"), "SMTP:Ann,");
}

TEST_F(RecipientsTest, EmptyEntriesAreDroppedAndBlanksKept) {
  CNotifyRule rule = Rule("User", "ann,,bob");
  ASSERT_TRUE(rule.addresses);
  EXPECT_THAT(*rule.addresses, ElementsAre("ORVIK:ann", "SMTP:ann@example.org", "Bob Builder"));
  EXPECT_THAT(*Rule("Address", " bob").addresses, ElementsAre("SMTP: bob"));
}

TEST_F(RecipientsTest, AddressListHoldsEachAddressOnce) {
  CNotifyRule rule = Rule("User", "bob,ann,bob,x@y.org,x@y.org");
  EXPECT_THAT(*rule.addresses,
              ElementsAre("Bob Builder", "ORVIK:ann", "SMTP:ann@example.org", "SMTP:x@y.org"));
}

TEST_F(RecipientsTest, NamesResolvingToNothingLeaveTheListAbsent) {
  EXPECT_FALSE(Rule("User", "carl").addresses.has_value());
  EXPECT_FALSE(Rule("User", "").addresses.has_value());
}

TEST_F(RecipientsTest, GroupsExpandToTheirMembersEachOnce) {
  EXPECT_EQ(Sender().directory().ExpandGroups("dev,qa"), "ann,bob,carl");
  // "dev" does not match the longer group name "devops".
  EXPECT_EQ(Sender().directory().ExpandGroups("devops"), "x");
  CNotifyRule rule = Rule("Group", "qa,,dev");
  EXPECT_THAT(*rule.addresses, ElementsAre("Bob Builder", "ORVIK:ann", "SMTP:ann@example.org"));
}

TEST(GroupExpansionTest, GroupNameFillingTheWholeFieldIsFound) {
  TestInstallation install;
  testing::WriteDbf(install.membership_table(), {{"USERNAME", 'C', 10}, {"GrpName", 'C', 10}},
                    {{"ann", "developers"}});
  CMailSender sender(CMailSender::Options{});
  EXPECT_EQ(sender.directory().ExpandGroups("developers,dev"), "ann,dev");
}

TEST_F(RecipientsTest, GroupWithoutMembersStandsForItself) {
  EXPECT_EQ(Sender().directory().ExpandGroups("ops,ann"), "ops,ann");
  EXPECT_THAT(*Rule("Group", "ops").addresses, ElementsAre("SMTP:ops"));
}

TEST_F(RecipientsTest, FieldRuleKeepsFieldNamesAsWritten) {
  CNotifyRule rule = Rule("Field", "Owner, Reporter");
  EXPECT_FALSE(rule.addresses.has_value());
  ASSERT_TRUE(rule.field_names);
  EXPECT_THAT(*rule.field_names, ElementsAre("Owner", " Reporter"));
  EXPECT_THAT(*Rule("Field", "Owner,,QA").field_names, ElementsAre("Owner", "", "QA"));
  // The target is compared exactly: "field" is a list of user names.
  EXPECT_THAT(*Rule("field", "bob").addresses, ElementsAre("Bob Builder"));
}

TEST(RecipientsWithoutTablesTest, MissingUserTableMakesEveryNameSmtp) {
  TestInstallation install;
  CMailSender sender(CMailSender::Options{});
  EXPECT_EQ(sender.directory().AddressesForNames("ann,bob"), "SMTP:ann,SMTP:bob,");
  EXPECT_FALSE(sender.directory().membership_open());
  EXPECT_EQ(sender.directory().ExpandGroups("dev"), "");
}

TEST(RecipientsWithoutTablesTest, ReadOnlyMembershipTableResolvesNoGroup) {
  TestInstallation install;
  install.WriteMembership({{"ann", "dev"}});
  testing::FaultyFileSystem files;
  files.MakeReadOnly("usringrp.dbf");
  CMailSender sender(CMailSender::Options{});
  EXPECT_EQ(sender.directory().ExpandGroups("dev"), "");
}

TEST_F(RecipientsTest, NameListsKeepUserDuplicatesAndGroupsOnce) {
  std::vector<std::string> users, groups{"stale"};
  FillNameLists(install_.server_dir(), users, groups);
  EXPECT_THAT(users, ElementsAre("ann", "ann", "bob", "carl", "dora", "eve"));
  EXPECT_THAT(groups, ElementsAre("dev", "qa", "ops"));
  FillProcessNameLists(install_.server_dir());
  EXPECT_EQ(UserNameList(), users);
  EXPECT_EQ(GroupNameList(), groups);
}

}  // namespace
}  // namespace vigilo
