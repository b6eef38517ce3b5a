// The daemon delivers to test servers that speak TLS (with a certificate the
// test made) and want a login; a password never shows where others can read.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/format.h"
#include "common/ini_profile.h"
#include "notify/outbox.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/smtp_sink.h"
#include "tools/demo/installation_writer.h"

namespace vigilo::e2e {
namespace {

namespace fs = std::filesystem;
using demo::InstallationDescription;
using demo::RecordDescription;
using demo::RuleDescription;
using demo::TableDescription;
using test::SmtpSinkOptions;
using Tls = SmtpSinkOptions::Tls;

constexpr char kUser[] = "vigil";
constexpr char kPassword[] = "S3cret-Pa55";

// What a shell command writes, stdout and stderr together.
std::string OutputOf(const std::string& command) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  pclose(pipe);
  return out;
}

unsigned ModeOf(const fs::path& path) {
  return static_cast<unsigned>(fs::status(path).permissions());
}

class MailSecurityTest : public ::testing::Test {
 protected:
  MailSecurityTest() : certificate_(test::MakeTestCertificate(dir_.path())) {
    previous_umask_ = ::umask(022);
  }
  ~MailSecurityTest() override { ::umask(previous_umask_); }

  // Project Proj, table Bugs with record 1 closed, and a rule mailing bob
  // through the SMTP server `server`; [SMTP] of vigtab.ini gets `smtp`.
  void Install(const std::string& server,
               const std::vector<std::pair<std::string, std::string>>& smtp) {
    TableDescription bugs;
    bugs.name = "Bugs";
    bugs.fields = {{"Title", demo::kFieldText, 30, {}, demo::kFlagDefault, false, ""},
                   {"Status", demo::kFieldText, 10, {}, demo::kFlagDefault, true, ""}};
    bugs.records = {RecordDescription{1, "", {{"Title", "Crash"}, {"Status", "Closed"}}, "", ""}};
    RuleDescription rule;
    rule.rule_id = 1;
    rule.dsn = "ORVIK";
    rule.db_table = "Proj\\Bugs";
    rule.action = "Notify";
    rule.target = "User";
    rule.values = "bob";
    rule.cond = "(Status is (Closed))";
    InstallationDescription description;
    description.projects = {demo::ProjectDescription{"Proj", "", {bugs}}};
    description.users = {{"bob", "", 5, "bob@example.org", "Bob B."}};
    description.rules = {rule};
    description.mail.smtp_server = server;
    install_ = std::make_unique<demo::Installation>(
        demo::Installation::Write(dir_.File(Format("install%d", ++installs_)), description));
    for (const auto& [key, value] : smtp) {
      WriteProfileString(install_->vigtab_ini(), "SMTP", key, value);
    }
  }

  SmtpSinkOptions SinkOptions(Tls tls, const char* password) const {
    return {0, true, tls, certificate_, kUser, password};
  }

  std::string PasswordFile(mode_t mode, const std::string& name = "smtp.password") {
    const std::string path = dir_.File(name);
    testing::WriteText(path, std::string(kPassword) + "\n");
    ::chmod(path.c_str(), mode);
    return path;
  }

  std::string Tick(int expected_status) {
    EXPECT_EQ(RunServiceOnce(install_->program_dir(), {"VIGILO_SMTP_LIBRARY=" VIGILO_SMTP_PLUGIN,
                                                        "VIGILO_SMTP_CONNECT_TIMEOUT=2"}),
              expected_status)
        << Stderr();
    return install_->ReadRunLog();
  }
  std::string Stderr() const {
    return testing::ReadText(install_->program_dir() + "/vgservice.stderr");
  }
  std::string Tool(const std::string& program, const std::string& args) const {
    return OutputOf("VIGILO_SMTP_LIBRARY=" VIGILO_SMTP_PLUGIN
                    " VIGILO_MAPI_LIBRARY=" VIGILO_MAPI_PROVIDER " " +
                    program + " --home " + install_->program_dir() + " " + args);
  }
  std::string OutboxDir() const { return Outbox::DirectoryOf(install_->server_dir()); }
  size_t Waiting() const { return Outbox(OutboxDir()).List().size(); }

