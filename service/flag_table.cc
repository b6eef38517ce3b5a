// The flag table of a watched table: what makes a rule fire once per record
// each time the record comes to meet the condition. Stale pairs are dropped
// before each selection, new pairs are written after the rule has acted.
#include "service/flag_table.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "common/file_system.h"
#include "common/format.h"
#include "common/paths.h"
#include "common/text.h"
#include "data/activity.h"
#include "data/log_stream.h"
#include "data/database_kind.h"
#include "platform/sql/database.h"
#include "service/project.h"
#include "service/project_table.h"
#include "service/update_statement.h"

namespace vigilo {

bool IsFileFromName(int32_t db_type, const std::string& from_name) {
  return db_type == kDbaseKind && from_name.find(" AS ", 1) != std::string::npos;
}

std::string CreateFlagTableStatement(int32_t db_type, const std::string& project,
                                     const TableNames& names) {
  std::string target = names.from_flag;
  if (IsFileFromName(db_type, target)) target = target.substr(0, target.find(" AS ", 1));
  const size_t dot = names.qualified_flag.rfind('.');
  const std::string suffix =
      dot == std::string::npos ? names.qualified_flag : names.qualified_flag.substr(dot + 1);
  // Record numbers pass 2^31 on servers; a dBase INT column (N 11) already
  // holds every number a dBase FormID field can.
  const char* form_id_type = db_type == 0 ? "INT" : "NUMERIC(19)";
  return Format(
      "CREATE TABLE %s (FormID %s, RuleID INT, CONSTRAINT pk_%s%s PRIMARY KEY (FormID, RuleID))",
      target.c_str(), form_id_type, project.c_str(), suffix.c_str());
}

std::string StaleFlagsStatement(const CRule& rule, const TableNames& names) {
  const long rule_id = rule.rule_id;
  if (rule.uses_chnghist) {
    return Format(
        "DELETE FROM %s WHERE FormID NOT IN (SELECT DISTINCT %s.FormID FROM %s WHERE %s.FormID "
        "=%s.FormID AND %s) AND RuleID =%ld",
        names.from_flag.c_str(), names.qualified_table.c_str(), rule.from_list.c_str(),
        names.qualified_table.c_str(), names.qualified_change_history.c_str(),
        rule.where_condition.c_str(), rule_id);
  }
  return Format(
      "DELETE FROM %s WHERE FormID NOT IN (SELECT DISTINCT %s.FormID FROM %s WHERE %s) AND "
      "RuleID =%ld",
      names.from_flag.c_str(), names.qualified_table.c_str(), rule.from_list.c_str(),
      rule.where_condition.c_str(), rule_id);
}

std::string FlagInsertTarget(int32_t db_type, const TableNames& names) {
  if (IsFileFromName(db_type, names.from_flag)) {
    return Format("\"%s/%s.DBF\"", names.directory.c_str(), names.flag.c_str());
  }
  return names.qualified_flag;
}

std::string FlagInsertStatement(const std::string& target, long form_id, int32_t rule_id) {
  return Format("INSERT INTO %s(FormID,RuleID) VALUES(%ld,%d)", target.c_str(), form_id,
                static_cast<int>(rule_id));
}

std::string ParameterizedFlagInsertStatement(const std::string& target, int32_t rule_id) {
  return Format("INSERT INTO %s(FormID,RuleID) VALUES(?,%d)", target.c_str(),
                static_cast<int>(rule_id));
}

std::string FlagInsertStatement(const std::string& target, const std::vector<long long>& form_ids,
                                int32_t rule_id) {
  std::string statement = Format("INSERT INTO %s(FormID,RuleID) VALUES", target.c_str());
  for (size_t i = 0; i < form_ids.size(); ++i) {
    statement += Format("%s(%ld,%d)", i == 0 ? "" : ",", static_cast<long>(form_ids[i]),
                        static_cast<int>(rule_id));
  }
  return statement;
}

int CProjectTable::ProbeFlagTable() {
  Database& db = project()->database();
  if (!db.IsOpen()) return 0;
  const std::string probe_statement = Format("SELECT FormID FROM %s", names().from_flag.c_str());
  try {
    Recordset probe;
    probe.Open(db, probe_statement);
    flag_form_id_limit_ = probe.LargestWholeNumber(0);
    probe_error_.clear();
    return 1;
  } catch (const DbException& error) {
    probe_error_ = DriverMessage(error);
    return 0;
  }
}

std::string CProjectTable::FlagTableFile() const {
  if (project()->db_type() != kDbaseKind || names().flag.empty()) return {};
  return ResolveFileCase(names().directory + "/" + names().flag + ".DBF");
}

FlagFileState InspectFlagFile(const std::string& path) {
  UniqueFd fd(Files().Open(path, O_RDONLY));
  if (!fd.valid()) return errno == ENOENT ? FlagFileState::kMissing : FlagFileState::kDamaged;
  struct stat info;
  if (Files().Stat(fd.get(), &info) != 0) return FlagFileState::kDamaged;
  // A table's header is 32 bytes, then its field descriptors up to the
  // length the header states: a creation cut short leaves less.
  char head[32];
  if (info.st_size < static_cast<off_t>(sizeof head) ||
      ReadFullAt(fd.get(), head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) {
    return FlagFileState::kHeaderless;
  }
  // Blocks the file system gave the file before a crash let its data be
  // written read as zeros.
  if (std::all_of(head, head + sizeof head, [](char c) { return c == '\0'; })) {
    return FlagFileState::kHeaderless;
  }
  const unsigned header_length =
      static_cast<unsigned char>(head[8]) | static_cast<unsigned char>(head[9]) << 8;
  return info.st_size < static_cast<off_t>(header_length) ? FlagFileState::kHeaderless
                                                          : FlagFileState::kWhole;
}

bool CProjectTable::RemoveFlagFile(const std::string& path, const std::string& keep_as,
                                   std::string* why) {
  const bool moved = keep_as.empty() ? Files().Unlink(path) == 0
                                     : Files().Rename(path, keep_as) == 0;
  if (!moved && errno != ENOENT) {
    if (why != nullptr) *why = FileErrorText(path, "cannot be moved aside", errno);
    return false;
  }
  return true;
}

void CProjectTable::LogUnusableFlagTable() {
  if (log == nullptr) return;
  log->Write(Format("Unable to use the flag table %s of table %s : %s\r\n"
                    "    Its rules wait until it is repaired or rebuilt "
                    "(vgservice --rebuild-flags %s)\r\n\r\n",
                    names().flag.c_str(), key().c_str(), probe_error_.c_str(),
                    TableArgument().c_str()));
}

std::string CProjectTable::TableArgument() const {
  return project()->name() + "\\" + name();
}

int CProjectTable::EnsureFlagTable() {
  Database& db = project()->database();
  if (!db.IsOpen()) return 0;
  // A missing table is the expected case here: it is created below.
  if (ProbeFlagTable()) {
    flag_table_ready_ = true;
    return 1;
  }
  const std::string file = FlagTableFile();
  if (!file.empty()) {
    switch (InspectFlagFile(file)) {
      case FlagFileState::kMissing:
        break;
      case FlagFileState::kHeaderless: {
        // Nothing was ever flagged in it: a creation cut short (a full disk,
        // a crash) left it, and creating it again loses nothing.
        if (log != nullptr) {
          log->Write(Format("Flag table %s of table %s has no whole header, left by an "
                            "interrupted creation: it is created again\r\n",
                            file.c_str(), key().c_str()));
        }
        std::string why;
        if (!RemoveFlagFile(file, "", &why)) {
          probe_error_ = why;
          LogUnusableFlagTable();
          return 0;
        }
        break;
      }
      case FlagFileState::kWhole:
      case FlagFileState::kDamaged:
        // Its flags are what keeps records from firing twice: never
        // replaced without the administrator.
        LogUnusableFlagTable();
        return 0;
    }
  }
  const std::string statement =
      CreateFlagTableStatement(project()->db_type(), project()->name(), names());
  try {
    db.ExecuteSQL(statement);
  } catch (const DbException& error) {
    LogDbError(&error, "While Creating Flag Table", statement);
    return 0;
  }
  flag_table_ready_ = true;
  try {
    Recordset probe;
    probe.Open(db, Format("SELECT FormID FROM %s", names().from_flag.c_str()));
    flag_form_id_limit_ = probe.LargestWholeNumber(0);
  } catch (const DbException&) {
    // Created but not readable yet: the limit stays unknown, and a number
    // the field cannot hold fails its insert with a logged error.
  }
  return 1;
}

bool CProjectTable::FlagTableReady() {
  if (flag_table_ready_) return true;
  return EnsureFlagTable() != 0;
}

int CProjectTable::RebuildFlagTable(std::string* why) {
  Database& db = project()->database();
  if (!db.IsOpen()) {
    *why = "the project database cannot be opened";
    return 0;
  }
  const std::string file = FlagTableFile();
  if (!file.empty()) {
    // The damaged file is kept beside for whoever wants to look at it.
    if (!RemoveFlagFile(file, file + ".damaged", why)) return 0;
    const std::string key_file = file.substr(0, file.rfind('.')) + ".pk";
    RemoveFlagFile(key_file, "", nullptr);
  } else {
    try {
      db.ExecuteSQL("DROP TABLE " + names().qualified_flag);
    } catch (const DbException&) {
      // Missing, or unreadable for the server too: the creation tells.
    }
  }
  flag_table_ready_ = false;
  const std::string statement =
      CreateFlagTableStatement(project()->db_type(), project()->name(), names());
  try {
    db.ExecuteSQL(statement);
  } catch (const DbException& error) {
    *why = DriverMessage(error) + " (" + statement + ")";
    return 0;
  }
  flag_table_ready_ = ProbeFlagTable() != 0;
  if (!flag_table_ready_) *why = probe_error_;
  return flag_table_ready_ ? 1 : 0;
}

bool CProjectTable::FitsFlagTable(const CRule& rule, long form_id) {
  if (!flag_form_id_limit_ || form_id <= *flag_form_id_limit_) return true;
  // Acted on but never flagged, the record would fire at every tick; a
  // wrapped number would flag another record.
  if (unfit_reported_.insert({rule.rule_id, form_id}).second && log != nullptr) {
    log->Write(Format("Record %ld of table %s does not fit the FormID field of its flag table "
                      "(at most %ld); Rule ID : %ld leaves it alone\r\n",
                      form_id, key().c_str(), static_cast<long>(*flag_form_id_limit_),
                      static_cast<long>(rule.rule_id)));
  }
  return false;
}

std::string CProjectTable::FindNewRecords(const CRule& rule) {
  Database& db = project()->database();
  if (!db.IsOpen()) return {};
  std::string statement = StaleFlagsStatement(rule, names());
  bool on_flags = true;
  try {
    db.ExecuteSQL(statement);
    on_flags = false;
    statement = rule.selection;
    std::string list;
    Recordset records;
    for (records.Open(db, statement); !records.IsEOF(); records.MoveNext()) {
      const long form_id = static_cast<long>(records.GetInt64(0));
      if (!FitsFlagTable(rule, form_id)) continue;
      list += Format(",%ld", form_id);
    }
    records.Close();
    if (!list.empty()) list.erase(0, 1);
    if (ActivityObserver* activity = CurrentActivity()) {
      activity->OnSelected(rule.rule_id,
                           list.empty() ? 0 : 1 + std::count(list.begin(), list.end(), ','));
    }
    return list;
  } catch (const DbException& error) {
    LogDbError(&error,
               Format("While Retrieving RecordIDs, Rule ID : %ld", static_cast<long>(rule.rule_id)),
               statement);
    // The flag table may have been damaged since the start: the next tick
    // looks at it again before the rules run, and names the repair.
    if (on_flags) flag_table_ready_ = false;
    return {};
  }
}

FlagBatchResult InsertFlagBatch(CProjectTable& table, const std::vector<long long>& form_ids,
                                int32_t rule_id) {
  Database& db = table.project()->database();
  const std::string target = FlagInsertTarget(table.project()->db_type(), table.names());
  std::vector<std::string> statements;
  for (size_t first = 0; first < form_ids.size(); first += kRecordsPerServerStatement) {
    const size_t end = std::min(form_ids.size(), first + kRecordsPerServerStatement);
    statements.push_back(FlagInsertStatement(
        target, std::vector<long long>(form_ids.begin() + first, form_ids.begin() + end),
        rule_id));
  }
  if (statements.empty()) return FlagBatchResult::kWritten;
  try {
    db.ExecuteAsOne(statements);
    return FlagBatchResult::kWritten;
  } catch (const DbException& error) {
    if (db.IsOpen()) return FlagBatchResult::kRefused;
    table.LogDbError(&error,
                     Format("While Inserting record to Flag Table, Rule ID : %ld",
                            static_cast<long>(rule_id)),
                     FlagInsertStatement(target, static_cast<long>(form_ids.front()), rule_id));
    return FlagBatchResult::kLost;
  }
}

int CProjectTable::InsertFlags(const std::string& list, int32_t rule_id) {
  Database& db = project()->database();
  if (!db.IsOpen()) return 0;
  std::vector<long long> form_ids;
  for (const std::string& item : SplitText(list, ',')) {
    const long form_id = LeadingNumber(item);
    if (form_id > 0) form_ids.push_back(form_id);
  }
  if (form_ids.empty()) return 1;
  // A server gets the pairs in one transaction; when that fails nothing of
  // it stays and the pairs go one by one below.
  if (!db.IsDbase() && InsertFlagBatch(*this, form_ids, rule_id) != FlagBatchResult::kRefused) {
    return 1;
  }
  // One statement prepared once and run for every pair as one batch; the
  // pairs before a failing one stay written and the rest are left, as when
  // each ran alone.
  const std::string target = FlagInsertTarget(project()->db_type(), names());
  size_t done = 0;
  try {
    db.ExecuteForEach(ParameterizedFlagInsertStatement(target, rule_id),
                      std::vector<int64_t>(form_ids.begin(), form_ids.end()), &done);
  } catch (const DbException& error) {
    LogDbError(&error,
               Format("While Inserting record to Flag Table, Rule ID : %ld",
                      static_cast<long>(rule_id)),
               FlagInsertStatement(target, static_cast<long>(form_ids[std::min(
                                               done, form_ids.size() - 1)]),
                                   rule_id));
  }
  return 1;
}

}  // namespace vigilo
