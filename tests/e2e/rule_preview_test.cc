// The dry run and "start from now" end to end: vgservice --dry-run on a
// generated installation tells exactly what the following real tick does and
// leaves every file as it was; --mark-current flags what meets a rule now so
// that only records that newly meet it are acted on.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/format.h"
#include "common/ini_profile.h"
#include "data/server_paths.h"
#include "platform/sql/connection.h"
#include "platform/sql/database.h"
#include "service/installation_lock.h"
#include "service/installation_check.h"
#include "service/rule_preview.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/smtp_sink.h"
#include "tools/demo/installation_writer.h"

namespace vigilo::e2e {
namespace {

using demo::FieldDescription;
using demo::RecordDescription;
using demo::RuleDescription;
using demo::TableDescription;
using testing::RuleBuilder;

RecordDescription Bug(long id, std::string status, std::string owner = "bob") {
  return RecordDescription{id,
                           "",
                           {{"Title", Format("Bug %ld", id)},
                            {"Status", std::move(status)},
                            {"Owner", std::move(owner)}},
                           "",
                           ""};
}

// Every file below a directory with its contents.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) files[entry.path().string()] = testing::ReadText(entry.path());
  }
  return files;
}

// The FormIDs each rule's JSON line lists, by rule id.
std::map<long, std::vector<long>> ListedRecords(const std::string& json_lines) {
  std::map<long, std::vector<long>> listed;
  const std::regex rule_pattern("^\\{\"rule\":(\\d+)");
  const std::regex record_pattern("\"form_id\":(\\d+)");
  size_t start = 0;
  while (start < json_lines.size()) {
    size_t end = json_lines.find('\n', start);
    if (end == std::string::npos) end = json_lines.size();
    const std::string line = json_lines.substr(start, end - start);
    start = end + 1;
    std::smatch match;
    if (!std::regex_search(line, match, rule_pattern)) continue;
    std::vector<long>& ids = listed[std::stol(match[1])];
    for (auto it = std::sregex_iterator(line.begin(), line.end(), record_pattern);
         it != std::sregex_iterator(); ++it) {
      ids.push_back(std::stol((*it)[1]));
    }
  }
  return listed;
}

class RulePreviewTest : public ::testing::Test {
 protected:
  void Install(std::vector<RuleDescription> rules, std::vector<RecordDescription> records,
               const std::string& smtp_server) {
    TableDescription bugs;
    bugs.name = "Bugs";
    bugs.fields = {
        FieldDescription{"Title", demo::kFieldText, 30, {}, demo::kFlagDefault, false, ""},
        FieldDescription{"Status", demo::kFieldText, 10, {}, demo::kFlagDefault, true, ""},
        FieldDescription{"Owner", demo::kFieldUser, 20, {}, demo::kFlagDefault, true, ""},
        FieldDescription{"Resolution", demo::kFieldText, 20, {}, demo::kFlagDefault, false, ""},
    };
    bugs.records = std::move(records);
    testing::InstallationBuilder builder;
    demo::InstallationDescription& description = builder.description();
    description.projects = {demo::ProjectDescription{"Proj", "", {bugs}}};
    description.users = {{"ann", "", 0, "ann", "Ann A."},
                         {"bob", "", 5, "bob@example.org", "Bob B."}};
    description.rules = std::move(rules);
    description.mail.smtp_server = smtp_server;
    description.mail.smtp_sender = "vigilo@demo.example";
    install_ = std::make_unique<testing::TestInstallation>(std::move(builder));
  }