  testing::TempDir dir_;
  test::TestCertificate certificate_;
  std::unique_ptr<demo::Installation> install_;
  mode_t previous_umask_ = 022;
  int installs_ = 0;
};

// A login over STARTTLS, and implicit TLS trusting the test's certificate:
// delivered, the password sent only once the session was encrypted, and the
// files left behind under umask 022 readable by owner and group alone.
TEST_F(MailSecurityTest, DeliversOverStartTlsAndImplicitTlsLeavingPrivateFiles) {
  for (Tls tls : {Tls::kStartTls, Tls::kImplicit}) {
    test::SmtpSink sink(SinkOptions(tls, kPassword));
    Install(sink.host_port(), {{"Security", tls == Tls::kImplicit ? "tls" : ""},
                               {"User", kUser}, {"PasswordFile", PasswordFile(0640)},
                               {"CAFile", certificate_.cert_file}});
    const std::string log = Tick(0);
    ASSERT_EQ(sink.WaitForMessages(1).size(), 1u) << log << Stderr();
    EXPECT_EQ(sink.AuthLog(), "tls vigil ok\n");
    EXPECT_EQ(ModeOf(install_->run_log()), 0640u);
    for (const auto& entry : fs::directory_iterator(OutboxDir())) {
      EXPECT_EQ(ModeOf(entry.path()), 0640u) << entry.path();
      // What is kept of the delivered message holds none of its text.
      if (entry.path().extension() == ".spare") {
        EXPECT_EQ(testing::ReadText(entry.path().string()).find_first_not_of('\0'), std::string::npos);
      }
    }
  }
}

// Every way a delivery fails, and settings refused at start, are one
// run-log line naming the cause; the message waits, and the password stays
// out of the run log, stderr (which carries the journal's entries outside
// systemd), the outbox, vgqueue, --check and --dry-run.
TEST_F(MailSecurityTest, FailedDeliveriesKeepThePasswordOutOfEveryOutput) {
  test::SmtpSink wrong_password(SinkOptions(Tls::kStartTls, "other"));
  test::SmtpSink untrusted(SinkOptions(Tls::kImplicit, kPassword));
  test::SmtpSink no_starttls(SinkOptions(Tls::kNone, kPassword));
  const std::string down = Format("127.0.0.1:%d", test::UnusedPort());
  const std::vector<std::pair<std::string, std::string>> login = {
      {"User", kUser}, {"PasswordFile", PasswordFile(0600)}, {"CAFile", certificate_.cert_file}};
  constexpr char kFailed[] = "Mail delivery failed (SMTP)";
  constexpr char kRefused[] = "SMTP settings refused";

  struct Case {
    std::string server;
    std::vector<std::pair<std::string, std::string>> smtp;
    std::string cause;  // in the run-log line
    const char* line;
  };
  const std::vector<Case> cases = {
      {down, login, "127.0.0.1", kFailed},
      {Format("smtp://%s:%s@%s", kUser, kPassword, down.c_str()), {}, down, kFailed},
      {wrong_password.host_port(), login, "refused the login", kFailed},
      {untrusted.host_port(), {{"Security", "tls"}, login[0], login[1]}, "certificate", kFailed},
      {no_starttls.host_port(), login, "STARTTLS", kFailed},
      {no_starttls.host_port(),
       {{"Security", "none"}, login[0], {"PasswordFile", PasswordFile(0644, "shared.password")}},
       "shared.password: the password file may be read", kRefused},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.server + " " + each.cause);
    Install(each.server, each.smtp);
    const std::string log = Tick(each.line == kFailed ? 2 : 0);
    EXPECT_EQ(CountOf(log, each.line), 1) << log;
    EXPECT_NE(log.find(each.cause), std::string::npos) << log;
    EXPECT_EQ(Waiting(), 1u);

    const std::string check = Tool(VIGILO_SERVICE_PROGRAM, "--check");
    if (each.line == kRefused) { EXPECT_NE(check.find(each.cause), std::string::npos) << check; }
    std::string outputs = log + Stderr() + check + Tool(VIGILO_QUEUE_PROGRAM, "list") +
                          Tool(VIGILO_SERVICE_PROGRAM, "--dry-run");
    for (const auto& entry : fs::recursive_directory_iterator(OutboxDir())) {
      if (entry.is_regular_file()) outputs += testing::ReadText(entry.path().string());
    }
    EXPECT_EQ(outputs.find(kPassword), std::string::npos) << outputs;
  }
  EXPECT_EQ(untrusted.AuthLog() + no_starttls.AuthLog(), "");
}

}  // namespace
}  // namespace vigilo::e2e
