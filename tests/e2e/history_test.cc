// The firing history, --history, --explain and the metrics file end to end:
// the daemon runs ticks (vgservice --once) that mail through a real SMTP
// server, have a recipient refused, fail a delivery and update records; the
// read-only commands then run on the same installation.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>

#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/ini_profile.h"
#include "data/rule.h"
#include "tests/e2e/e2e_support.h"
#include "tests/e2e/server_project.h"
#include "tests/support/rule_builder.h"
#include "tests/support/smtp_sink.h"
#include "tests/support/test_installation.h"

namespace vigilo::e2e {
namespace {

using demo::FieldDescription;
using demo::RecordDescription;
using demo::RuleDescription;
using testing::InstallationBuilder;
using testing::RuleBuilder;
using testing::TestInstallation;

struct Output {
  int status = -1;
  std::string out;
};

// Runs vgservice with the arguments on the installation; stdout and stderr
// are returned together.
Output Vgservice(const std::string& program_dir, const std::vector<std::string>& args) {
  const std::string path = program_dir + "/command.out";
  const pid_t pid = fork();
  if (pid == 0) {
    unsetenv("VIGILO_HOME");
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    dup2(fd, 2);
    std::vector<const char*> argv{VIGILO_SERVICE_PROGRAM, "--home", program_dir.c_str()};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    execv(VIGILO_SERVICE_PROGRAM, const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, testing::ReadText(path)};
}

// The value of one field of a JSON line written by vgservice (strings and
// numbers, no nesting needed here).
std::string Field(const std::string& json, const std::string& name) {
  const std::regex pattern("\"" + name + "\":(\"((?:[^\"\\\\]|\\\\.)*)\"|-?[0-9]+|true|false)");
  std::smatch match;
  if (!std::regex_search(json, match, pattern)) return "<absent>";
  return match[2].matched ? match[2].str() : match[1].str();
}

// "rule/record/outcome" of each JSON line, in the order listed.
std::vector<std::string> Outcomes(const std::string& lines) {
  std::vector<std::string> rows;
  std::istringstream in(lines);
  for (std::string line; std::getline(in, line);) {
    rows.push_back(Field(line, "rule") + "/" + Field(line, "record") + "/" +
                   Field(line, "outcome"));
  }
  return rows;
}

// A Prometheus text-format parser: every sample line "name{labels} value"
// checked against the grammar, every family announced by TYPE before its
// samples; samples keyed by name and label text.
std::map<std::string, double> ParseMetrics(const std::string& text) {
  std::map<std::string, double> samples;
  std::map<std::string, std::string> types;
  const std::regex type_line(R"(# TYPE ([a-zA-Z_:][a-zA-Z0-9_:]*) (counter|gauge))");
  const std::regex help_line(R"(# HELP ([a-zA-Z_:][a-zA-Z0-9_:]*) .*)");
  const std::regex sample_line(
      R"re(([a-zA-Z_:][a-zA-Z0-9_:]*)(\{([a-zA-Z_][a-zA-Z0-9_]*="[^"\\]*",?)*\})? (-?[0-9.eE+]+))re");
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::smatch match;
    if (std::regex_match(line, match, type_line)) {
      types[match[1]] = match[2];
    } else if (std::regex_match(line, match, help_line)) {
      continue;
    } else if (std::regex_match(line, match, sample_line)) {
      EXPECT_TRUE(types.count(match[1])) << "no TYPE before " << line;
      if (types[match[1]] == "counter") { EXPECT_GE(std::stod(match[4]), 0) << line; }
      EXPECT_EQ(samples.count(match[1].str() + match[2].str()), 0u) << "twice: " << line;
      samples[match[1].str() + match[2].str()] = std::stod(match[4]);
    } else {
      ADD_FAILURE() << "not in the text format: '" << line << "'";
    }
  }
  return samples;
}

// Size and modification time of every file below a directory.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return files;
  while (dirent* entry = readdir(d)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || name == "command.out") continue;
    const std::string path = dir + "/" + name;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      for (const auto& [inner, what] : Snapshot(path)) files[inner] = what;
    } else {
      files[path] = Format("%lld/%lld.%09ld", static_cast<long long>(st.st_size),
                           static_cast<long long>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec);
    }
  }
  closedir(d);
  return files;
}

class HistoryTest : public ::testing::Test {
 protected:
  void Install(std::vector<RuleDescription> rules, const std::string& smtp_server = "") {
    demo::TableDescription bugs;
    bugs.name = "Bugs";
    bugs.fields = {
        FieldDescription{"Status", demo::kFieldText, 10, {}, demo::kFlagDefault, true, ""},
        FieldDescription{"Owner", demo::kFieldUser, 20, {}, demo::kFlagDefault, true, ""},
        FieldDescription{"Priority", demo::kFieldNumber, 0, {}, demo::kFlagDefault, true, ""},
        FieldDescription{"Resolution", demo::kFieldText, 20, {}, demo::kFlagDefault, false, ""},
    };
    for (long id = 1; id <= 3; ++id) {
      bugs.records.push_back(RecordDescription{
          id, "", {{"Status", "Open"}, {"Owner", id == 2 ? "ann" : "bob"}, {"Priority", "3"}},
          "", ""});
    }
    InstallationBuilder builder;
    builder.Project({"Proj", "", {bugs}})
        .Users({{"bob", "", 5, "bob@example.org", "Bob B."}})
        .Rules(std::move(rules))
        .Smtp(smtp_server);
    install_ = std::make_unique<TestInstallation>(std::move(builder));
    WriteProfileString(install_->vigtab_ini(), "OPTIONS", "METRICS_FILE", Metrics());
  }