  // Runs vgservice with the arguments (and --home); returns its exit status
  // and leaves its standard output and error in *out and *err.
  int Run(const std::vector<std::string>& args, std::string* out, std::string* err) {
    const std::string out_path = install_->root() + "/run.out";
    const std::string err_path = install_->root() + "/run.err";
    const pid_t pid = fork();
    if (pid == 0) {
      setenv("VIGILO_MAPI_LIBRARY", VIGILO_MAPI_PROVIDER, 1);
      setenv("VIGILO_SMTP_LIBRARY", VIGILO_SMTP_PLUGIN, 1);
      unsetenv("VIGILO_HOME");
      const int out_fd = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out_fd, 1);
      dup2(err_fd, 2);
      std::vector<std::string> all = {VIGILO_SERVICE_PROGRAM};
      all.insert(all.end(), args.begin(), args.end());
      all.push_back("--home");
      all.push_back(install_->program_dir());
      std::vector<char*> argv;
      for (std::string& arg : all) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(VIGILO_SERVICE_PROGRAM, argv.data());
      _exit(127);
    }
    int status = 0;
    const bool exited = pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status);
    *out = testing::ReadText(out_path);
    *err = testing::ReadText(err_path);
    std::filesystem::remove(out_path);
    std::filesystem::remove(err_path);
    return exited ? WEXITSTATUS(status) : -1;
  }

  std::string Tick() {
    // Runs append to one run log: the tick's own entries follow the earlier runs.
    const size_t before = install_->ReadRunLog().size();
    EXPECT_EQ(RunServiceOnce(install_->program_dir(),
                             {"VIGILO_SMTP_LIBRARY=" VIGILO_SMTP_PLUGIN,
                              "VIGILO_SMTP_CONNECT_TIMEOUT=2"}),
              0)
        << testing::ReadText(install_->program_dir() + "/vgservice.stderr");
    std::filesystem::remove(install_->program_dir() + "/vgservice.stderr");
    return install_->ReadRunLog().substr(before);
  }

  // The dry run's listing, checked to have changed no file and sent nothing.
  std::map<long, std::vector<long>> DryRun(test::SmtpSink& sink, std::string* text = nullptr) {
    const auto before = Snapshot(install_->root());
    const size_t sent = sink.Messages().size();
    std::string out, err;
    EXPECT_EQ(Run({"--dry-run", "--json"}, &out, &err), 0) << err;
    EXPECT_EQ(Snapshot(install_->root()), before);
    EXPECT_EQ(sink.WaitForMessages(sent + 1, std::chrono::milliseconds(300)).size(), sent);
    if (text != nullptr) *text = out;
    return ListedRecords(out);
  }

  std::string Data() const { return DbaseConnection(install_->TableDir("Proj", "Bugs")); }
  // The flagged FormIDs of each rule.
  std::map<long, std::set<long>> Flags() const {
    std::map<long, std::set<long>> flags;
    for (const auto& row : QueryRows(Data(), "SELECT FormID, RuleID FROM BugsVGLS")) {
      flags[std::stol(row[1])].insert(std::stol(row[0]));
    }
    return flags;
  }
  void Set(long form_id, const std::string& field, const std::string& value) {
    install_->SetField("Proj", "Bugs", form_id, field, value);
  }

  std::unique_ptr<testing::TestInstallation> install_;
};

