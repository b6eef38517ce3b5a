#include "common/ini_profile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tests/support/faulty_file_system.h"

namespace vigilo {
namespace {

using testing::ReadText;
using testing::TempDir;
using testing::WriteText;

class IniProfileTest : public ::testing::Test {
 protected:
  std::string Ini(const std::string& text, const std::string& name = "test.ini") {
    std::string path = dir_.File(name);
    WriteText(path, text);
    return path;
  }
  std::vector<std::string> DirectoryEntries() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  TempDir dir_;
};

// --- Reading ---

TEST_F(IniProfileTest, ComparesSectionsAndKeysWithoutCase) {
  std::string ini = Ini("[Morvane Vigilo]\nSERVERDIR=/srv/orvik\n");
  EXPECT_EQ(GetProfileString(ini, "morvane vigilo", "serverdir"), "/srv/orvik");
  EXPECT_EQ(GetProfileString(ini, "MORVANE VIGILO", "ServerDir"), "/srv/orvik");
}

TEST_F(IniProfileTest, FirstMatchingSectionAndKeyWin) {
  std::string ini = Ini(
      "[Options]\nFIRING_INTERVAL=7\nfiring_interval=8\n"
      "[OPTIONS]\nFIRING_INTERVAL=9\nOTHER=1\n");
  EXPECT_EQ(GetProfileString(ini, "OPTIONS", "FIRING_INTERVAL"), "7");
  // Only the first section of a name is searched.
  EXPECT_EQ(GetProfileString(ini, "OPTIONS", "OTHER", "absent"), "absent");
}

TEST_F(IniProfileTest, TrimsNamesAndValuesAndStripsMatchingQuotes) {
  std::string ini = Ini(
      "  [ Mail ]  \n"
      "  SMTP Mail  =   on  \t\n"
      "Quoted=\"  padded  \"\n"
      "Single='x'\n"
      "Unmatched=\"x'\n"
      "Lone=\"\n"
      "Inner=a \"b\" c\n");
  EXPECT_EQ(GetProfileString(ini, "Mail", "SMTP Mail"), "on");
  EXPECT_EQ(GetProfileString(ini, "Mail", "Quoted"), "  padded  ");
  EXPECT_EQ(GetProfileString(ini, "Mail", "Single"), "x");
  EXPECT_EQ(GetProfileString(ini, "Mail", "Unmatched"), "\"x'");
  EXPECT_EQ(GetProfileString(ini, "Mail", "Lone"), "\"");
  EXPECT_EQ(GetProfileString(ini, "Mail", "Inner"), "a \"b\" c");
}

TEST_F(IniProfileTest, IgnoresCommentsAndLinesThatAreNotKeys) {
  std::string ini = Ini(
      "Orphan=before any section\n"
      "[S]\n"
      ";Key=commented\n"
      "  ; Key=indented comment\n"
      "Key\n"
      "=no name\n"
      "Key=real ; not a comment\n");
  EXPECT_EQ(GetProfileString(ini, "S", "Key"), "real ; not a comment");
  EXPECT_EQ(GetProfileString(ini, "", "Orphan", "dflt"), "dflt");
  EXPECT_EQ(GetProfileKeys(ini, "S"), std::vector<std::string>{"Key"});
}

TEST_F(IniProfileTest, ReturnsTheDefaultWhenFileSectionOrKeyIsMissing) {
  std::string ini = Ini("[S]\nK=v\nEmpty=\n");
  EXPECT_EQ(GetProfileString(dir_.File("none.ini"), "S", "K", "d"), "d");
  EXPECT_EQ(GetProfileString(ini, "T", "K", "d"), "d");
  EXPECT_EQ(GetProfileString(ini, "S", "X", "d"), "d");
  // A key that is present but empty is empty, not the default.
  EXPECT_EQ(GetProfileString(ini, "S", "Empty", "d"), "");
}

TEST_F(IniProfileTest, ReadsCrLfFilesAndLinesOfAnyLength) {
  std::string big(200000, 'v');
  std::string ini = Ini("[Morvane Orvik]\r\nFormNames=Bug Report,Other\r\nBig=" + big +
                        "\r\n[Next]\r\nK=1");
  EXPECT_EQ(GetProfileString(ini, "Morvane Orvik", "FormNames"), "Bug Report,Other");
  EXPECT_EQ(GetProfileString(ini, "Morvane Orvik", "Big"), big);
  EXPECT_EQ(GetProfileString(ini, "Next", "K"), "1");
}

TEST_F(IniProfileTest, FindsTheFileWhateverTheCaseOfItsName) {
  Ini("[VIGTAB]\nLAST_POLL_TIME=5\n", "BUGS.INI");
  EXPECT_EQ(GetProfileString(dir_.File("Bugs.ini"), "vigtab", "last_poll_time"), "5");
}

// --- Writing ---

TEST_F(IniProfileTest, ReplacingAKeyKeepsEveryOtherLineByteForByte) {
  std::string before =
      "; installation settings\r\n"
      "[Morvane Vigilo]\r\n"
      "  SERVERDIR = /old \r\n"
      "\r\n"
      "[OPTIONS]\r\n"
      "FIRING_INTERVAL=5\r\n"
      "odd line without equals\r\n";
  std::string ini = Ini(before);
  ASSERT_TRUE(WriteProfileString(ini, "morvane vigilo", "serverdir", "/srv/orvik"));
  std::string expected = before;
  // The key keeps its spelling from the file; the line is rewritten plainly.
  expected.replace(expected.find("  SERVERDIR = /old "), 19, "SERVERDIR=/srv/orvik");
  EXPECT_EQ(ReadText(ini), expected);
}

TEST_F(IniProfileTest, AddsANewKeyAfterTheLastKeyOfItsSection) {
  std::string ini = Ini("[A]\nx=1\n; about y\ny=2\n\n; about B\n[B]\nz=3\n");
  ASSERT_TRUE(WriteProfileString(ini, "a", "NEW", "v"));
  EXPECT_EQ(ReadText(ini), "[A]\nx=1\n; about y\ny=2\nNEW=v\n\n; about B\n[B]\nz=3\n");
  ASSERT_TRUE(WriteProfileString(ini, "B", "w", "4"));
  EXPECT_EQ(ReadText(ini), "[A]\nx=1\n; about y\ny=2\nNEW=v\n\n; about B\n[B]\nz=3\nw=4\n");
}

TEST_F(IniProfileTest, AddsAMissingSectionAtTheEndWithTheFileLineEnds) {
  std::string ini = Ini("[A]\r\nx=1");
  ASSERT_TRUE(WriteProfileString(ini, "OPTIONS", "FIRING_INTERVAL", "5"));
  EXPECT_EQ(ReadText(ini), "[A]\r\nx=1\r\n\r\n[OPTIONS]\r\nFIRING_INTERVAL=5\r\n");
  std::string empty_section = Ini("[S]\n", "b.ini");
  ASSERT_TRUE(WriteProfileString(empty_section, "S", "k", "v"));
  EXPECT_EQ(ReadText(empty_section), "[S]\nk=v\n");
}

TEST_F(IniProfileTest, CreatesAMissingFile) {
  std::string ini = dir_.File("vigtab.ini");
  ASSERT_TRUE(WriteProfileString(ini, "Morvane Vigilo", "SERVERDIR", "/srv/orvik"));
  EXPECT_EQ(ReadText(ini), "[Morvane Vigilo]\nSERVERDIR=/srv/orvik\n");
  EXPECT_EQ(GetProfileString(ini, "Morvane Vigilo", "SERVERDIR"), "/srv/orvik");
}

TEST_F(IniProfileTest, WritesToTheFileWhateverTheCaseOfItsName) {
  Ini("[VIGTAB]\nLAST_POLL_TIME=5\n", "BUGS.INI");
  ASSERT_TRUE(WriteProfileString(dir_.File("bugs.ini"), "VIGTAB", "LAST_POLL_TIME", "6"));
  EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"BUGS.INI"});
  EXPECT_EQ(ReadText(dir_.File("BUGS.INI")), "[VIGTAB]\nLAST_POLL_TIME=6\n");
}

