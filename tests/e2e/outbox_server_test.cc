// Every notification delivered once, end to end: the daemon runs on a
// generated installation while records break, mail servers go down, the disk
// fills, the process is killed or stopped, and the tests count what arrived.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/format.h"
#include "common/ini_profile.h"
#include "notify/outbox.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/smtp_sink.h"
#include "tools/demo/installation_writer.h"

namespace vigilo::e2e {
namespace {

using demo::FieldDescription;
using demo::RecordDescription;
using demo::RuleDescription;
using demo::TableDescription;
using testing::RuleBuilder;

TableDescription Table(const std::string& name, long records, const std::string& status) {
  TableDescription table;
  table.name = name;
  table.fields = {
      FieldDescription{"Title", demo::kFieldText, 30, {}, demo::kFlagDefault, false, ""},
      FieldDescription{"Status", demo::kFieldText, 10, {}, demo::kFlagDefault, true, ""},
  };
  for (long id = 1; id <= records; ++id) {
    table.records.push_back(RecordDescription{id,
                                       Format("Changed by jsmith (%ld)", id),
                                       {{"Title", Format("Item %ld", id)}, {"Status", status}},
                                       "",
                                       ""});
  }
  return table;
}

// Overwrites the memo block number of a record's memo field with one past
// the end of the memo file, as a damaged table holds.
void BreakMemoPointer(const std::string& dbf_path, long record, const std::string& field) {
  std::fstream file(dbf_path, std::ios::in | std::ios::out | std::ios::binary);
  unsigned char header[32];
  file.read(reinterpret_cast<char*>(header), 32);
  const int header_size = header[8] | (header[9] << 8);
  const int record_size = header[10] | (header[11] << 8);
  int offset = 1;  // the deletion mark
  for (int pos = 32; pos + 32 <= header_size; pos += 32) {
    char descriptor[32];
    file.seekg(pos);
    file.read(descriptor, 32);
    if (descriptor[0] == 0x0D) break;
    const std::string name(descriptor, strnlen(descriptor, 11));
    const int width = static_cast<unsigned char>(descriptor[16]);
    if (strcasecmp(name.c_str(), field.c_str()) == 0) {
      file.seekp(header_size + (record - 1) * record_size + offset);
      const std::string broken = Format("%*d", width, 999999);
      file.write(broken.data(), width);
      return;
    }
    offset += width;
  }
  FAIL() << "no field " << field << " in " << dbf_path;
}

// A server that accepts connections (the kernel's backlog does) and never
// answers.
class SilentServer {
 public:
  SilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 64);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~SilentServer() { ::close(fd_); }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

class OutboxServerTest : public ::testing::Test {
 protected:
  void Install(std::vector<TableDescription> tables, std::vector<RuleDescription> rules, int smtp_port) {
    testing::InstallationBuilder builder;
    demo::InstallationDescription& description = builder.description();
    description.projects = {demo::ProjectDescription{"Proj", "", std::move(tables)}};
    description.users = {{"ann", "", 0, "ann", "Ann A."},
                         {"bob", "", 5, "bob@example.org", "Bob B."}};
    description.rules = std::move(rules);
    description.mail.smtp_server = Format("127.0.0.1:%d", smtp_port);
    description.mail.smtp_sender = "vigilo@demo.example";
    install_ = std::make_unique<testing::TestInstallation>(std::move(builder));
    // Every tick may retry: the growing delay is the unit tests' business.
    WriteProfileString(install_->vigtab_ini(), "OPTIONS", "MAIL_RETRY_DELAY", "0");
  }

  std::vector<std::string> Env() const {
    return {"VIGILO_SMTP_LIBRARY=" VIGILO_SMTP_PLUGIN, "VIGILO_SMTP_CONNECT_TIMEOUT=2",
            "VIGILO_SMTP_TIMEOUT=5"};
  }

  // One --once tick. A tick that logged an error (a broken record, a mail
  // server that is down) exits with 2; what matters here is the mail.
  std::string Tick() {
    // Runs append to one run log: the tick's own entries follow the earlier runs.
    const size_t before = install_->ReadRunLog().size();
    const int status = RunServiceOnce(install_->program_dir(), Env());
    EXPECT_TRUE(status == 0 || status == 2)
        << status << " " << testing::ReadText(install_->program_dir() + "/vgservice.stderr");
    return install_->ReadRunLog().substr(before);
  }

