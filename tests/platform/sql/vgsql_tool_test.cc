// The vgsql tool on a dBase directory: rows, counts, and failures.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>

#include "tests/platform/sql/dbase_fixture.h"

namespace vigilo::test {
namespace {

// Runs vgsql with the arguments (each single-quoted for the shell); returns
// its exit status and fills the output (stdout and stderr).
int RunTool(const std::vector<std::string>& args, std::string* output) {
  std::string command = VGSQL_TOOL;
  for (const std::string& a : args) {
    command += " '";
    for (char c : a) command += c == '\'' ? std::string("'\\''") : std::string(1, c);
    command += "'";
  }
  command += " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  output->clear();
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe)) *output += buffer;
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

using VgsqlToolTest = DbaseProjectTest;

TEST_F(VgsqlToolTest, PrintsRowsTabSeparatedCountsAndFailures) {
  std::string out;
  EXPECT_EQ(RunTool({"--dbase", Dir(), "SELECT FormID, Status FROM Bugs WHERE Priority < 3"},
                    &out),
            0);
  EXPECT_EQ(out, "1\tOpen\n3\tOpen\n");
  EXPECT_EQ(RunTool({DbaseConnectionString(Dir()),
                     "UPDATE Bugs SET Bugs.Status = 'Closed' WHERE Status = 'Open'"},
                    &out),
            0);
  EXPECT_EQ(out, "2\n");
  EXPECT_EQ(RunTool({"--dbase", Dir(), "SELECT * FROM Absent"}, &out), 1);
  EXPECT_NE(out.find("no such table: Absent"), std::string::npos) << out;
  EXPECT_EQ(RunTool({"--dbase", Dir()}, &out), 2);
}

}  // namespace
}  // namespace vigilo::test
