#include "common/paths.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace vigilo {
namespace {

using testing::TempDir;
using testing::WriteText;

TEST(JoinPathTest, JoinsWithOneSlash) {
  EXPECT_EQ(JoinPath("/srv/orvik", "morvik.ini"), "/srv/orvik/morvik.ini");
  EXPECT_EQ(JoinPath("/srv/orvik/", "morvik.ini"), "/srv/orvik/morvik.ini");
  EXPECT_EQ(JoinPath("data\\", "BUGS.INI"), "data\\BUGS.INI");
  EXPECT_EQ(JoinPath("/", "etc"), "/etc");
  EXPECT_EQ(JoinPath("", "vigtab.ini"), "vigtab.ini");
}

TEST(SplitPathTest, SplitsAtTheLastSeparatorOfEitherKind) {
  EXPECT_EQ(DirectoryPart("D:\\data\\hist.dbf"), "D:\\data");
  EXPECT_EQ(NamePart("D:\\data\\hist.dbf"), "hist.dbf");
  EXPECT_EQ(DirectoryPart("/srv/a\\b/c.ini"), "/srv/a\\b");
  EXPECT_EQ(NamePart("/srv/a/b\\c.ini"), "c.ini");
  EXPECT_EQ(DirectoryPart("hist"), "");
  EXPECT_EQ(NamePart("hist"), "hist");
  EXPECT_EQ(NamePart("dir/"), "");
}

TEST(NormalizePathTest, UsesSlashesAndDropsTrailingSeparators) {
  EXPECT_EQ(NormalizePath("\\srv\\orvik\\"), "/srv/orvik");
  EXPECT_EQ(NormalizePath("/srv/orvik//"), "/srv/orvik");
  EXPECT_EQ(NormalizePath("/"), "/");
  EXPECT_EQ(NormalizePath("\\"), "/");
  EXPECT_EQ(NormalizePath(""), "");
}

TEST(ResolveFileCaseTest, KeepsAnExistingPath) {
  TempDir dir;
  WriteText(dir.File("vigtab.ini"), "");
  EXPECT_EQ(ResolveFileCase(dir.File("vigtab.ini")), dir.File("vigtab.ini"));
}

TEST(ResolveFileCaseTest, FindsTheFileInAnotherCase) {
  TempDir dir;
  WriteText(dir.File("bugs.ini"), "");
  std::filesystem::create_directory(dir.File("orvhome"));
  WriteText(dir.File("orvhome/VIGTAB.DBF"), "");
  EXPECT_EQ(ResolveFileCase(dir.File("BUGS.INI")), dir.File("bugs.ini"));
  EXPECT_EQ(ResolveFileCase(dir.File("orvhome/Vigtab.dbf")), dir.File("orvhome/VIGTAB.DBF"));
}

TEST(ResolveFileCaseTest, ResolvesDirectoriesAlongThePath) {
  TempDir dir;
  std::filesystem::create_directories(dir.File("Proj/Data"));
  WriteText(dir.File("Proj/Data/Bugs.ini"), "");
  EXPECT_EQ(ResolveFileCase(dir.File("PROJ/data/BUGS.INI")), dir.File("Proj/Data/Bugs.ini"));
  // A file that exists in no case keeps its name, under the resolved directory,
  // so it can be created there.
  EXPECT_EQ(ResolveFileCase(dir.File("proj/DATA/new.ini")), dir.File("Proj/Data/new.ini"));
  EXPECT_EQ(ResolveFileCase(dir.File("none/Sub/x.ini")), dir.File("none/Sub/x.ini"));
}

TEST(ResolveFileCaseTest, TakesBackslashesAsSeparators) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("data"));
  WriteText(dir.File("data/hist.dbf"), "");
  EXPECT_EQ(ResolveFileCase(dir.path() + "\\DATA\\Hist.DBF"), dir.File("data/hist.dbf"));
}

TEST(ResolveFileCaseTest, ChoosesRepeatablyAmongSeveralCaseVariants) {
  TempDir dir;
  WriteText(dir.File("bugs.INI"), "");
  WriteText(dir.File("BUGS.ini"), "");
  EXPECT_EQ(ResolveFileCase(dir.File("Bugs.Ini")), dir.File("BUGS.ini"));
}

}  // namespace
}  // namespace vigilo