  void Tick() {
    RunServiceOnce(install_->program_dir(),
                   {"VIGILO_SMTP_LIBRARY=" VIGILO_SMTP_PLUGIN, "VIGILO_SMTP_CONNECT_TIMEOUT=2"});
  }
  Output Run(const std::vector<std::string>& args) {
    return Vgservice(install_->program_dir(), args);
  }
  void Set(long form_id, const std::string& field, const std::string& value) {
    install_->SetField("Proj", "Bugs", form_id, field, value);
  }
  std::string Metrics() const { return install_->File("vigilo.prom"); }

  std::unique_ptr<TestInstallation> install_;
};

TEST_F(HistoryTest, EveryActionIsListedWithItsOutcomeAndTheMetricsMatch) {
  test::SmtpSink sink;
  Install({RuleBuilder(1).Notify("User", "bob"),
           RuleBuilder(2).Notify("Address", "reject@example.net"),
           RuleBuilder(3).Update("Resolution=Done")},
          sink.host_port());
  Tick();
  Set(1, "Status", "Closed");
  Set(2, "Status", "Closed");
  Tick();
  sink.WaitForMessages(2);

  Output json = Run({"--history", "--json"});
  ASSERT_EQ(json.status, 0) << json.out;
  std::vector<std::string> rows = Outcomes(json.out);
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows, (std::vector<std::string>{"1/1/delivered", "1/1/queued", "1/2/delivered",
                                            "1/2/queued", "2/1/queued", "2/1/refused",
                                            "2/2/queued", "2/2/refused", "3/1/updated",
                                            "3/2/updated"}));
  EXPECT_NE(json.out.find("\"recipients\":\"SMTP:bob@example.org\""), std::string::npos);
  EXPECT_NE(json.out.find("\"assignments\":\"Resolution=Done\""), std::string::npos);
  EXPECT_NE(json.out.find("550"), std::string::npos) << "the refusal's reply: " << json.out;

  // Filtered by rule and record, newest first: the refusal after the queueing.
  Output one = Run({"--history", "--rule", "2", "--record", "1", "--json"});
  EXPECT_EQ(Outcomes(one.out), (std::vector<std::string>{"2/1/refused", "2/1/queued"}));
  Output table = Run({"--history", "--table", "Bugs"});
  EXPECT_NE(table.out.find("OUTCOME"), std::string::npos);
  EXPECT_EQ(CountOf(table.out, " delivered "), 2) << table.out;
  EXPECT_EQ(Run({"--history", "--since", "yesterday"}).status, 2);
  EXPECT_EQ(Outcomes(Run({"--history", "--since", "1h", "--rule", "3", "--json"}).out).size(), 2u);

  // A delivery that fails: the server is gone.
  WriteProfileString(install_->morvik_ini(), "Mail", "SMTP Mail",
                     demo::SmtpMailValue(Format("127.0.0.1:%d", test::UnusedPort()),
                                         "vigilo@demo.example"));
  Set(3, "Status", "Closed");
  Tick();
  Output failed = Run({"--history", "--rule", "1", "--record", "3", "--json"});
  EXPECT_EQ(Outcomes(failed.out), (std::vector<std::string>{"1/3/failed", "1/3/queued"}));
  EXPECT_NE(Field(failed.out, "error"), "<absent>") << failed.out;

  // The metrics of the last tick, counted over every tick the history holds.
  std::map<std::string, double> metrics = ParseMetrics(testing::ReadText(Metrics()));
  EXPECT_EQ(metrics["vigilo_ticks_total"], 3);
  EXPECT_EQ(metrics["vigilo_notifications_total{outcome=\"delivered\"}"], 2);
  EXPECT_EQ(metrics["vigilo_notifications_total{outcome=\"refused\"}"], 2);
  EXPECT_EQ(metrics["vigilo_notifications_total{outcome=\"queued\"}"], 6);
  // Rule 2's message waited, untried, behind the server that failed for rule 1's.
  EXPECT_EQ(metrics["vigilo_notifications_total{outcome=\"failed\"}"], 1);
  EXPECT_EQ(metrics["vigilo_updates_total"], 3);
  EXPECT_EQ(metrics["vigilo_records_selected_total"], 9);
  EXPECT_EQ(metrics["vigilo_rule_actions_total{rule=\"2\",action=\"notify\",outcome=\"refused\"}"],
            2);
  EXPECT_EQ(metrics["vigilo_outbox_messages"], 2);
  EXPECT_GE(metrics["vigilo_outbox_oldest_age_seconds"], 0);
  EXPECT_GE(metrics["vigilo_errors_total"], 1);
  EXPECT_EQ(Outcomes(Run({"--history", "--json"}).out).size(), 14u);
}

