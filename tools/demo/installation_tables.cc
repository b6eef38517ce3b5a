#include "tools/demo/installation_tables.h"

#include <ctime>
#include <stdexcept>

#include "common/format.h"
#include "tools/demo/installation_writer.h"

namespace vigilo::demo {

namespace {

// Column position by name; the table was made by this writer, so a missing
// field is a fault of the caller (a value for a field the table lacks).
int Column(const DbfTable& table, const std::string& name) {
  int index = table.FieldIndex(name);
  if (index < 0) {
    throw std::runtime_error(Format("%s has no field %s", table.path().c_str(), name.c_str()));
  }
  return index;
}

// Character values must fit their field: a cut rule condition or address
// would make a test pass or fail for the wrong reason.
void Put(DbfTable& table, int index, const std::string& value) {
  const DbfField& field = table.Field(index);
  if (field.type == 'C' && value.size() > field.width) {
    throw std::runtime_error(Format("%s: value \"%s\" is longer than field %s (%d characters)",
                                    table.path().c_str(), value.c_str(), field.name.c_str(),
                                    static_cast<int>(field.width)));
  }
  table.AssignText(index, value);
}

void Put(DbfTable& table, const std::string& name, const std::string& value) {
  Put(table, Column(table, name), value);
}

std::unique_ptr<DbfTable> CreateTable(const std::string& path,
                                      const std::vector<DbfField>& fields,
                                      const std::vector<std::string>& tags = {}) {
  return DbfTable::Create(path, fields, DbfVersion::kDbase4, tags);
}

}  // namespace

// Only positions 1, 2, 7 and 8 are read by the service; the others hold what
// a user record of the product carries.
std::vector<DbfField> UserTableFields() {
  return {
      {"LOGIN", 'C', 20, 0},  {"PASSWORD", 'C', 20, 0}, {"FULLNAME", 'C', 40, 0},
      {"PHONE", 'C', 20, 0},  {"DEPT", 'C', 20, 0},     {"ACCESS", 'N', 4, 0},
      {"MAILTYPE", 'N', 3, 0}, {"MAILADDR", 'C', 64, 0},
  };
}

std::vector<DbfField> GroupTableFields() {
  return {{"GrpName", 'C', 20, 0}, {"DESCRIPT", 'C', 60, 0}};
}

std::vector<DbfField> MembershipTableFields() {
  return {{"UserName", 'C', 20, 0}, {"GrpName", 'C', 20, 0}};
}

std::vector<DbfField> InternalMailFields() {
  return {
      {"FROM", 'C', 20, 0},    {"TO", 'C', 64, 0},     {"DATE", 'C', 10, 0},
      {"ISNEW", 'N', 1, 0},    {"STATUS", 'C', 1, 0},  {"BUGNUM", 'N', 10, 0},
      {"DBNAME", 'C', 64, 0},  {"MESSAGE", 'C', 254, 0},
  };
}

std::vector<DbfField> HistoryTableFields() {
  return {
      {"FormID", 'N', 10, 0},  {"ChngDate", 'C', 12, 0}, {"ChngBy", 'C', 20, 0},
      {"ChngWhat", 'C', 20, 0}, {"ChngFrom", 'C', 100, 0}, {"ChngTo", 'C', 100, 0},
  };
}

std::vector<DbfField> ProjectTableFields(const TableDescription& table) {
  std::vector<DbfField> fields = {
      {"FormID", 'N', 10, 0},
      {"ATrail", 'M', 10, 0},
      {"Locker", 'C', 20, 0},
      {"Locktime", 'C', 20, 0},
  };
  for (const FieldDescription& field : table.fields) fields.push_back(DbfFieldFor(field));
  return fields;
}

void WriteUserTables(const std::string& orvhome, const std::vector<UserDescription>& users,
                     const std::vector<GroupDescription>& groups) {
  auto user_table = CreateTable(orvhome + "/users.dbf", UserTableFields());
  for (const UserDescription& user : users) {
    user_table->AppendStart();
    Put(*user_table, 0, user.login);
    Put(*user_table, 1, user.password);
    Put(*user_table, 2, user.full_name);
    user_table->AssignLong(6, user.mail_type);
    Put(*user_table, 7, user.address);
    user_table->AppendWrite();
  }
  user_table->Close();

  auto group_table = CreateTable(orvhome + "/groups.dbf", GroupTableFields());
  auto membership = CreateTable(orvhome + "/usringrp.dbf", MembershipTableFields());
  for (const GroupDescription& group : groups) {
    group_table->AppendStart();
    Put(*group_table, 0, group.name);
    Put(*group_table, 1, group.description);
    group_table->AppendWrite();
    for (const std::string& member : group.members) {
      membership->AppendStart();
      Put(*membership, 0, member);
      Put(*membership, "GrpName", group.name);
      membership->AppendWrite();
    }
  }
  group_table->Close();
  membership->Close();
}

void WriteInternalMailTable(const std::string& path) {
  CreateTable(path, InternalMailFields())->Close();
}

void WriteProjectFile(const std::string& path, const ProjectDescription& project) {
  auto table = CreateTable(path, {{"TABLENAME", 'C', 32, 0}});
  for (const TableDescription& description : project.tables) {
    table->AppendStart();
    Put(*table, 0, description.name);
    table->AppendWrite();
  }
  table->Close();
}

void AppendRecordRow(DbfTable& table, const RecordDescription& record) {
  table.AppendStart();
  table.AssignLong(Column(table, "FormID"), record.form_id);
  table.AssignText(Column(table, "ATrail"), record.atrail);
  Put(table, "Locker", record.locker);
  Put(table, "Locktime", record.locktime);
  for (const auto& [name, value] : record.values) Put(table, name, value);
  table.AppendWrite();
}

void WriteProjectTable(const std::string& path, const TableDescription& table_spec) {
  auto table = CreateTable(path, ProjectTableFields(table_spec));
  for (const RecordDescription& record : table_spec.records) AppendRecordRow(*table, record);
  table->Close();
}

void AppendHistoryRow(DbfTable& table, const HistoryDescription& row) {
  long long seconds = row.seconds != 0 ? row.seconds : static_cast<long long>(std::time(nullptr));
  table.AppendStart();
  table.AssignLong(0, row.form_id);
  Put(table, 1, Format("%lld", seconds));
  Put(table, 2, row.by);
  Put(table, 3, row.what);
  Put(table, 4, row.from);
  Put(table, 5, row.to);
  table.AppendWrite();
}

void WriteHistoryTable(const std::string& path, const std::vector<HistoryDescription>& rows) {
  auto table = CreateTable(path, HistoryTableFields());
  for (const HistoryDescription& row : rows) AppendHistoryRow(*table, row);
  table->Close();
}

}  // namespace vigilo::demo