TEST_F(RulePreviewTest, DryRunListsWhatTheNextTickActsOnAndChangesNothing) {
  test::SmtpSink sink;
  Install({RuleBuilder(1).Notify("User", "ann,bob"), RuleBuilder(2).Update("Resolution=Done"),
           RuleBuilder(3).Notify("Field", "Owner")},
          {Bug(1, "Closed"), Bug(2, "Closed", "ann"), Bug(3, "Open")}, sink.host_port());

  // Before the first tick there is no flag table yet; the dry run does not
  // create it.
  std::string text;
  auto listed = DryRun(sink, &text);
  EXPECT_FALSE(std::filesystem::exists(install_->FlagTablePath("Proj", "Bugs")));
  EXPECT_EQ(listed, (std::map<long, std::vector<long>>{{1, {1, 2}}, {2, {1, 2}}, {3, {1, 2}}}))
      << text;
  // What each record would get: the statement, the subject and recipients.
  EXPECT_NE(text.find("{\"form_id\":1,\"value\":\"Bug 1\",\"statement\":\"UPDATE Bugs SET "
                      "Bugs.Resolution = 'Done' WHERE FormID = 1\"}"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("{\"form_id\":2,\"value\":\"Bug 2\",\"subject\":\"VIGILO Rule# 1 , "
                      "Record# 2 of 0\\\\ORVIK\\\\Proj\\\\Bugs\",\"recipients\":[\"ORVIK:ann\","
                      "\"SMTP:bob@example.org\"]}"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("{\"form_id\":2,\"value\":\"Bug 2\",\"subject\":\"VIGILO Rule# 3 , "
                      "Record# 2 of 0\\\\ORVIK\\\\Proj\\\\Bugs\",\"recipients\":[\"ORVIK:ann\"]}"),
            std::string::npos)
      << text;

  Tick();
  EXPECT_EQ(Flags(), (std::map<long, std::set<long>>{{1, {1, 2}}, {2, {1, 2}}, {3, {1, 2}}}));
  EXPECT_EQ(sink.WaitForMessages(3).size(), 3u);  // bob twice by rule 1, once by rule 3

  // Now with flags: only what newly meets the rules, while the count tells
  // how many meet them at all.
  Set(3, "Status", "Closed");
  Set(1, "Status", "Open");
  std::string plain, err;
  ASSERT_EQ(Run({"--dry-run", "--rule", "1"}, &plain, &err), 0) << err;
  EXPECT_NE(plain.find("Rule 1 (Notify) on 0\\ORVIK\\Proj\\Bugs\n"), std::string::npos) << plain;
  EXPECT_NE(plain.find("  Meeting the condition now : 2\n  Would act on              : 1\n"
                       "    FormID 3  Title : Bug 3\n"
                       "      Subject    : VIGILO Rule# 1 , Record# 3 of 0\\ORVIK\\Proj\\Bugs\n"
                       "      Recipients : ORVIK:ann,SMTP:bob@example.org\n"),
            std::string::npos)
      << plain;
  EXPECT_EQ(plain.find("Rule 2"), std::string::npos) << plain;

  const auto flags_before = Flags();
  listed = DryRun(sink);
  EXPECT_EQ(listed, (std::map<long, std::vector<long>>{{1, {3}}, {2, {3}}, {3, {3}}}));
  Tick();
  // What the tick newly flagged is what the dry run listed.
  for (auto& [rule, ids] : Flags()) {
    std::vector<long> added;
    for (long id : ids) {
      if (!flags_before.count(rule) || !flags_before.at(rule).count(id)) added.push_back(id);
    }
    EXPECT_EQ(added, listed[rule]) << "rule " << rule;
  }
}

TEST_F(RulePreviewTest, UnknownRulesAndConflictingOptionsAreRefused) {
  test::SmtpSink sink;
  Install({RuleBuilder(1).Notify("User", "bob")}, {Bug(1, "Closed")}, sink.host_port());
  std::string out, err;
  EXPECT_EQ(Run({"--dry-run", "--rule", "9"}, &out, &err), 1);
  EXPECT_NE(err.find("Rule 9 is not loaded"), std::string::npos) << err;
  EXPECT_EQ(Run({"--mark-current", "9"}, &out, &err), 1);
  EXPECT_NE(err.find("Rule 9 is not loaded"), std::string::npos) << err;
  EXPECT_EQ(Run({"--mark-current"}, &out, &err), 1);
  EXPECT_EQ(Run({"--dry-run", "--once"}, &out, &err), 2);
}

TEST_F(RulePreviewTest, MarkCurrentStartsTheRuleFromNow) {
  test::SmtpSink sink;
  std::vector<RecordDescription> records;
  for (long id = 1; id <= 1000; ++id) records.push_back(Bug(id, "Closed"));
  Install({RuleBuilder(7).Notify("User", "bob")}, std::move(records), sink.host_port());

  std::string out, err;
  {
    // Another engine runs on the installation: refused, nothing flagged.
    InstallationLock other;
    std::string why;
    ASSERT_TRUE(other.Acquire(InstallationLock::PathFor(install_->server_dir()), &why)) << why;
    EXPECT_EQ(Run({"--mark-current", "7"}, &out, &err), 1);
    EXPECT_NE(err.find(kInstallationLockFile), std::string::npos) << err;
  }
  ASSERT_EQ(Run({"--mark-current", "7"}, &out, &err), 0) << err;
  EXPECT_EQ(out, "Rule 7: 1000 records marked as already handled\n");
  EXPECT_EQ(Flags()[7].size(), 1000u);

  std::string log = Tick();
  EXPECT_EQ(CountOf(log, "Sending notification( Rule ID : 7"), 0) << log;
  EXPECT_EQ(sink.WaitForMessages(1, std::chrono::milliseconds(500)).size(), 0u);

  install_->AppendRecord("Proj", "Bugs", Bug(1001, "Closed"));
  log = Tick();
  EXPECT_EQ(CountOf(log, "Sending notification( Rule ID : 7"), 1) << log;
  const auto mail = sink.WaitForMessages(1);
  ASSERT_EQ(mail.size(), 1u);
  EXPECT_EQ(mail[0].subject, "VIGILO Rule# 7 , Record# 1001 of 0\\ORVIK\\Proj\\Bugs");
}

// Fails every flag insertion, as a full disk or a lost server would.
class FailingFlagInserts : public sql::Connection {
 public:
  explicit FailingFlagInserts(std::unique_ptr<sql::Connection> inner) : inner_(std::move(inner)) {}
  long Execute(const std::string& statement) override {
    if (statement.rfind("INSERT INTO", 0) == 0) throw DbException("disk full");
    return inner_->Execute(statement);
  }
  std::unique_ptr<sql::Cursor> Query(const std::string& statement) override {
    return inner_->Query(statement);
  }
  bool IsDbase() const override { return inner_->IsDbase(); }

 private:
  std::unique_ptr<sql::Connection> inner_;
};

TEST_F(RulePreviewTest, MarkCurrentThatCannotFlagTheRecordsFails) {
  std::vector<RecordDescription> records;
  for (long id = 1; id <= 10; ++id) records.push_back(Bug(id, "Closed"));
  Install({RuleBuilder(7).Notify("User", "bob")}, std::move(records), "");
  SetProgramDirectory(install_->program_dir());
  sql::SetConnectionFactory([](const std::string& connection_string) {
    return std::make_unique<FailingFlagInserts>(sql::OpenDefaultConnection(connection_string));
  });
  std::ostringstream out, err;
  const int status = RunMarkCurrent({7}, out, err);
  sql::SetConnectionFactory(nullptr);
  SetProgramDirectory("");
  EXPECT_EQ(status, 1);
  EXPECT_EQ(out.str(), "");
  EXPECT_NE(err.str().find("Rule 7: the records could not all be marked as already handled"),
            std::string::npos)
      << err.str();
  EXPECT_NE(err.str().find("disk full"), std::string::npos) << err.str();
}

// --- vgservice --check ---

TEST_F(RulePreviewTest, CheckOnAGoodInstallationPrintsNothing) {
  test::SmtpSink sink;
  Install({RuleBuilder(1).Notify("User", "ann,bob"), RuleBuilder(2).Update("Resolution=Done")},
          {Bug(1, "Closed")}, sink.host_port());
  const auto before = Snapshot(install_->root());
  std::string out, err;
  EXPECT_EQ(Run({"--check"}, &out, &err), 0) << out << err;
  EXPECT_EQ(out, "");
  EXPECT_EQ(Snapshot(install_->root()), before);
  EXPECT_FALSE(std::filesystem::exists(install_->FlagTablePath("Proj", "Bugs")));
}

TEST_F(RulePreviewTest, CheckNamesEachProblemWithItsRuleOrFile) {
  test::SmtpSink sink;
  RuleDescription unknown_project = RuleBuilder(3).Notify("User", "bob");
  unknown_project.db_table = "Nowhere\\Bugs";
  RuleDescription no_login = RuleBuilder(4).Notify("User", "bob");
  no_login.db_type = 1;
  no_login.dsn = "BUGSRV";
  RuleDescription missing_table = RuleBuilder(5).Notify("User", "bob");
  missing_table.db_table = "Proj\\Missing";
  RuleDescription no_field = RuleBuilder(8).Update("Resolution=x");
  no_field.cond = "(Statsu is (Closed))";
  RuleDescription gone_directory = RuleBuilder(9).Notify("User", "bob");
  gone_directory.db_table = "Gone\\Bugs";
  Install({RuleBuilder(1).Notify("User", "bob"), unknown_project, no_login, missing_table,
           RuleBuilder(6).Notify("User", ""), RuleBuilder(7).Action("Delete"), no_field,
           gone_directory},
          {Bug(1, "Closed")}, sink.host_port());
  WriteProfileString(install_->morvik_ini(), "Mail", "SMTP Mail", "x,y,,vigilo@demo.example,");
  WriteProfileString(install_->morvik_ini(), "Orvik Dsn", "Gone", install_->root() + "/gone");
  const auto before = Snapshot(install_->root());

  std::string out, err;
  EXPECT_EQ(Run({"--check"}, &out, &err), 1) << err;
  const std::vector<std::string> expected_starts = {
      install_->morvik_ini() + ": \"SMTP Mail\" names no server",
      "Rule 3: unknown project \"Nowhere\" of data source \"ORVIK\"",
      "Rule 4: no login information for data source \"BUGSRV\"",
      // A table that does not resolve has no fields, so the rule's check at
      // load already refuses it.
      "Rule 5: ",
      "Rule 6: the recipients \"\" resolve to nothing",
      "Rule 7: unknown action \"Delete\"",
      "Rule 8: refused at load: ",
      "Rule 9: the directory of project \"Gone\" " + install_->root() +
          "/gone cannot be opened: No such file or directory",
  };
  std::vector<std::string> lines;
  for (size_t start = 0, end; start < out.size(); start = end + 1) {
    end = out.find('\n', start);
    lines.push_back(out.substr(start, end - start));
  }
  ASSERT_EQ(lines.size(), expected_starts.size()) << out;
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].rfind(expected_starts[i], 0), 0u) << lines[i];
  }
  // The refusal names what the load's run-log line names.
  EXPECT_NE(lines[6].find("Statsu"), std::string::npos) << lines[6];
  EXPECT_EQ(Snapshot(install_->root()), before);

  // A server directory the service cannot write in is a problem.
  SetProgramDirectory(install_->program_dir());
  std::vector<std::string> problems;
  {
    testing::FaultyFileSystem files;
    files.MakeReadOnly(install_->server_dir());
    problems = CheckInstallation();
  }
  SetProgramDirectory("");
  EXPECT_NE(std::find(problems.begin(), problems.end(),
                      install_->server_dir() + ": Vigilo cannot write in the server directory "
                                               "(run log, outbox, lock): Permission denied"),
            problems.end());

  // A rule table that cannot be read is named.
  std::filesystem::remove(install_->rule_table());
  EXPECT_EQ(Run({"--check"}, &out, &err), 1);
  EXPECT_NE(out.find(install_->rule_table() + ": cannot be read\n"), std::string::npos) << out;
}

TEST_F(RulePreviewTest, CheckNamesAProviderProfileMissingFromMapiIniAndAnUnknownGroup) {
  test::SmtpSink sink;
  Install({RuleBuilder(1).Notify("Group", "nosuchgroup")}, {Bug(1, "Closed")}, sink.host_port());
  // As the packaged mapi.ini: the profile line is not there.
  WriteProfileString(install_->morvik_ini(), "Mail", "MAPI Mail",
                     demo::MapiMailValue("Nobody", "secret"));
  std::string out, err;
  EXPECT_EQ(Run({"--check"}, &out, &err), 1) << err;
  EXPECT_NE(out.find("mapi.ini: the profile \"Nobody\" that \"MAPI Mail\" of "),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("Rule 1: the group \"nosuchgroup\" does not exist"), std::string::npos)
      << out;
}

}  // namespace
}  // namespace vigilo::e2e
