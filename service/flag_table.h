// The statements of a watched table's flag table, the (FormID, RuleID) pairs
// of the records a rule has acted on and that have met its condition at every
// tick since: creating it, dropping the pairs of records that no longer meet
// a rule's condition, and adding pairs. CProjectTable runs them
// (EnsureFlagTable, FindNewRecords, InsertFlags); they are free functions so
// that each can be held against the statement the service runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/rule.h"
#include "data/table_names.h"

namespace vigilo {

class CProjectTable;

// True when a From-name names a dBase file of a table in its own directory
// ("\"dir/FILE.DBF\" AS name"): kind 0 and " AS " after the first character.
bool IsFileFromName(int32_t db_type, const std::string& from_name);

// "CREATE TABLE %s (FormID %s, RuleID INT, CONSTRAINT pk_%s%s PRIMARY KEY
// (FormID, RuleID))": the flag table's From-name (its quoted file for a table
// in its own directory), the FormID type (INT on dBase files, NUMERIC(19) on
// servers, so record numbers past 2^31 fit), the project name, and the
// qualified flag table name after its last full stop.
std::string CreateFlagTableStatement(int32_t db_type, const std::string& project,
                                     const TableNames& names);

// The DELETE that drops the rule's pairs whose records no longer meet its
// condition (joined with the change history when the rule uses it).
std::string StaleFlagsStatement(const CRule& rule, const TableNames& names);

// The table the pairs are inserted into: the flag table's file
// "\"%s/%s.DBF\"" (directory, flag name) for a table in its own directory,
// else the qualified flag table name.
std::string FlagInsertTarget(int32_t db_type, const TableNames& names);

// "INSERT INTO %s(FormID,RuleID) VALUES(%ld,%d)": the record number whole.
std::string FlagInsertStatement(const std::string& target, long form_id, int32_t rule_id);
// The same with a parameter marker "?" for the FormID, prepared once and run
// for each record (Database::ExecuteForEach).
std::string ParameterizedFlagInsertStatement(const std::string& target, int32_t rule_id);
// The same for several records in one statement: "VALUES(%ld,%d),(%ld,%d)...".
std::string FlagInsertStatement(const std::string& target, const std::vector<long long>& form_ids,
                                int32_t rule_id);

// What became of pairs sent to a server as one transaction.
enum class FlagBatchResult {
  kWritten,  // every pair
  kRefused,  // the server refused one: none stays written
  kLost,     // the connection is gone (logged): none stays written
};
// Writes the records' pairs to the table's server in multi-row
// INSERTs of at most kRecordsPerServerStatement pairs, all in one
// transaction (Database::ExecuteAsOne). A refusal is left to the caller, who
// goes pair by pair to find and log the refused one; a lost connection is
// logged as a flag insert, with the first pair's statement.
// REQUIRES: the table's project database is open on a server.
FlagBatchResult InsertFlagBatch(CProjectTable& table, const std::vector<long long>& form_ids,
                                int32_t rule_id);

// What a flag table's dBase file holds: nothing yet, less than its header (a
// creation cut short), its whole header, or something that cannot be read.
enum class FlagFileState { kMissing, kHeaderless, kWhole, kDamaged };
FlagFileState InspectFlagFile(const std::string& path);

}  // namespace vigilo
