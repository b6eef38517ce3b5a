// vgqueue on an outbox with two waiting messages: what the administrator sees,
// and a retry and a drop.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/format.h"
#include "common/ini_profile.h"
#include "notify/outbox.h"
#include "tests/support/temp_dir.h"

namespace vigilo {
namespace {

#ifdef VIGILO_VGQUEUE_PROGRAM
// Runs vgqueue with the arguments; returns its exit status and output.
int RunQueue(const std::string& args, std::string* output) {
  const std::string command =
      std::string(VIGILO_VGQUEUE_PROGRAM) + " " + args + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  output->clear();
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) output->append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(VgqueueTest, ListsRetriesAndDropsWaitingMessages) {
  testing::TempDir dir;
  const std::string program = dir.path() + "/program";
  const std::string server = dir.path() + "/server";
  std::filesystem::create_directories(program);
  std::filesystem::create_directories(server);
  WriteProfileString(program + "/vigtab.ini", "Morvane Vigilo", "SERVERDIR", server);
  Outbox outbox(Outbox::DirectoryOf(server));
  OutboxEntry waiting;
  waiting.rule_id = 6;
  waiting.record = 2;
  waiting.table_id = "0\\ORVIK\\Proj\\Bugs";
  waiting.subject = "VIGILO Rule# 6 , Record# 2 of 0\\ORVIK\\Proj\\Bugs";
  waiting.recipients = "SMTP:bob@example.org";
  waiting.attempts = 3;
  waiting.next_attempt = 4000000000;
  waiting.last_transport = "SMTP";
  waiting.last_error = "connection refused";
  std::string error;
  ASSERT_TRUE(outbox.Add(waiting, &error)) << error;
  ASSERT_TRUE(outbox.MarkFlagged(waiting, &error)) << error;
  OutboxEntry other = waiting;
  other.record = 3;
  ASSERT_TRUE(outbox.Add(other, &error)) << error;

  std::string out;
  EXPECT_EQ(RunQueue("--home " + program, &out), 0);
  EXPECT_NE(out.find(waiting.id + "  queued  rule 6  record 2  attempts 3"), std::string::npos)
      << out;
  EXPECT_NE(out.find(other.id + "  unflagged  rule 6  record 3"), std::string::npos) << out;
  EXPECT_NE(out.find("    to: SMTP:bob@example.org\n"), std::string::npos) << out;
  EXPECT_NE(out.find("    last error (SMTP): connection refused\n"), std::string::npos) << out;
  EXPECT_NE(out.find("-- 2 message(s) pending"), std::string::npos) << out;

  EXPECT_EQ(RunQueue("--home " + program + " retry " + waiting.id, &out), 0) << out;
  EXPECT_EQ(outbox.Find(waiting.id)->next_attempt, 0);
  EXPECT_EQ(outbox.Find(waiting.id)->attempts, 3);

  EXPECT_EQ(RunQueue("--home " + program + " drop " + other.id, &out), 0) << out;
  EXPECT_FALSE(outbox.Find(other.id));
  EXPECT_EQ(RunQueue("--home " + program + " drop " + other.id, &out), 1);
  EXPECT_EQ(RunQueue("--home " + program + " frobnicate", &out), 2);
  EXPECT_EQ(outbox.List().size(), 1u);

  // A damaged file is named as such; quarantined files are listed apart.
  std::ofstream(outbox.directory() + "/1-1-1.msg") << "garbage";
  std::filesystem::create_directories(outbox.directory() + "/" + kQuarantineDirectory);
  std::ofstream(outbox.directory() + "/" + kQuarantineDirectory + "/2-2-2.msg") << "";
  EXPECT_EQ(RunQueue("--home " + program, &out), 0);
  EXPECT_NE(out.find("1-1-1.msg  damaged"), std::string::npos) << out;
  EXPECT_NE(out.find("2-2-2.msg  quarantined"), std::string::npos) << out;
  EXPECT_NE(out.find("-- 1 message(s) pending in " + outbox.directory() + ", 1 quarantined\n"),
            std::string::npos)
      << out;
}
#endif

}  // namespace
}  // namespace vigilo