TEST_F(IniProfileTest, ReplacesTheFileAtomicallyKeepingItsMode) {
  std::string ini = Ini("[S]\nk=1\n");
  ASSERT_EQ(::chmod(ini.c_str(), 0640), 0);
  struct stat before;
  ASSERT_EQ(::stat(ini.c_str(), &before), 0);
  ASSERT_TRUE(WriteProfileString(ini, "S", "k", "2"));
  struct stat after;
  ASSERT_EQ(::stat(ini.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  // A new file took the old one's place, and no temporary file is left behind.
  EXPECT_NE(after.st_ino, before.st_ino);
  EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"test.ini"});
}

TEST_F(IniProfileTest, WritesThroughASymbolicLinkAndKeepsTheLink) {
  std::filesystem::create_directory(dir_.File("real"));
  std::string target = Ini("[S]\nk=1\n", "real/t.ini");
  std::filesystem::create_symlink(target, dir_.File("link.ini"));
  ASSERT_TRUE(WriteProfileString(dir_.File("link.ini"), "S", "k", "2"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir_.File("link.ini")));
  EXPECT_EQ(ReadText(target), "[S]\nk=2\n");
}

TEST_F(IniProfileTest, RefusesWhatWouldBreakTheFileAndLeavesItUnchanged) {
  std::string text = "[S]\nk=1\n";
  std::string ini = Ini(text);
  std::string error;
  EXPECT_FALSE(WriteProfileString(ini, "S", "k", "two\nlines", &error));
  EXPECT_NE(error.find("line break"), std::string::npos) << error;
  EXPECT_FALSE(WriteProfileString(ini, "S", "a=b", "v"));
  EXPECT_FALSE(WriteProfileString(ini, "S]", "k", "v"));
  EXPECT_FALSE(WriteProfileString(ini, "", "k", "v"));
  EXPECT_FALSE(WriteProfileString(ini, "S", " ", "v"));
  EXPECT_FALSE(WriteProfileString(ini, "S", ";k", "v"));
  EXPECT_EQ(ReadText(ini), text);
}

