// InstallationDescription: the description of a whole installation that the
// installation writer turns into files: the program directory, the server
// directory with its master tables and rule table, and dBase projects with
// tables, records, change history, field definitions and report layouts.
//
// Every member has a usable default, so a test names only what it cares about
// (one project, one table, a rule or two). Names and values are the texts the
// files will hold; the writer refuses a value that would not fit its field
// rather than cut it silently.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "data/rule_table.h"

namespace vigilo::demo {

// Field-definition type codes of a table INI "Field" line, with the dBase
// field type each one is stored in.
constexpr int kFieldText = 0;      // C
constexpr int kFieldNumber = 1;    // N
constexpr int kFieldDate = 3;      // D (CCYYMMDD)
constexpr int kFieldMemo = 4;      // M
constexpr int kFieldList = 5;      // C, with choices
constexpr int kFieldNumber7 = 7;   // N
constexpr int kFieldUser = 9;      // C, a login name
constexpr int kFieldSeconds = 11;  // N, seconds since 1970
constexpr int kFieldDateTime = 12; // C, "YYYY-MM-DD HH:MM:SS"

// Field-definition flags.
constexpr int kFlagDefault = 1;
constexpr int kFlagHistory = 0x200;   // changes are recorded in the change history
constexpr int kFlagNoUpdate = 0x2000; // update rules leave the field alone

struct FieldDescription {
  std::string name;              // dBase field name: at most 10 characters
  int type = kFieldText;         // a kField* code
  int width = 0;                 // 0: the type's default width (see DbfWidthFor)
  std::vector<std::string> choices;  // list items (type 5)
  int flags = kFlagDefault;      // written as given; history adds kFlagHistory
  bool history = false;          // shorthand for flags | kFlagHistory
  std::string label;             // empty: the name
};

// One record of a project table. values holds field name and text pairs in
// any order; fields left out stay blank. Numbers are written as decimal text,
// dates as CCYYMMDD, memo fields as any text.
struct RecordDescription {
  long form_id = 0;
  std::string atrail;  // the audit trail memo shown at the top of a notification
  std::vector<std::pair<std::string, std::string>> values;
  std::string locker;
  std::string locktime;
};

// One change-history row: field `what` of record form_id changed from `from`
// to `to`, by user `by`, at `seconds` since 1970 (0: the time of writing).
struct HistoryDescription {
  long form_id = 0;
  long long seconds = 0;
  std::string by;
  std::string what;
  std::string from;
  std::string to;
};

struct TableDescription {
  std::string name;
  // "FormNames" of the table INI; the first names the section of the Field
  // lines and of the report. Empty: the table name.
  std::vector<std::string> form_names;
  // Base name of the change-history table (its file is <name>.dbf beside the
  // table). Empty: the table name followed by "Hist".
  std::string history_table;
  // false: no "ChngHist Datafile" key and no change-history file, as a table
  // the service must not watch.
  bool has_history = true;
  std::vector<FieldDescription> fields;
  std::vector<RecordDescription> records;
  std::vector<HistoryDescription> history;
  // Fields listed by the report's "MailReport" layout. Empty: no report file,
  // so notifications show every field.
  std::vector<std::string> mail_report;
  // A directory of its own (absolute, or relative to the installation root),
  // registered under "Table DSN" in the project INI. Empty: the project
  // directory.
  std::string directory;
};

struct ProjectDescription {
  std::string name;
  // Absolute, or relative to the installation root. Empty: "projects/<name>".
  std::string directory;
  std::vector<TableDescription> tables;
};

// A row of users.dbf. Mail types: 0 internal, 1 and 4 a MAPI name, 2 cc:Mail,
// 3 none, 5 and above SMTP.
struct UserDescription {
  std::string login;
  std::string password;
  int mail_type = 0;
  std::string address;
  std::string full_name;
};

// A row of groups.dbf and one usringrp.dbf row per member.
struct GroupDescription {
  std::string name;
  std::vector<std::string> members;
  std::string description;
};

// A row of the rule table; texts as the rule manager stores them.
// A rule of the installation's rule table: the rule table's own record.
using RuleDescription = RuleRecord;

// Mail settings of morvik.ini ("Mail" section) and the mail-system
// provider's mapi.ini in the program directory.
struct MailDescription {
  // "SMTP Mail": server as host[:port]; empty leaves the key out (SMTP off).
  std::string smtp_server;
  std::string smtp_sender = "vigilo@demo.example";
  // "MAPI Mail": the profile to log on with; empty leaves the key out.
  std::string mapi_profile;
  std::string mapi_password;
  // mapi.ini: written when write_mapi_ini is set. Its [Profiles] holds the
  // profile above; [Address Book] the pairs of display name and address;
  // [Delivery] the SMTP URL or else the sendmail-compatible command.
  bool write_mapi_ini = true;
  std::vector<std::pair<std::string, std::string>> address_book;
  std::string delivery_smtp_url;
  std::string delivery_command;
};

struct InstallationDescription {
  // Both absolute, or relative to the installation root.
  std::string program_dir = "program";
  std::string server_dir = "server";
  int firing_interval = 5;  // minutes; negative leaves FIRING_INTERVAL out
  std::vector<ProjectDescription> projects;
  std::vector<UserDescription> users;
  std::vector<GroupDescription> groups;
  std::vector<RuleDescription> rules;
  MailDescription mail;
  bool write_orvkpost = true;  // the internal mail table in the server directory
  // The rule, user, group and membership tables in orvhome. Off for an
  // installation whose tables are missing or written by other means.
  bool write_master_tables = true;
  // Files (the mail plugins) linked into the program directory under their
  // own names, so the service finds them there.
  std::vector<std::string> program_files;
};

}  // namespace vigilo::demo
