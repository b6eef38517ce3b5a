// Readers of the defect-management product's user, group and membership
// tables (users.dbf, groups.dbf, usringrp.dbf in the orvhome directory of the
// server directory), and the process-wide name lists filled from them at
// start-up. Fields are addressed by position (field 1 is the first), except the
// membership table's group name, which is found by its name GrpName.
//
// A table that does not exist or is not writable is not read (the product keeps
// its tables writable; a read-only copy is taken as "not installed"). Only a
// user table that exists but cannot be opened is reported, as a message line.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/message_reporter.h"
#include "notify/user_record.h"

namespace vigilo {

class DbfQuery;
class DbfTable;

// Paths of the three tables under a server directory, in the letter case found
// on disk when the file exists in another case.
std::string UserTablePath(std::string_view server_dir);
std::string GroupTablePath(std::string_view server_dir);
std::string MembershipTablePath(std::string_view server_dir);

// Shown when the user table exists but cannot be opened.
inline constexpr const char* kUserTableOpenMessage = "Unable to open Orvik user table!";

// Appends one record per row of the user table, in table order (deleted rows
// skipped): field 1 login name, field 2 password, field 7 mail type, field 8
// mail address (trailing blanks removed, cut to 63 characters). Returns false
// when nothing could be read (missing, read-only or unopenable table). A table
// that exists but cannot be opened is reported through report (when given).
bool ReadUserTable(const std::string& path, std::vector<UserRecord>& records,
                   const MessageReporter& report = nullptr);

// Appends field 1 of every row of the group table, blanks removed at both
// ends, unless the list already holds it. Returns false when the table could
// not be read.
bool ReadGroupTable(const std::string& path, std::vector<std::string>& names);

// Appends the login name of every user record, in table order, duplicates
// kept (records without a login name contribute nothing).
void AppendUserNames(const std::vector<UserRecord>& records, std::vector<std::string>& names);

// Fills the process-wide lists at start-up: every login name of the user
// table and every group name of the group table of the server directory.
// The lists are emptied first.
void FillNameLists(std::string_view server_dir, std::vector<std::string>& user_names,
                   std::vector<std::string>& group_names,
                   const MessageReporter& report = nullptr);

// The same into the process-wide UserNameList() and GroupNameList()
// (data/name_lists.h).
void FillProcessNameLists(std::string_view server_dir, const MessageReporter& report = nullptr);

// The membership table, kept open by the recipient directory for the whole
// run, with its query handle. Members() answers which users belong to a group.
class MembershipTable {
 public:
  // Opens the table for reading and writing, as the product's own programs
  // do; IsOpen() is false when it does not exist, is read-only or fails to open.
  explicit MembershipTable(const std::string& path);
  ~MembershipTable();
  MembershipTable(const MembershipTable&) = delete;
  MembershipTable& operator=(const MembershipTable&) = delete;

  bool IsOpen() const { return query_ != nullptr; }

  // Field 1 (blanks removed at both ends) of every row whose GrpName equals
  // the group name, in table order. The filter is "GrpName = '<name>    '":
  // the four blanks make dBase's prefix comparison match the blank-padded
  // field and no longer group name. Empty when closed or nothing matches.
  std::vector<std::string> Members(std::string_view group_name);

 private:
  std::unique_ptr<DbfTable> table_;
  std::unique_ptr<DbfQuery> query_;
};

}  // namespace vigilo
