// Runs the login-information tool and reads back what it stored.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "data/login_info.h"
#include "tests/data/odbc_sources.h"
#include "tests/support/test_installation.h"

namespace vigilo {
namespace {

#ifdef VGLOGIN_PATH

struct Result {
  int status;
  std::string out;
};

Result RunTool(const std::string& arguments, const std::string& input = "") {
  std::string command = std::string(VGLOGIN_PATH) + " " + arguments + " 2>/dev/null";
  if (!input.empty()) command = "printf '%s\\n' '" + input + "' | " + command;
  Result result{-1, {}};
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[256];
  size_t read;
  while ((read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, read);
  int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TEST(LoginTool, WrittenValueIsReadBackByTheService) {
  testing::TestInstallation install;
  std::string ini = install.paths().orvik_ini_path;
  ASSERT_EQ(RunTool("write " + ini + " 2 srv1 scott 'tiger pass'").status, 0);
  ASSERT_EQ(RunTool("write " + ini + " 1 srv1 sa -", "from stdin").status, 0);
  std::optional<LoginInfo> oracle = GetLoginInfo(install.paths(), 2, std::string("srv1"));
  ASSERT_TRUE(oracle);
  EXPECT_EQ(oracle->user, "scott");
  EXPECT_EQ(oracle->password, "tiger pass");
  EXPECT_EQ(GetLoginInfo(install.paths(), 1, std::string("srv1"))->password, "from stdin");

  Result shown = RunTool("show " + ini + " 2 srv1");
  EXPECT_EQ(shown.status, 0);
  EXPECT_EQ(shown.out, "scott\ntiger pass\n");
}

TEST(LoginTool, EncodeAndDecode) {
  Result encoded = RunTool("encode jsmith s3cret");
  ASSERT_EQ(encoded.status, 0);
  std::string value = encoded.out.substr(0, encoded.out.size() - 1);
  EXPECT_EQ(ParseLoginValue(value)->password, "s3cret");
  EXPECT_EQ(RunTool("decode '" + value + "'").out, "jsmith\ns3cret\n");
}

TEST(LoginTool, RefusesBadInput) {
  EXPECT_EQ(RunTool("").status, 2);
  EXPECT_EQ(RunTool("write /tmp/x.ini 0 srv u p").status, 2);
  EXPECT_EQ(RunTool("encode u " + std::string(32, 'p')).status, 1);
  EXPECT_EQ(RunTool("decode ''").status, 1);
}

#endif

}  // namespace
}  // namespace vigilo