  // Starts the daemon (no --once); returns its pid.
  pid_t Start(bool once) {
    const std::vector<std::string> env = Env();
    const pid_t pid = fork();
    if (pid == 0) {
      setenv("VIGILO_MAPI_LIBRARY", VIGILO_MAPI_PROVIDER, 1);
      unsetenv("VIGILO_HOME");
      unsetenv("NOTIFY_SOCKET");
      for (const std::string& entry : env) putenv(const_cast<char*>(entry.c_str()));
      const std::string err = install_->program_dir() + "/vgservice.stderr";
      const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (fd >= 0) {
        dup2(fd, 2);
        dup2(fd, 1);
      }
      if (once) {
        execl(VIGILO_SERVICE_PROGRAM, VIGILO_SERVICE_PROGRAM, "--once", "--home",
              install_->program_dir().c_str(), static_cast<char*>(nullptr));
      } else {
        execl(VIGILO_SERVICE_PROGRAM, VIGILO_SERVICE_PROGRAM, "--home",
              install_->program_dir().c_str(), static_cast<char*>(nullptr));
      }
      _exit(127);
    }
    return pid;
  }

  std::string Outbox() const { return vigilo::Outbox::DirectoryOf(install_->server_dir()); }
  size_t Pending() const { return vigilo::Outbox(Outbox()).List().size(); }
  std::string Data(const std::string& table) const {
    return DbaseConnection(install_->TableDir("Proj", table));
  }
  size_t FlagCount(const std::string& table) const {
    return QueryRows(Data(table), "SELECT FormID FROM " + table + "VGLS").size();
  }

  // How many messages each record number got (from the subjects).
  static std::map<long, int> PerRecord(const std::vector<test::ReceivedMail>& mail) {
    std::map<long, int> count;
    for (const auto& message : mail) {
      const size_t at = message.subject.find("Record# ");
      if (at != std::string::npos) ++count[std::atol(message.subject.c_str() + at + 8)];
    }
    return count;
  }

  std::unique_ptr<testing::TestInstallation> install_;
};

TEST_F(OutboxServerTest, BrokenRecordAmongFiveIsLoggedEachTickAndTheOthersMailedOnce) {
  test::SmtpSink sink;
  Install({Table("Bugs", 5, "Closed")}, {RuleBuilder(1).Notify("User", "bob")}, sink.port());
  BreakMemoPointer(install_->TablePath("Proj", "Bugs"), 3, "ATrail");
  for (int tick = 1; tick <= 3; ++tick) {
    const std::string log = Tick();
    EXPECT_EQ(CountOf(log, "While Retrieving Record For Notification, Rule ID : 1 , Record# 3"),
              1)
        << log;
  }
  const auto mail = sink.WaitForMessages(5, std::chrono::milliseconds(1500));
  EXPECT_EQ(PerRecord(mail), (std::map<long, int>{{1, 1}, {2, 1}, {4, 1}, {5, 1}}));
  EXPECT_EQ(FlagCount("Bugs"), 4u);
  EXPECT_EQ(Pending(), 0u);
}

TEST_F(OutboxServerTest, TwoTablesWithTheSameFormIdGiveTwoInternalMailRows) {
  test::SmtpSink sink;
  Install({Table("Bugs", 1, "Closed"), Table("Tasks", 1, "Closed")},
          {RuleBuilder(1).Notify("User", "ann"),
           RuleBuilder(2).On("Proj\\Tasks").Notify("User", "ann")},
          sink.port());
  Tick();
  std::vector<std::string> rows;
  for (const auto& row : demo::ReadRows(install_->orvkpost_table())) {
    rows.push_back(row.at("BUGNUM") + "/" + row.at("TO") + "/" + row.at("DBNAME"));
  }
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows, (std::vector<std::string>{"1/ann/Bugs.DBF", "1/ann/Tasks.DBF"}));
  EXPECT_EQ(Pending(), 0u);
}

TEST_F(OutboxServerTest, SmtpDownForThreeTicksThenUpDeliversEveryMessageOnce) {
  const int port = test::UnusedPort();
  Install({Table("Bugs", 5, "Closed")}, {RuleBuilder(1).Notify("User", "bob,ann")}, port);
  for (int tick = 1; tick <= 3; ++tick) {
    const std::string log = Tick();
    // One attempt a tick: the first failure stands for the rest.
    EXPECT_EQ(CountOf(log, "Mail delivery failed (SMTP)"), 1) << log;
  }
  EXPECT_EQ(Pending(), 5u);
  EXPECT_EQ(FlagCount("Bugs"), 5u);
  // Internal rows are written at once; only SMTP waits.
  EXPECT_EQ(demo::ReadRows(install_->orvkpost_table()).size(), 5u);

  test::SmtpSink sink(port);
  Tick();
  Tick();
  const auto mail = sink.WaitForMessages(6, std::chrono::milliseconds(1500));
  EXPECT_EQ(PerRecord(mail), (std::map<long, int>{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}}));
  EXPECT_EQ(Pending(), 0u);
  EXPECT_EQ(demo::ReadRows(install_->orvkpost_table()).size(), 5u);
}