TEST_F(HistoryTest, ExplainNamesTheFailingClauseTheFlagAndTheNextTick) {
  Install({RuleBuilder(5)
               .Update("Resolution=Done")
               .When("(Status is (Closed)) .AND.(Priority is (3)) .AND.(Owner is (bob))"),
           RuleBuilder(6).Update("Resolution=Changed").When("(Status is (Open->Closed))"),
           RuleBuilder(7)
               .Update("Resolution=Sql")
               .When("FROM Bugs WHERE Bugs.Priority = 3")
               .Flag(kRuleFlagSqlCondition),
           RuleBuilder(8).Update("Resolution=X").When("(Stauts is (Closed))")});
  install_->ChangeField("Proj", "Bugs", 1, "Status", "Closed", "jsmith");
  Set(2, "Status", "Closed");
  const auto before = Snapshot(install_->File(""));

  Output fires = Run({"--explain", "5", "1"});
  ASSERT_EQ(fires.status, 0) << fires.out;
  EXPECT_EQ(CountOf(fires.out, "     holds\n"), 3) << fires.out;
  EXPECT_NE(fires.out.find("Next tick: update the record"), std::string::npos) << fires.out;

  Output fails = Run({"--explain", "5", "2", "--json"});
  EXPECT_EQ(Field(fails.out, "holds"), "true") << "the first clause: " << fails.out;
  EXPECT_NE(fails.out.find("{\"clause\":\"AND (Owner is (bob))\""), std::string::npos)
      << fails.out;
  EXPECT_NE(fails.out.find("\"column\":\"Owner\",\"values\":[\"ann\"],\"holds\":false}"),
            std::string::npos)
      << fails.out;
  EXPECT_NE(fails.out.find("],\"record_found\":true,\"holds\":false,\"flagged\":false"),
            std::string::npos)
      << fails.out;

  Output change = Run({"--explain", "6", "1"});
  EXPECT_NE(change.out.find("Status: Open -> Closed"), std::string::npos) << change.out;
  EXPECT_NE(change.out.find("The condition holds"), std::string::npos) << change.out;
  Output sql = Run({"--explain", "7", "3", "--json"});
  EXPECT_NE(sql.out.find("\"sql_form\":true"), std::string::npos) << sql.out;
  EXPECT_NE(sql.out.find("\"holds\":true"), std::string::npos) << sql.out;

  Output refused = Run({"--explain", "8", "1"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.out.find("Rule refused ( Rule ID : 8 )"), std::string::npos) << refused.out;
  EXPECT_NE(refused.out.find("Stauts"), std::string::npos) << refused.out;
  EXPECT_EQ(Snapshot(install_->File("")), before) << "explain wrote to the installation";

  // After a tick the record is flagged: it does not fire again.
  Tick();
  Output flagged = Run({"--explain", "5", "1"});
  EXPECT_NE(flagged.out.find("The record is flagged for the rule."), std::string::npos)
      << flagged.out;
  EXPECT_NE(flagged.out.find("Next tick: nothing: the record is flagged"), std::string::npos);
  EXPECT_NE(flagged.out.find("update updated Resolution=Done"), std::string::npos)
      << "the last action: " << flagged.out;
}

class ServerHistoryTest : public ServerProjectTest {};

TEST_F(ServerHistoryTest, ExplainReadsAClientServerProject) {
  CreateProject("FormID int, Status varchar(10), Priority int, Resolution varchar(20)",
                "INSERT INTO proj.bugs VALUES (1,'Closed',3,''),(2,'Closed',4,'');");
  TestInstallation install{std::move(InstallationBuilder().Rules(
      {RuleBuilder(1)
           .OnServer()
           .Update("Resolution=Done")
           .When("(Status is (Closed)) AND (Priority is (3))")}))};
  WriteServerTable(install, {{"Status", demo::kFieldText, 10, {}, demo::kFlagDefault, true, ""},
                             {"Priority", demo::kFieldNumber, 0, {}, demo::kFlagDefault, true, ""},
                             {"Resolution", demo::kFieldText, 20, {}, demo::kFlagDefault, false,
                              ""}});
  const std::string flags_before = Sql("SELECT count(*) FROM pg_tables WHERE schemaname='proj'");

  Output two = Vgservice(install.program_dir(), {"--explain", "1", "2", "--json"});
  ASSERT_EQ(two.status, 0) << two.out;
  EXPECT_NE(two.out.find("\"column\":\"Priority\",\"values\":[\"4\"],\"holds\":false"),
            std::string::npos)
      << two.out;
  EXPECT_NE(two.out.find("\"record_found\":true,\"holds\":false"), std::string::npos) << two.out;
  Output one = Vgservice(install.program_dir(), {"--explain", "1", "1"});
  EXPECT_NE(one.out.find("Next tick: update the record"), std::string::npos) << one.out;
  EXPECT_EQ(Sql("SELECT count(*) FROM pg_tables WHERE schemaname='proj'"), flags_before);
}

}  // namespace
}  // namespace vigilo::e2e
