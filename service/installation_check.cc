#include "service/installation_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "common/file_system.h"
#include "common/format.h"
#include "common/ini_profile.h"
#include "common/paths.h"
#include "common/smtp_security.h"
#include "common/smtp_server.h"
#include "common/text.h"
#include "data/project_source.h"
#include "data/rule.h"
#include "data/rule_table.h"
#include "data/server_paths.h"
#include "notify/mail_settings.h"
#include "platform/loader/mail_plugins.h"
#include "platform/sql/database.h"
#include "service/mail_names_check.h"
#include "service/preview_engine.h"
#include "service/project.h"
#include "service/project_table.h"
#include "service/rule_preview.h"

namespace vigilo {
namespace {

bool Readable(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

// The enabled records of the rule table; a read failure is a problem line.
std::vector<CRule> EnabledRules(const std::string& rule_table_path,
                                std::vector<std::string>& problems) {
  std::vector<CRule> rules;
  try {
    Database db;
    db.Open(RuleTableConnection(rule_table_path), Database::kNoOdbcDialog);
    Recordset rows;
    for (rows.Open(db, LoadableRulesQuery(rule_table_path, RuleOrder::kByRuleId)); !rows.IsEOF();
         rows.MoveNext()) {
      rules.emplace_back(RuleRecordOfRow(rows));
    }
  } catch (const DbException& error) {
    problems.push_back(rule_table_path + ": cannot be read: " + DriverMessage(error));
  }
  return rules;
}

// The provider's SmtpUrl and the keys of its [Delivery] section.
void CheckProviderDelivery(const std::string& mapi_ini, std::vector<std::string>& problems) {
  const std::string url = GetProfileString(mapi_ini, kDeliverySettingsSection, "SmtpUrl", "");
  if (url.empty()) return;
  std::optional<SmtpServerAddress> server = ParseSmtpServer(url);
  if (server && server->has_credentials) {
    problems.push_back(mapi_ini + ": SmtpUrl holds credentials for " + SmtpServerDisplayName(url) +
                       ": move them to User and PasswordFile of [Delivery]");
  }
  std::string error;
  if (!ResolveSmtpCredentials(ReadSmtpSecuritySettings(mapi_ini, kDeliverySettingsSection), url,
                              &error)) {
    problems.push_back(mapi_ini + ": the provider's SMTP delivery is refused: " + error);
  }
}

void CheckMail(const CServerPaths& paths, std::vector<std::string>& problems) {
  const MapiPlugin provider = LoadMapiPlugin(paths.program_dir);
  if (provider.load.status != PluginLoad::Status::kLoaded) {
    problems.push_back("mail-system provider: cannot be loaded, the service does not start: " +
                       provider.load.error);
  }
  CheckProviderDelivery(ResolveFileCase(JoinPath(paths.program_dir, "mapi.ini")), problems);
  const std::string smtp = GetProfileString(paths.orvik_ini_path, "Mail", "SMTP Mail", "");
  if (smtp.empty()) return;
  const SmtpSetting setting = ParseSmtpSetting(smtp.substr(0, 255));
  if (Trimmed(setting.server).empty()) {
    problems.push_back(paths.orvik_ini_path + ": \"SMTP Mail\" names no server, SMTP mail is off");
  }
  if (Trimmed(setting.sender).empty()) {
    problems.push_back(paths.orvik_ini_path + ": \"SMTP Mail\" names no sender, SMTP mail is off");
  }
  const SmtpPlugin library = LoadSmtpPlugin(paths.program_dir);
  if (library.load.status != PluginLoad::Status::kLoaded) {
    problems.push_back("SMTP library: cannot be loaded, SMTP mail is off: " + library.load.error);
  }
  if (Trimmed(setting.server).empty()) return;
  std::optional<SmtpServerAddress> server = ParseSmtpServer(setting.server);
  if (server && server->has_credentials) {
    problems.push_back(paths.orvik_ini_path + ": \"SMTP Mail\" holds credentials in the server "
                       "URL for " + SmtpServerDisplayName(setting.server) +
                       ", a file every user reads: move them to User and PasswordFile of [" +
                       kSmtpSettingsSection + "] in " + paths.program_ini_path);
  }
  std::string error;
  if (!ResolveSmtpCredentials(
          ReadSmtpSecuritySettings(paths.program_ini_path, kSmtpSettingsSection), setting.server,
          &error)) {
    problems.push_back("SMTP settings refused, SMTP mail waits in the outbox: " + error);
  }
}

// Why a directory cannot be read: "PATH cannot be opened: REASON", or "".
std::string DirectoryProblem(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    return path + " cannot be opened: " + std::strerror(errno);
  }
  if (!S_ISDIR(info.st_mode)) return path + " is no directory";
  return {};
}

// The server directory holds the run log, the outbox, the engine's lock and
// the firing history: a start cannot work in one it cannot write.
void CheckServerDirectory(const CServerPaths& paths, std::vector<std::string>& problems) {
  const std::string why = DirectoryProblem(paths.server_dir);
  if (!why.empty()) {
    problems.push_back("the server directory " + why);
  } else if (Files().Access(paths.server_dir, W_OK) != 0) {
    problems.push_back(paths.server_dir + ": Vigilo cannot write in the server directory (run "
                       "log, outbox, lock): " + std::strerror(errno));
  }
}

// The reason the load gave for refusing the rule, as the run log has it.
std::string LoadRefusal(PreviewEngine& engine, const std::string& project_key,
                        const CRule& record) {
  for (const auto& project : *engine.worker().projects) {
    if (project->key() != project_key) continue;
    for (const auto& table : project->tables()) {
      const std::string reason = table->RefusalOf(record.rule_id);
      if (!reason.empty()) return reason + " (table " + table->key() + ")";
    }
  }
  return record.action + " rule that cannot be prepared (no usable assignment in its Values, "
         "or its table " + record.db_table + " cannot be used)";
}

std::string RuleLine(long rule_id, const std::string& text) {
  return Format("Rule %ld: ", rule_id) + text;
}

// The problems of one loaded rule: its table, its selection, its recipients.
void CheckLoadedRule(const PreviewEngine::Entry& entry, std::vector<std::string>& problems) {
  CProjectTable& table = *entry.table;
  const CRule& rule = *entry.rule;
  Database& db = table.project()->database();
  std::string statement = Format("SELECT FormID FROM %s", table.names().from_table.c_str());
  try {
    Recordset probe;
    probe.Open(db, statement);
    probe.Close();
  } catch (const DbException& error) {
    problems.push_back(RuleLine(rule.rule_id, "table " + table.key() + " does not resolve (" +
                                                  table.names().from_table +
                                                  "): " + DriverMessage(error)));
    return;
  }
  statement = ConditionSelection(rule.selection, table.names().qualified_table, rule.flag_select);
  try {
    Recordset rows;
    rows.Open(db, statement);
    rows.Close();
  } catch (const DbException& error) {
    problems.push_back(RuleLine(rule.rule_id, "its selection fails: " + DriverMessage(error) +
                                                  " (" + statement + ")"));
  }
  if (entry.update == nullptr && rule.target != "Field") {
    const auto& notify = static_cast<const CNotifyRule&>(rule);
    if (!notify.addresses || notify.addresses->empty()) {
      problems.push_back(RuleLine(rule.rule_id, "the recipients \"" + rule.values +
                                                    "\" resolve to nothing"));
    }
  }
}

void CheckRule(PreviewEngine& engine, const CRule& record,
               const std::vector<PreviewEngine::Entry>& loaded,
               std::vector<std::string>& problems) {
  const long id = record.rule_id;
  if (record.action != "Update" && record.action != "Notify") {
    problems.push_back(RuleLine(id, "unknown action \"" + record.action + "\""));
    return;
  }
  const std::string project_name = ProjectNameOf(record.db_table);
  const ProjectSource source =
      ResolveProjectSource(engine.settings(), record.db_type, record.dsn, project_name);
  if (record.db_type == 0 && source.directory.empty()) {
    problems.push_back(RuleLine(id, "unknown project \"" + project_name + "\" of data source \"" +
                                        record.dsn + "\" in " + engine.settings().orvik_ini_path));
    return;
  }
  if (record.db_type == 0) {
    const std::string why = DirectoryProblem(source.directory);
    if (!why.empty()) {
      problems.push_back(RuleLine(id, "the directory of project \"" + project_name + "\" " + why));
      return;
    }
  }
  if (source.connection_string.empty()) {
    problems.push_back(RuleLine(id, "no login information for data source \"" + record.dsn +
                                        "\" in " + engine.settings().orvik_ini_path));
    return;
  }
  auto found = std::find_if(loaded.begin(), loaded.end(), [id](const PreviewEngine::Entry& e) {
    return e.rule->rule_id == id;
  });
  if (found != loaded.end()) {
    CheckLoadedRule(*found, problems);
    return;
  }
  const std::string key = ProjectKey(record.db_type, record.dsn, project_name);
  for (const auto& project : *engine.worker().projects) {
    if (project->key() != key) continue;
    if (!project->OpenProject()) {
      problems.push_back(RuleLine(id, "project " + key + " cannot be opened"));
      return;
    }
  }
  problems.push_back(RuleLine(id, "refused at load: " + LoadRefusal(engine, key, record)));
}

}  // namespace

std::vector<std::string> CheckInstallation() {
  std::vector<std::string> problems;
  const bool written_back = DefaultsWrittenBack();
  SetDefaultsWrittenBack(false);
  {
    CServerPaths paths;
    if (std::filesystem::exists(paths.program_ini_path) && !Readable(paths.program_ini_path)) {
      problems.push_back(paths.program_ini_path + ": cannot be read");
    }
    CheckServerDirectory(paths, problems);
    if (!Readable(paths.orvik_ini_path)) {
      problems.push_back(paths.orvik_ini_path + ": cannot be read");
    }
    CheckMail(paths, problems);
    if (!Readable(paths.rule_table_path)) {
      problems.push_back(paths.rule_table_path + ": cannot be read");
    } else {
      const std::vector<CRule> records = EnabledRules(paths.rule_table_path, problems);
      CheckMailNames(paths, records, problems);
      std::ostringstream quiet;
      PreviewEngine engine(/*changes_nothing=*/true, quiet, /*quiet=*/true);
      std::string why;
      if (!engine.Load(&why)) {
        problems.push_back(paths.rule_table_path + ": " + why);
      } else {
        const std::vector<PreviewEngine::Entry> loaded = engine.Rules({});
        for (const CRule& record : records) CheckRule(engine, record, loaded, problems);
      }
    }
  }
  SetDefaultsWrittenBack(written_back);
  return problems;
}

int RunInstallationCheck(std::ostream& out) {
  const std::vector<std::string> problems = CheckInstallation();
  for (const std::string& line : problems) out << line << "\n";
  return problems.empty() ? 0 : 1;
}

}  // namespace vigilo