TEST_F(IniProfileTest, ReportsAFileThatCannotBeWritten) {
  std::string text = "[S]\nk=1\n";
  std::string ini = Ini(text);
  std::string error;
  {
    testing::FaultyFileSystem files;
    files.MakeReadOnly(ini);
    EXPECT_FALSE(WriteProfileString(ini, "S", "k", "2", &error));
    EXPECT_NE(error.find(ini), std::string::npos) << error;
    EXPECT_EQ(ReadText(ini), text);
  }
  {
    // A full disk: the old text stays whole and no temporary file is left.
    testing::FaultyFileSystem files;
    files.FailWrites(ini);
    EXPECT_FALSE(WriteProfileString(ini, "S", "k", "2", &error));
    EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
    EXPECT_EQ(ReadText(ini), text);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()),
                            std::filesystem::directory_iterator()),
              1);
  }
  EXPECT_TRUE(WriteProfileString(ini, "S", "k", "2", &error)) << error;
  EXPECT_EQ(ReadText(ini), "[S]\nk=2\n");
}

TEST_F(IniProfileTest, ReportsAMissingDirectory) {
  std::string error;
  EXPECT_FALSE(WriteProfileString(dir_.File("no/such/dir.ini"), "S", "k", "v", &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(IniProfileTest, ConcurrentWritersLoseNoKey) {
  std::string ini = dir_.File("shared.ini");
  auto writer = [&](const std::string& prefix) {
    for (int i = 0; i < 40; ++i) {
      EXPECT_TRUE(WriteProfileString(ini, "S", prefix + std::to_string(i), "v"));
    }
  };
  std::thread a(writer, "a");
  std::thread b(writer, "b");
  a.join();
  b.join();
  EXPECT_EQ(GetProfileKeys(ini, "S").size(), 80u);
}

TEST_F(IniProfileTest, DeletesOnlyTheFirstMatchingKey) {
  std::string ini = Ini("[S]\na=1\nB=2\nb=3\nc=4\n");
  ASSERT_TRUE(DeleteProfileKey(ini, "s", "b"));
  EXPECT_EQ(ReadText(ini), "[S]\na=1\nb=3\nc=4\n");
  ASSERT_TRUE(DeleteProfileKey(ini, "S", "missing"));
  ASSERT_TRUE(DeleteProfileKey(dir_.File("none.ini"), "S", "a"));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("none.ini")));
}

// --- Whole sections ---

TEST_F(IniProfileTest, ListsSectionKeysInFileOrderEachOnce) {
  std::string ini = Ini(
      "[Morvane Orvik]\nBugs Datafile=bugs.dbf\n; c\nLinkInfo Datafile=l\n"
      "bugs datafile=again\nChngHist Datafile=h\n[Other]\nX=1\n");
  EXPECT_EQ(GetProfileKeys(ini, "morvane orvik"),
            (std::vector<std::string>{"Bugs Datafile", "LinkInfo Datafile", "ChngHist Datafile"}));
  EXPECT_TRUE(GetProfileKeys(ini, "None").empty());
}

TEST_F(IniProfileTest, ReadsASectionsEntriesAndLinesInOrder) {
  std::string ini = Ini("[A]\n[Bug Report]\r\nField1 = a,b \r\n; note\r\n\r\nField2='x'\r\n[C]\n");
  std::vector<ProfileEntry> entries = GetProfileEntries(ini, "bug report");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].key, "Field1");
  EXPECT_EQ(entries[0].value, "a,b");
  EXPECT_EQ(entries[1].value, "x");
  EXPECT_EQ(GetProfileSectionLines(ini, "Bug Report"),
            (std::vector<std::string>{"Field1 = a,b ", "; note", "", "Field2='x'"}));
  EXPECT_EQ(GetProfileSectionNames(ini), (std::vector<std::string>{"A", "Bug Report", "C"}));
}

}  // namespace
}  // namespace vigilo
