#include "data/project_source.h"

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "data/database_kind.h"
#include "common/ini_profile.h"
#include "data/login_info.h"
#include "tests/data/odbc_sources.h"
#include "tests/support/test_installation.h"

namespace vigilo {
namespace {

using testing::TestInstallation;

TEST(PasswordTable, EveryPrintableCharacterRoundTrips) {
  std::string all;
  for (char c = 0x20; c <= 0x7e; ++c) all += c;
  std::optional<std::string> encoded = EncodePassword(all);
  ASSERT_TRUE(encoded);
  EXPECT_NE(*encoded, all);
  EXPECT_EQ(DecodePassword(*encoded), all);
  // At every position the stored characters are a permutation of the table.
  for (size_t position = 0; position < 8; ++position) {
    std::string column;
    for (char c = 0x20; c <= 0x7e; ++c) column += (*EncodePassword(std::string(position, 'a') + c))[position];
    std::sort(column.begin(), column.end());
    EXPECT_EQ(std::unique(column.begin(), column.end()), column.end()) << position;
  }
}

TEST(PasswordTable, ShiftRepeatsEveryEightCharacters) {
  EXPECT_EQ(DecodePassword(""), "");
  std::string nine = *EncodePassword("aaaaaaaaa");
  EXPECT_EQ(nine[8], nine[0]);
  EXPECT_NE(nine.substr(0, 8), std::string(8, nine[0]));
  EXPECT_EQ(DecodePassword("abc\x01"), std::nullopt);
  EXPECT_EQ(EncodePassword("p\xe9"), std::nullopt);
}

TEST(LoginValue, TwoItems) {
  std::string value = *FormatLoginValue("jsmith", "s3cret;x");
  std::optional<LoginInfo> login = ParseLoginValue(value);
  ASSERT_TRUE(login);
  EXPECT_EQ(login->user, "jsmith");
  EXPECT_EQ(login->password, "s3cret;x");
}

TEST(LoginValue, AnySeparatorAfterALength) {
  std::string encoded = *EncodePassword("pw");
  for (char separator : {' ', ',', ':', 'x', '\\'}) {
    std::string value = std::string("3") + separator + "bob" + "2" + separator + encoded;
    std::optional<LoginInfo> login = ParseLoginValue(value);
    ASSERT_TRUE(login) << separator;
    EXPECT_EQ(login->user, "bob");
    EXPECT_EQ(login->password, "pw");
  }
  // Leading blanks before a length are skipped.
  EXPECT_EQ(ParseLoginValue("  3 bob   2 " + encoded)->password, "pw");
}

TEST(LoginValue, MissingOrEmptySecondItem) {
  std::optional<LoginInfo> zero = ParseLoginValue("3 bob0 ");
  ASSERT_TRUE(zero);
  EXPECT_EQ(zero->user, "bob");
  EXPECT_EQ(zero->password, "");
  std::optional<LoginInfo> one = ParseLoginValue("3 bob");
  ASSERT_TRUE(one);
  EXPECT_EQ(one->user, "bob");
  EXPECT_EQ(one->password, "");
  // An item cut short by the end of the value keeps what is there.
  EXPECT_EQ(ParseLoginValue("10 bob")->user, "bob");
}

TEST(LoginValue, Malformed) {
  EXPECT_EQ(ParseLoginValue(""), std::nullopt);
  EXPECT_EQ(ParseLoginValue("MM/DD/YY"), std::nullopt);
  EXPECT_EQ(ParseLoginValue("32 " + std::string(32, 'u')), std::nullopt);
  EXPECT_EQ(FormatLoginValue(std::string(32, 'u'), "pw"), std::nullopt);
  EXPECT_EQ(FormatLoginValue("bob", "p\tw"), std::nullopt);
}

TEST(LoginValue, TrailingBlankOfAPasswordSurvivesTheIniFile) {
  TestInstallation install;
  for (std::string password : {"a ", "   ", "x y z ", "}{;="}) {
    std::string value = *FormatLoginValue("u", password);
    ASSERT_TRUE(WriteProfileString(install.paths().orvik_ini_path, "Oracle", "srv", value));
    std::optional<LoginInfo> login = GetLoginInfo(install.paths(), 2, std::string("srv"));
    ASSERT_TRUE(login) << password;
    EXPECT_EQ(login->password, password);
  }
}

TEST(LoginInfoLookup, SectionPerKind) {
  TestInstallation install;
  std::string value = *FormatLoginValue("sa", "pw");
  install.WriteServerFile("morvik.ini", "[Microsoft SQL Server]\nsrv1=" + value +
                                            "\n[Sybase]\nsrv1=" + *FormatLoginValue("syb", "pw") +
                                            "\n");
  EXPECT_EQ(GetLoginInfo(install.paths(), 1, std::string("SRV1"))->user, "sa");
  EXPECT_EQ(GetLoginInfo(install.paths(), 3, std::string("srv1"))->user, "syb");
  EXPECT_EQ(GetLoginInfo(install.paths(), 2, std::string("srv1")), std::nullopt);
  EXPECT_EQ(GetLoginInfo(install.paths(), 1, std::nullopt), std::nullopt);
  EXPECT_EQ(GetLoginInfo(install.paths(), 0, std::string("srv1")), std::nullopt);
}

TEST(DataSources, ServerNameKeys) {
  testing::UseTestDataSources();
  EXPECT_EQ(GetDsnServerName("BUGS"), "srv1");  // SERVER wins over ServerName
  EXPECT_EQ(GetDsnServerName("NAMEONLY"), "srv2");
  EXPECT_EQ(GetDsnServerName("NOSERVER"), std::nullopt);
  EXPECT_EQ(GetDsnServerName("MISSING"), std::nullopt);
}

TEST(ProjectSources, ClientServerKind) {
  TestInstallation install;
  install.WriteServerFile("morvik.ini",
                          "[Microsoft SQL Server]\nsrv1=" + *FormatLoginValue("sa", "pw;1") + "\n");
  install.WriteServerFile("Proj.ini", "[Table DSN]\n");
  ProjectSource source = ResolveProjectSource(install.paths(), 1, "BUGS", "Proj");
  EXPECT_EQ(source.key, "1\\BUGS\\Proj");
  EXPECT_EQ(source.directory, install.server_dir());
  EXPECT_EQ(source.ini_path, install.ServerFile("Proj.ini"));  // found in its own letter case
  EXPECT_EQ(source.connection_string, "DSN=BUGS;UID=sa;PWD={pw;1};");

  std::string message;
  EXPECT_EQ(ManagerConnectionString(install.paths(), 1, "BUGS", &message),
            "ODBC;DSN=BUGS;UID=sa;PWD={pw;1};");
}

TEST(ProjectSources, ClientServerKindWithoutLogin) {
  TestInstallation install;
  install.WriteServerFile("morvik.ini", "[Oracle]\nother=1 x\n");
  ProjectSource source = ResolveProjectSource(install.paths(), 2, "BUGS", "Proj");
  EXPECT_EQ(source.key, "2\\BUGS\\Proj");
  EXPECT_EQ(source.connection_string, "");
  EXPECT_EQ(source.ini_path, install.ServerFile("Proj.INI"));
  std::string message;
  EXPECT_EQ(ManagerConnectionString(install.paths(), 2, "BUGS", &message), std::nullopt);
  EXPECT_EQ(message, "srv1 server login information does not exists in " +
                         install.paths().orvik_ini_path +
                         "!\n\nSetup the DBMS Login information through Orvik.");
  EXPECT_EQ(ResolveProjectSource(install.paths(), 1, "NOSERVER", "Proj").connection_string, "");
}

TEST(ProjectSources, DbaseKindNeverReadsLoginInformation) {
  TestInstallation install;
  install.WriteServerFile("morvik.ini", "[Orvik Dsn]\nproj=" + install.server_dir() +
                                            "\\data\\\n"
                                            "[Microsoft SQL Server]\nsrv1=2 sa\n");
  std::filesystem::create_directory(install.ServerFile("data"));
  ProjectSource source = ResolveProjectSource(install.paths(), 0, "BUGS", "Proj");
  EXPECT_EQ(source.key, "0\\BUGS\\Proj");
  EXPECT_EQ(source.directory, install.ServerFile("data"));
  EXPECT_EQ(source.connection_string, "Driver={Microsoft dBase Driver (*.dbf)};DefaultDir=" +
                                          install.ServerFile("data") + ";DriverId=277;DSN=;");
  EXPECT_EQ(source.ini_path, install.ServerFile("data/Proj.INI"));
  // Without an "Orvik Dsn" entry the directory is empty.
  EXPECT_EQ(ResolveProjectSource(install.paths(), 0, "", "Other").connection_string,
            "Driver={Microsoft dBase Driver (*.dbf)};DefaultDir=;DriverId=277;DSN=;");
}

TEST(ProjectSources, KeysAreCaseSensitive) {
  EXPECT_EQ(ProjectKey(1, "BUGS", "Proj"), "1\\BUGS\\Proj");
  EXPECT_NE(ProjectKey(1, "bugs", "Proj"), ProjectKey(1, "BUGS", "Proj"));
}

TEST(DatabaseKinds, NamesAndQualification) {
  EXPECT_EQ(LoginSectionName(0), "");
  EXPECT_EQ(LoginSectionName(1), "Microsoft SQL Server");
  EXPECT_EQ(LoginSectionName(2), "Oracle");
  EXPECT_EQ(LoginSectionName(3), "Sybase");
  EXPECT_EQ(KindDisplayName(2), "Oracle Database");
  EXPECT_EQ(QualifiedName(0, "Proj", "Bugs"), "Bugs");
  EXPECT_EQ(QualifiedName(1, "Proj", "Bugs"), "Proj..Bugs");
  EXPECT_EQ(QualifiedName(3, "Proj", "Bugs"), "Proj..Bugs");
  EXPECT_EQ(QualifiedName(2, "Proj", "Bugs"), "Proj.Bugs");
  EXPECT_EQ(ProjectListQuery(1), "select projname from orvik_master..projlist");
  EXPECT_EQ(ProjectListQuery(2), "select projname from orvik_master.projlist");
  EXPECT_EQ(ProjectDatabaseQuery(3, "O'P"),
            "select dbname from orvik_master..projlist where projname = 'O''P'");
  EXPECT_EQ(ProjectDatabaseQuery(2, "P"),
            "select dbname from orvik_master.projlist where projname = 'P'");
}

}  // namespace
}  // namespace vigilo
