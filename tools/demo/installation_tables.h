// The dBase files of an installation: Orvik's user, group and membership
// tables, the internal mail table, and a project table with its
// change-history table (the rule table is written by data/rule_table).
// Internal to the installation writer; the field lists here are the layouts
// the service and the product read.
#pragma once

#include <string>
#include <vector>

#include "platform/xbase/dbf_table.h"
#include "tools/demo/installation_description.h"

namespace vigilo::demo {

// Field lists, in file order.
std::vector<DbfField> UserTableFields();
std::vector<DbfField> GroupTableFields();
std::vector<DbfField> MembershipTableFields();
std::vector<DbfField> InternalMailFields();
std::vector<DbfField> HistoryTableFields();
// FormID, ATrail, Locker, Locktime, then the table's own fields.
std::vector<DbfField> ProjectTableFields(const TableDescription& table);

void WriteUserTables(const std::string& orvhome, const std::vector<UserDescription>& users,
                     const std::vector<GroupDescription>& groups);
void WriteInternalMailTable(const std::string& path);
// The project file that the rule manager's Open Project dialog picks for a
// dBase project: one row per table of the project.
void WriteProjectFile(const std::string& path, const ProjectDescription& project);
void WriteProjectTable(const std::string& path, const TableDescription& table);
void WriteHistoryTable(const std::string& path, const std::vector<HistoryDescription>& rows);

// Appends to an open table: one record, one history row.
void AppendRecordRow(DbfTable& table, const RecordDescription& record);
void AppendHistoryRow(DbfTable& table, const HistoryDescription& row);

}  // namespace vigilo::demo
