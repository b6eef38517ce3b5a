// The rule table (orvhome/Vigtab.dbf): its one layout, flag bits and action
// names, the one record type a rule is read into and written from, and every
// read and write of the file. The service, --check, the rule manager, vgrules
// and the demo writer all go through here.
//
// Writes are atomic for readers: each change is made on a copy beside the
// table and the copy is renamed over it, under the write lock of the table it
// replaces. A reader (the daemon's reload, a dry run, a second rule manager)
// that opened the old file reads the old table to its end; one that opens the
// name afterwards reads the new one; none sees a table missing a rule. The
// rename gives the file a new inode and modification time, which is what the
// dBase engine's change detection looks at. Writers serialise on the lock and,
// once they hold it, check that the name still names the file they locked
// (else another writer replaced it meanwhile and they lock the new one).
// Changes never write a memo, so a memo file beside a table written by other
// tools stays valid for the old table and the new one alike.
//
// Errors: every function returns a RuleTableStatus whose message names the
// file and the reason; nothing is swallowed. Thread-safety: the functions
// share no state and may be called from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/xbase/dbf_table.h"

namespace vigilo {

class Recordset;

// Bits of Flag. The service reads only the SQL-condition bit.
inline constexpr int32_t kRuleFlagSqlCondition = 1;  // Cond is "FROM ... WHERE ..."
inline constexpr int32_t kRuleFlagRunAlways = 2;     // the rule manager's Run Always

// The two actions (compared exactly, letter case counts).
inline constexpr const char* kUpdateAction = "Update";
inline constexpr const char* kNotifyAction = "Notify";

// Reserved1 holding this keeps the rule from being loaded by the service.
inline constexpr const char* kRuleDisabledMark = "1";

// Widths of the character fields, for the checks before a write.
inline constexpr size_t kRuleDsnWidth = 64;
inline constexpr size_t kRuleDbTableWidth = 64;
inline constexpr size_t kRuleActionWidth = 32;
inline constexpr size_t kRuleTargetWidth = 32;
inline constexpr size_t kRuleValuesWidth = 128;
inline constexpr size_t kRuleCondWidth = 255;

// Reserved1 to Reserved5.
using RuleReserved = std::array<std::string, 5>;

// One record of the rule table, texts without their trailing blanks. The
// engine's rules (CRule and its kinds) are built from it.
struct RuleRecord {
  int32_t rule_id = 0;
  int32_t db_type = 0;   // database kind of the project
  std::string dsn;
  std::string db_table;  // project and table joined by one backslash
  std::string action;    // kUpdateAction or kNotifyAction
  std::string target;
  std::string values;
  std::string cond;
  int32_t flag = 0;
  RuleReserved reserved;  // blank where a table written by others lacks one

  bool disabled() const { return reserved[0] == kRuleDisabledMark; }
  bool operator==(const RuleRecord&) const = default;
};

// The fields, in file order, and the tags of a new rule table.
std::vector<DbfField> RuleTableFields();
std::vector<std::string> RuleTableTags();

// What a read or write came to. message names the file and the reason
// whenever code is not kOk.
struct RuleTableStatus {
  enum class Code {
    kOk,
    kMissing,     // the file does not exist (reads only; writes create it)
    kCannotOpen,  // exists but cannot be opened for reading and writing
    kDamaged,     // opens but is not a readable rule table
    kCannotWrite  // the change could not be made; the table is unchanged
  };
  Code code = Code::kOk;
  std::string message;

  bool ok() const { return code == Code::kOk; }
};

// --- Reading through the xBase library ------------------------------------

// Records in file order (deleted ones skipped). With a filter (an xBase
// expression such as RuleTableFilter gives), only the records meeting it.
// On failure *records holds nothing.
RuleTableStatus ReadRuleTable(const std::string& path, std::vector<RuleRecord>* records,
                              const std::string& filter = "");

// The filter that selects the rules of one project table (kind, data source
// and Project Table text, letter case ignored).
std::string RuleTableFilter(long kind, const std::string& dsn, const std::string& table);

// The filter that selects the records of one rule id, and the one of every
// rule with an id above 0.
std::string RuleIdFilter(long rule_id);
std::string ListedRulesFilter();

// --- Reading through the dBase driver (the service) -------------------------

// The connection string of the rule table's directory.
std::string RuleTableConnection(const std::string& path);
// The statement that selects the rules the service loads: every record not
// disabled, ordered as the service builds its projects (by_kind) or by RuleId.
enum class RuleOrder { kByKind, kByRuleId };
std::string LoadableRulesQuery(const std::string& path, RuleOrder order);
// The record of the current row of that statement. Throws DbException.
RuleRecord RuleRecordOfRow(const Recordset& rows);

// --- Writing ----------------------------------------------------------------

// Appends the rule, creating the table when the file does not exist. Without
// a rule id the rule gets the highest RuleId plus 1 (1 in an empty table);
// record->rule_id is set to the id written. A text longer than its field is
// refused (kCannotWrite), never cut.
RuleTableStatus AppendRule(const std::string& path, RuleRecord* record,
                           std::optional<int32_t> rule_id = std::nullopt);

// Deletes every record of the rule id (none is no error).
RuleTableStatus DeleteRule(const std::string& path, int32_t rule_id);

// In one step: deletes every record of the rule id and appends *record with
// that id and the reserved fields of the first record deleted (a disabled
// rule stays disabled). kCannotWrite when the id has no record.
RuleTableStatus ReplaceRule(const std::string& path, int32_t rule_id, RuleRecord* record);

// Sets Reserved1 of every record of the rule id to kRuleDisabledMark or blank.
RuleTableStatus SetRuleDisabled(const std::string& path, int32_t rule_id, bool disabled);

// Puts a table of exactly these records in place of the file (created when
// missing).
RuleTableStatus WriteRuleTable(const std::string& path, const std::vector<RuleRecord>& records);

}  // namespace vigilo
