// The installation writer: turns an InstallationDescription into a complete, working
// installation in a directory, and changes its data between firing ticks the
// way the defect-management product itself would (new records, field changes
// with their change-history rows, new rules).
//
// Layout written under the root directory (paths relative to it by default):
//   program/vigtab.ini, program/mapi.ini, linked program files (mail plugins)
//   server/morvik.ini, server/ORVKPOST.dbf
//   server/orvhome/Vigtab.dbf, users.dbf, groups.dbf, usringrp.dbf
//   projects/<Project>/<Project>.INI
//   <table dir>/<Table>.dbf (+ .dbt), <Table>.INI, <Table>.REP, <Hist>.dbf
// Change-history dates (ChngDate) are stored as text holding the decimal
// seconds since 1970, the form the product keeps change times in.
//
// Used by vgdemo and by the end-to-end tests. Every failure throws
// std::runtime_error (DbfError for table faults) naming the file and the fault;
// nothing is cut to fit silently. Not thread-safe; one writer per root.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/xbase/dbf_table.h"
#include "tools/demo/installation_description.h"

namespace vigilo::demo {

// The dBase field (type and width) a field definition is stored in.
DbfField DbfFieldFor(const FieldDescription& field);

// The text after "Field<n>=" of a table INI: the 19 comma-terminated fields of
// a field definition line.
std::string FieldDefinitionLine(const FieldDescription& field);

// The "SMTP Mail" and "MAPI Mail" values of morvik.ini for the given settings.
std::string SmtpMailValue(const std::string& server, const std::string& sender);
std::string MapiMailValue(const std::string& profile, const std::string& password);

// --- Changing data between ticks (paths of .dbf files) ---------------------

// Sets field of the record whose FormID is form_id and returns its previous
// value (trailing blanks removed). Throws when the record or field is missing.
std::string SetField(const std::string& table_path, long form_id,
                     const std::string& field, const std::string& value);
// Appends one record to a project table.
void AppendRecord(const std::string& table_path, const RecordDescription& record);
// Marks the record deleted, so it no longer takes part in queries.
void DeleteRecord(const std::string& table_path, long form_id);
// Appends one row to a change-history table.
void AddHistoryRow(const std::string& history_path, const HistoryDescription& row);
// Appends rules to a rule table (the service reads them at its next start).
void AppendRules(const std::string& rule_table_path, const std::vector<RuleDescription>& rules);

// Every record of a table that is not marked deleted, in record order, as
// field name to text (character values without trailing blanks, numbers
// without blanks, memo texts whole): for checking what the service wrote
// (flag tables, updated records, internal mail rows).
using TableRow = std::map<std::string, std::string>;
std::vector<TableRow> ReadRows(const std::string& table_path);

// An installation on disk and the paths of its files.
class Installation {
 public:
  // Writes description under root (created when missing). Files of the same names
  // from an earlier write are replaced; other files are left alone, so start
  // from an empty root for a clean installation. Throws on any failure.
  static Installation Write(const std::string& root, const InstallationDescription& description);

  const std::string& root() const { return root_; }
  const std::string& program_dir() const { return program_dir_; }
  const std::string& server_dir() const { return server_dir_; }
  std::string vigtab_ini() const;
  std::string mapi_ini() const;
  std::string morvik_ini() const;
  std::string rule_table() const;  // server/orvhome/Vigtab.dbf
  std::string users_table() const;
  std::string groups_table() const;
  std::string membership_table() const;
  std::string orvkpost_table() const;
  std::string run_log() const;     // server/vglog.ini, written by the service

  // Paths of a project's and a table's files; throw when the project or table
  // is not part of the description.
  std::string ProjectDir(const std::string& project) const;
  std::string ProjectIni(const std::string& project) const;
  std::string TableDir(const std::string& project, const std::string& table) const;
  std::string TablePath(const std::string& project, const std::string& table) const;
  std::string TableIni(const std::string& project, const std::string& table) const;
  std::string ReportPath(const std::string& project, const std::string& table) const;
  std::string HistoryPath(const std::string& project, const std::string& table) const;
  // The flag table the service creates for a table ("<first 4>VGLS.dbf").
  std::string FlagTablePath(const std::string& project, const std::string& table) const;

  // The data-changing helpers above, addressed by project and table name.
  std::string SetField(const std::string& project, const std::string& table, long form_id,
                       const std::string& field, const std::string& value) const;
  void AppendRecord(const std::string& project, const std::string& table,
                    const RecordDescription& record) const;
  void AddHistoryRow(const std::string& project, const std::string& table,
                     const HistoryDescription& row) const;
  // What a user's edit in the product does: sets the field and appends the
  // change-history row (what, old value, new value) for it.
  void ChangeField(const std::string& project, const std::string& table, long form_id,
                   const std::string& field, const std::string& value,
                   const std::string& by, long long seconds = 0) const;
  void AppendRules(const std::vector<RuleDescription>& rules) const;

  // The run log's text ("" when the service has not written it yet).
  std::string ReadRunLog() const;

 private:
  const TableDescription& FindTable(const std::string& project, const std::string& table) const;
  const ProjectDescription& FindProject(const std::string& project) const;

  std::string root_;
  std::string program_dir_;
  std::string server_dir_;
  InstallationDescription spec_;  // with project and table directories made absolute
};

}  // namespace vigilo::demo