TEST_F(OutboxServerTest, MessagePastItsLifetimeIsGivenUpWithItsLine) {
  Install({Table("Bugs", 1, "Closed")}, {RuleBuilder(4).Notify("User", "bob")}, test::UnusedPort());
  WriteProfileString(install_->vigtab_ini(), "OPTIONS", "MAIL_LIFETIME", "0");
  const std::string log = Tick();
  EXPECT_NE(log.find("Mail given up (SMTP) : Rule ID : 4 , Record# 1 : "), std::string::npos)
      << log;
  EXPECT_EQ(Pending(), 0u);
  EXPECT_EQ(FlagCount("Bugs"), 1u);
}

TEST_F(OutboxServerTest, FullDiskSendsNothingUnflaggedAndEverythingOnceAfterSpaceReturns) {
  test::SmtpSink sink;
  Install({Table("Bugs", 20, "Closed")}, {RuleBuilder(1).Notify("User", "bob")}, sink.port());
  std::filesystem::create_directories(Outbox());
  // A tiny file system for the outbox, filled up; where mounting is not
  // allowed, a file in the outbox's place refuses every write alike.
  const bool mounted = ::mount("tmpfs", Outbox().c_str(), "tmpfs", 0, "size=256k") == 0;
  if (mounted) {
    std::ofstream filler(Outbox() + "/filler", std::ios::binary);
    filler << std::string(1024 * 1024, 'x');
  } else {
    std::filesystem::remove(Outbox());
    std::ofstream(Outbox()) << "in the way";
  }
  for (int tick = 1; tick <= 2; ++tick) {
    const std::string log = Tick();
    EXPECT_EQ(CountOf(log, "Mail not queued : Rule ID : 1 , Record# "), 20) << log;
  }
  EXPECT_TRUE(sink.WaitForMessages(1, std::chrono::milliseconds(500)).empty());
  EXPECT_EQ(FlagCount("Bugs"), 0u);

  if (mounted) {
    std::filesystem::remove(Outbox() + "/filler");
  } else {
    std::filesystem::remove(Outbox());
  }
  Tick();
  Tick();
  const auto mail = sink.WaitForMessages(21, std::chrono::milliseconds(1500));
  EXPECT_EQ(mail.size(), 20u);
  for (const auto& [record, count] : PerRecord(mail)) EXPECT_EQ(count, 1) << record;
  EXPECT_EQ(FlagCount("Bugs"), 20u);
  if (mounted) ::umount(Outbox().c_str());
}

