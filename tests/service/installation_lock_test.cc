// The installation's engine lock: exclusive between objects and processes,
// named in the refusal, and gone with a holder that was killed.
#include "service/installation_lock.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "common/format.h"
#include "tests/support/temp_dir.h"

namespace vigilo {
namespace {

class InstallationLockTest : public ::testing::Test {
 protected:
  std::string Path() const { return InstallationLock::PathFor(dir_.path()); }
  testing::TempDir dir_;
};

TEST_F(InstallationLockTest, ASecondHolderInTheSameProcessIsRefusedUntilRelease) {
  InstallationLock first;
  std::string why;
  ASSERT_TRUE(first.Acquire(Path(), &why)) << why;
  EXPECT_TRUE(first.Acquire(Path(), &why)) << "taking it again is harmless";

  InstallationLock second;
  EXPECT_FALSE(second.Acquire(Path(), &why));
  EXPECT_FALSE(second.held());
  EXPECT_EQ(why, Format("Another Vigilo engine is running on this installation: the lock file %s "
                        "is held by process %ld (%s).",
                        Path().c_str(), static_cast<long>(getpid()),
                        program_invocation_short_name));

  first.Release();
  EXPECT_TRUE(second.Acquire(Path(), &why)) << why;
  // Moved, the lock stays held by its new owner.
  InstallationLock moved = std::move(second);
  EXPECT_TRUE(moved.held());
  EXPECT_FALSE(first.Acquire(Path(), &why));
}

TEST_F(InstallationLockTest, AHolderKilledOutrightLeavesNoLock) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    InstallationLock lock;
    const bool taken = lock.Acquire(Path(), nullptr);
    const char answer = taken ? '1' : '0';
    if (write(ready[1], &answer, 1) != 1) _exit(2);
    pause();
    _exit(0);
  }
  ASSERT_GT(child, 0);
  char answer = 0;
  ASSERT_EQ(read(ready[0], &answer, 1), 1);
  ASSERT_EQ(answer, '1');

  InstallationLock lock;
  std::string why;
  EXPECT_FALSE(lock.Acquire(Path(), &why));
  EXPECT_NE(why.find(Format("held by process %ld", static_cast<long>(child))), std::string::npos)
      << why;

  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_TRUE(lock.Acquire(Path(), &why)) << why;
  close(ready[0]);
  close(ready[1]);
}

TEST_F(InstallationLockTest, LivesInTheServerDirectoryAndAMissingOneGivesAClearReason) {
  EXPECT_EQ(InstallationLock::PathFor("/srv/orvik/"), "/srv/orvik/vigilo.lock");
  InstallationLock lock;
  std::string why;
  const std::string path = dir_.File("missing/vigilo.lock");
  EXPECT_FALSE(lock.Acquire(path, &why));
  EXPECT_EQ(why, "Unable to open the engine lock file " + path + ": No such file or directory");
}

}  // namespace
}  // namespace vigilo
