#include "notify/orvik_tables.h"

#include <unistd.h>

#include <algorithm>

#include "common/file_system.h"
#include "common/format.h"
#include "common/paths.h"
#include "common/text.h"
#include "data/name_lists.h"
#include "platform/xbase/dbf_query.h"
#include "platform/xbase/dbf_table.h"

namespace vigilo {
namespace {

std::string OrvhomePath(std::string_view server_dir, std::string_view file) {
  return ResolveFileCase(JoinPath(JoinPath(server_dir, "orvhome"), file));
}

// The product keeps its tables writable; a missing or read-only file is
// treated as a table that is not there.
bool ExistsWritable(const std::string& path) {
  return Files().Access(path, F_OK) == 0 && Files().Access(path, W_OK) == 0;
}

std::string FieldTextOr(DbfTable& table, int index, bool trim_left) {
  if (index >= table.FieldCount()) return {};
  std::string text = table.Text(index);
  if (trim_left) TrimLeft(text);
  return text;
}

bool Contains(const std::vector<std::string>& list, std::string_view text) {
  return std::find(list.begin(), list.end(), text) != list.end();
}

}  // namespace

std::string UserTablePath(std::string_view server_dir) {
  return OrvhomePath(server_dir, "users.dbf");
}
std::string GroupTablePath(std::string_view server_dir) {
  return OrvhomePath(server_dir, "groups.dbf");
}
std::string MembershipTablePath(std::string_view server_dir) {
  return OrvhomePath(server_dir, "usringrp.dbf");
}

bool ReadUserTable(const std::string& path, std::vector<UserRecord>& records,
                   const MessageReporter& report) {
  if (!ExistsWritable(path)) return false;
  std::unique_ptr<DbfTable> table;
  try {
    table = DbfTable::Open(path, false);
  } catch (const DbfError&) {
    if (report) report(kUserTableOpenMessage);
    return false;
  }
  try {
    for (bool more = table->GoFirst(); more; more = table->Skip()) {
      UserRecord record;
      std::string login = FieldTextOr(*table, 0, false);
      if (!login.empty()) record.login_name = login;
      std::string password = FieldTextOr(*table, 1, false);
      if (!password.empty()) record.password = password;
      if (table->FieldCount() > 6) record.mail_type = static_cast<int32_t>(table->FieldLong(6));
      record.mail_address = FieldTextOr(*table, 7, false).substr(0, kMailAddressLimit);
      records.push_back(std::move(record));
    }
  } catch (const DbfError& error) {
    // A damaged row ends the read; the rows before it are kept.
    if (report) report(Format("%s %s", kUserTableOpenMessage, error.what()));
  }
  return true;
}

bool ReadGroupTable(const std::string& path, std::vector<std::string>& names) {
  if (!ExistsWritable(path)) return false;
  try {
    auto table = DbfTable::Open(path, false);
    for (bool more = table->GoFirst(); more; more = table->Skip()) {
      std::string name = FieldTextOr(*table, 0, true);
      if (!Contains(names, name)) names.push_back(std::move(name));
    }
  } catch (const DbfError&) {
    return false;
  }
  return true;
}

void AppendUserNames(const std::vector<UserRecord>& records, std::vector<std::string>& names) {
  for (const UserRecord& record : records) {
    if (record.login_name) names.push_back(*record.login_name);
  }
}

void FillNameLists(std::string_view server_dir, std::vector<std::string>& user_names,
                   std::vector<std::string>& group_names, const MessageReporter& report) {
  user_names.clear();
  group_names.clear();
  std::vector<UserRecord> records;
  ReadUserTable(UserTablePath(server_dir), records, report);
  AppendUserNames(records, user_names);
  ReadGroupTable(GroupTablePath(server_dir), group_names);
}

void FillProcessNameLists(std::string_view server_dir, const MessageReporter& report) {
  FillNameLists(server_dir, UserNameList(), GroupNameList(), report);
}

MembershipTable::MembershipTable(const std::string& path) {
  if (!ExistsWritable(path)) return;
  try {
    table_ = DbfTable::Open(path, true);
    query_ = std::make_unique<DbfQuery>(*table_);
  } catch (const DbfError&) {
    query_.reset();
    table_.reset();
  }
}

MembershipTable::~MembershipTable() {
  query_.reset();
  table_.reset();
}

std::vector<std::string> MembershipTable::Members(std::string_view group_name) {
  std::vector<std::string> members;
  if (!IsOpen()) return members;
  // A name holding an apostrophe is quoted with double quotes, so it neither
  // breaks the filter nor matches another group.
  char quote = group_name.find('\'') != std::string_view::npos ? '"' : '\'';
  std::string filter = Format("GrpName = %c%.*s    %c", quote,
                              static_cast<int>(group_name.size()), group_name.data(), quote);
  try {
    query_->SetQuery(filter);
    for (bool found = query_->QueryFirst(); found; found = query_->QueryNext()) {
      std::string member = FieldTextOr(*table_, 0, true);
      members.push_back(std::move(member));
    }
  } catch (const std::exception&) {
    // A name that cannot be put into a filter (holding both quote characters)
    // or a damaged row matches nothing further.
  }
  return members;
}

}  // namespace vigilo