TEST_F(OutboxServerTest, StopWithMessagesPendingToASilentServerEndsWithinThirtySeconds) {
  const int down = test::UnusedPort();
  Install({Table("Bugs", 200, "Closed")}, {RuleBuilder(1).Notify("User", "bob")}, down);
  Tick();  // the server is down: 200 messages wait in the outbox
  ASSERT_EQ(Pending(), 200u);

  SilentServer silent;
  WriteProfileString(install_->morvik_ini(), "Mail", "SMTP Mail",
                     Format("1,0,127.0.0.1:%d,<>vigilo@demo.example,", silent.port()));
  const pid_t pid = Start(/*once=*/false);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const auto stop_sent = std::chrono::steady_clock::now();
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  int status = 0;
  pid_t ended = 0;
  while ((ended = ::waitpid(pid, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() - stop_sent < std::chrono::seconds(40)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (ended == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  EXPECT_EQ(ended, pid) << "the daemon did not stop";
  EXPECT_LT(std::chrono::steady_clock::now() - stop_sent, std::chrono::seconds(30));
  EXPECT_EQ(Pending(), 200u);

  test::SmtpSink sink;
  WriteProfileString(install_->morvik_ini(), "Mail", "SMTP Mail",
                     Format("1,0,%s,<>vigilo@demo.example,", sink.host_port().c_str()));
  Tick();
  const auto mail = sink.WaitForMessages(200, std::chrono::seconds(20));
  EXPECT_EQ(mail.size(), 200u);
  EXPECT_EQ(PerRecord(mail).size(), 200u);
  EXPECT_EQ(Pending(), 0u);
}

TEST_F(OutboxServerTest, KilledAtManyPointsEveryRecordIsMailedAndDuplicatesStayBelowKills) {
  test::SmtpSink sink;
  constexpr long kRecords = 500;
  Install({Table("Bugs", kRecords, "Closed")}, {RuleBuilder(1).Notify("User", "bob")}, sink.port());
  std::mt19937 random(18);
  int kills = 0;
  // Each run is killed a random while after its second message arrived: by
  // then the message a previous kill may have caught in flight (the first a
  // run delivers) is settled, so no record can be caught in flight twice.
  // The kills still fall on every phase of the batches that follow:
  // composition, outbox writes, flag inserts and delivery.
  while (kills < 24) {
    // Short enough that a fast machine cannot mail every record before the
    // kills are done.
    std::uniform_int_distribution<int> delay_ms(0, 20);
    const size_t before = sink.Count();
    const pid_t pid = Start(/*once=*/true);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool ended = false;
    while (sink.Count() < before + 2 && std::chrono::steady_clock::now() < deadline) {
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        ended = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!ended) {
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms(random)));
      if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ++kills;
        // A message the kill caught in flight may reach the sink's count only
        // now: the next run counts from where the sink has settled, so the
        // two messages it waits for are both its own.
        for (size_t seen = sink.Count(); ; ) {
          std::this_thread::sleep_for(std::chrono::milliseconds(100));
          const size_t now = sink.Count();
          if (now == seen) break;
          seen = now;
        }
        continue;
      }
    }
    if (PerRecord(sink.Messages()).size() == kRecords) {
      break;  // finished before it could be killed: nothing left to interrupt
    }
  }
  Tick();
  Tick();
  const auto mail = sink.WaitForMessages(kRecords, std::chrono::seconds(20));
  const std::map<long, int> per_record = PerRecord(mail);
  EXPECT_EQ(per_record.size(), static_cast<size_t>(kRecords));
  int duplicates = 0;
  for (const auto& [record, count] : per_record) {
    EXPECT_LE(count, 2) << "record " << record;
    duplicates += count - 1;
  }
  EXPECT_LE(duplicates, kills);
  EXPECT_GE(kills, 20);
  EXPECT_EQ(Pending(), 0u);
  EXPECT_EQ(FlagCount("Bugs"), static_cast<size_t>(kRecords));
  std::cout << "kills: " << kills << ", duplicates: " << duplicates << "\n";
}

}  // namespace
TEST_F(OutboxServerTest, DamagedOutboxFileIsQuarantinedWithALineAndItsRecordMailedOnceAgain) {
  const int port = test::UnusedPort();
  Install({Table("Bugs", 2, "Closed")}, {RuleBuilder(1).Notify("User", "bob")}, port);
  Tick();  // the server is down: both messages wait, their records flagged
  ASSERT_EQ(Pending(), 2u);
  // One file cut short, the other given a Length no body has.
  std::vector<std::filesystem::path> files;
  for (const auto& item : std::filesystem::directory_iterator(Outbox())) {
    if (item.path().extension() == ".msg") files.push_back(item.path());
  }
  ASSERT_EQ(files.size(), 2u);
  std::string text = testing::ReadText(files[0].string());
  std::ofstream(files[0], std::ios::trunc) << text.substr(0, text.size() - 5);
  text = testing::ReadText(files[1].string());
  const size_t length = text.find("Length: ");
  text.replace(length, text.find('\n', length) - length, "Length: 100000000000000000000");
  std::ofstream(files[1], std::ios::trunc) << text;

  test::SmtpSink sink(port);
  const int status = RunServiceOnce(install_->program_dir(), Env());
  EXPECT_EQ(status, 2);  // the damaged files are errors of the tick
  const std::string log = install_->ReadRunLog();
  EXPECT_EQ(CountOf(log, "Unable to deliver the outbox file "), 2) << log;
  EXPECT_EQ(CountOf(log, ", the message is composed again"), 2) << log;
  const auto mail = sink.WaitForMessages(2, std::chrono::milliseconds(1500));
  EXPECT_EQ(PerRecord(mail), (std::map<long, int>{{1, 1}, {2, 1}}));
  EXPECT_EQ(Pending(), 0u);
  EXPECT_EQ(FlagCount("Bugs"), 2u);
  EXPECT_EQ(vigilo::Outbox(Outbox()).QuarantinedNames().size(), 2u);
}

// A command's standard output and exit status.
std::string CommandOutput(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int result = ::pclose(pipe);
  *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  return out;
}

TEST_F(OutboxServerTest, VgqueueDropAndRetryBesideTheDeliveringDaemonNeitherLoseNorRepeat) {
  const int port = test::UnusedPort();
  constexpr size_t kRecords = 1000;
  Install({Table("Bugs", kRecords, "Closed")}, {RuleBuilder(1).Notify("User", "bob")}, port);
  Tick();  // the server is down: every message waits
  ASSERT_EQ(Pending(), kRecords);
  // Ticks of a hundred, so that the daemon delivers for a while.
  WriteProfileString(install_->vigtab_ini(), "OPTIONS", "MAIL_TICK_LIMIT", "100");
  test::SmtpSink sink(port);
  setenv("VIGILO_TEST_INTERVAL_SECONDS", "1", 1);
  const pid_t daemon = Start(/*once=*/false);
  unsetenv("VIGILO_TEST_INTERVAL_SECONDS");
  const std::string queue =
      std::string(VIGILO_QUEUE_PROGRAM) + " --home " + install_->program_dir();
  std::set<long> dropped;
  std::mt19937 random(28);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(45);
  int status = 0;
  while (sink.Count() + dropped.size() < kRecords &&
         std::chrono::steady_clock::now() < deadline) {
    std::vector<std::string> ids;
    std::istringstream list(CommandOutput(queue + " list", &status));
    for (std::string line; std::getline(list, line);) {
      if (line.find("  queued  ") != std::string::npos) ids.push_back(line.substr(0, line.find(' ')));
    }
    for (int i = 0; i < 3 && !ids.empty(); ++i) {
      const std::string out = CommandOutput(queue + " drop " + ids[random() % ids.size()], &status);
      const size_t at = out.find(", record ");
      if (status == 0 && at != std::string::npos) dropped.insert(std::atol(out.c_str() + at + 9));
    }
    CommandOutput(queue + " retry all", &status);
    EXPECT_EQ(status, 0);
  }
  sink.WaitForMessages(kRecords - dropped.size(), std::chrono::seconds(5));
  ::kill(daemon, SIGTERM);
  int status_of_daemon = 0;
  ::waitpid(daemon, &status_of_daemon, 0);
  const std::map<long, int> per_record = PerRecord(sink.Messages());
  EXPECT_FALSE(dropped.empty());
  const std::string log = install_->ReadRunLog();
  EXPECT_EQ(per_record.size() + dropped.size(), kRecords)
      << log.substr(log.size() > 3000 ? log.size() - 3000 : 0);
  for (const auto& [record, count] : per_record) {
    EXPECT_EQ(count, 1) << "record " << record << " arrived more than once";
    EXPECT_EQ(dropped.count(record), 0u) << "record " << record << " arrived after its drop";
  }
}

}  // namespace vigilo::e2e
