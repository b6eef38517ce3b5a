#include "tools/demo/installation_writer.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "common/format.h"
#include "common/ini_profile.h"
#include "common/paths.h"
#include "common/text.h"
#include "tools/demo/installation_tables.h"

namespace vigilo::demo {

namespace fs = std::filesystem;

namespace {

// The report value is read into a 256-character buffer.
constexpr size_t kProfileValueLimit = 255;

void WriteIni(const std::string& file, const std::string& section, const std::string& key,
              const std::string& value) {
  std::string error;
  if (!WriteProfileString(file, section, key, value, &error)) {
    throw std::runtime_error(Format("cannot write [%s] %s into %s: %s", section.c_str(),
                                    key.c_str(), file.c_str(), error.c_str()));
  }
}

// INI writes keep what a file already holds; a fresh installation must not
// inherit keys of an earlier one.
void RemoveFile(const std::string& path) {
  std::error_code ec;
  fs::remove(path, ec);
  if (ec) throw std::runtime_error(Format("cannot remove %s: %s", path.c_str(),
                                          ec.message().c_str()));
}

void MakeDirectory(const std::string& path) {
  std::error_code ec;
  fs::create_directories(path, ec);
  if (ec) throw std::runtime_error(Format("cannot create directory %s: %s", path.c_str(),
                                          ec.message().c_str()));
}

std::string Absolute(const std::string& root, const std::string& path) {
  if (!path.empty() && path[0] == '/') return fs::path(path).lexically_normal().string();
  return (fs::path(root) / path).lexically_normal().string();
}

// A Field-line field must not hold the separators of the line itself.
void RequirePlain(const std::string& text, const char* what, const std::string& field) {
  if (text.find_first_of(",|\r\n") != std::string::npos) {
    throw std::runtime_error(Format("field %s: %s \"%s\" holds a comma, \"|\" or line break",
                                    field.c_str(), what, text.c_str()));
  }
}

int DefaultWidth(int type) {
  switch (type) {
    case kFieldNumber: case kFieldNumber7: return 10;
    case kFieldSeconds: return 12;
    case kFieldDate: return 8;
    case kFieldMemo: return 10;
    case kFieldList: return 16;
    case kFieldUser: return 20;
    case kFieldDateTime: return 19;
    default: return 40;
  }
}

std::string FlagTableName(const std::string& table) { return table.substr(0, 4) + "VGLS"; }

std::string HistoryName(const TableDescription& table) {
  return table.history_table.empty() ? table.name + "Hist" : table.history_table;
}

std::string FormName(const TableDescription& table) {
  return table.form_names.empty() ? table.name : table.form_names.front();
}

}  // namespace

DbfField DbfFieldFor(const FieldDescription& field) {
  int width = field.width > 0 ? field.width : DefaultWidth(field.type);
  switch (field.type) {
    case kFieldNumber: case kFieldNumber7: case kFieldSeconds:
      return {field.name, 'N', static_cast<uint8_t>(width), 0};
    case kFieldDate: return {field.name, 'D', 8, 0};
    case kFieldMemo: return {field.name, 'M', 10, 0};
    default: return {field.name, 'C', static_cast<uint8_t>(width), 0};
  }
}

std::string FieldDefinitionLine(const FieldDescription& field) {
  RequirePlain(field.name, "name", field.name);
  std::string label = field.label.empty() ? field.name : field.label;
  RequirePlain(label, "label", field.name);
  std::string choices;
  for (const std::string& choice : field.choices) {
    RequirePlain(choice, "choice", field.name);
    choices += choice + "|";
  }
  int flags = field.flags | (field.history ? kFlagHistory : 0);
  // name, label, type, width, decimals, attribute text, attribute number,
  // choices, four layout numbers, flags, two length-prefixed extras, lookup,
  // third extra, length-prefixed fourth extra, two words; each ends in ",".
  return Format("%s,%s,%d,%d,0,,0,%s,100,100,100,24,%d,0,0,,,0,,", field.name.c_str(),
                label.c_str(), field.type, static_cast<int>(DbfFieldFor(field).width),
                choices.c_str(), flags);
}

std::string SmtpMailValue(const std::string& server, const std::string& sender) {
  // Server in field 3; the sender in field 4 after two leading characters.
  return Format("1,SMTP,%s,0 %s,", server.c_str(), sender.c_str());
}

std::string MapiMailValue(const std::string& profile, const std::string& password) {
  // Profile and password are fields 4 and 5, each length-prefixed; without a
  // seventh field the password is stored plain.
  return Format("1,MAPI,0,%zu %s,%zu %s,0,", profile.size(), profile.c_str(), password.size(),
                password.c_str());
}

// --- Changing data between ticks -------------------------------------------

std::string SetField(const std::string& table_path, long form_id, const std::string& field,
                     const std::string& value) {
  auto table = DbfTable::Open(table_path, true);
  int id_column = table->FieldIndex("FormID");
  int column = table->FieldIndex(field);
  if (id_column < 0 || column < 0) {
    throw std::runtime_error(Format("%s has no field %s", table_path.c_str(),
                                    column < 0 ? field.c_str() : "FormID"));
  }
  const DbfField& def = table->Field(column);
  if (def.type == 'C' && value.size() > def.width) {
    throw std::runtime_error(Format("%s: value \"%s\" is longer than field %s",
                                    table_path.c_str(), value.c_str(), field.c_str()));
  }
  for (bool on = table->GoFirst(); on; on = table->Skip()) {
    if (table->FieldLong(id_column) != form_id) continue;
    std::string previous = table->Text(column);
    table->AssignText(column, value);
    table->Close();
    return previous;
  }
  throw std::runtime_error(Format("%s has no record with FormID %ld", table_path.c_str(),
                                  form_id));
}

void AppendRecord(const std::string& table_path, const RecordDescription& record) {
  auto table = DbfTable::Open(table_path, true);
  AppendRecordRow(*table, record);
  table->Close();
}

void DeleteRecord(const std::string& table_path, long form_id) {
  auto table = DbfTable::Open(table_path, true);
  int id_column = table->FieldIndex("FormID");
  for (bool on = table->GoFirst(); on; on = table->Skip()) {
    if (table->FieldLong(id_column) == form_id) {
      table->DeleteRecord();
      table->Close();
      return;
    }
  }
  throw std::runtime_error(Format("%s has no record with FormID %ld", table_path.c_str(),
                                  form_id));
}

void AddHistoryRow(const std::string& history_path, const HistoryDescription& row) {
  auto table = DbfTable::Open(history_path, true);
  AppendHistoryRow(*table, row);
  table->Close();
}

void AppendRules(const std::string& rule_table_path, const std::vector<RuleDescription>& rules) {
  for (RuleRecord rule : rules) {
    RuleTableStatus status = AppendRule(rule_table_path, &rule, rule.rule_id);
    if (!status.ok()) throw std::runtime_error(status.message);
  }
}

std::vector<TableRow> ReadRows(const std::string& table_path) {
  auto table = DbfTable::Open(ResolveFileCase(table_path), false);
  std::vector<TableRow> rows;
  for (bool on = table->GoFirst(); on; on = table->Skip()) {
    TableRow row;
    for (int i = 0; i < table->FieldCount(); ++i) row[table->Field(i).name] = table->Text(i);
    rows.push_back(std::move(row));
  }
  return rows;
}

// --- Writing the installation ------------------------------------------------

Installation Installation::Write(const std::string& root_arg, const InstallationDescription& description) {
  Installation inst;
  inst.root_ = fs::absolute(root_arg).lexically_normal().string();
  while (inst.root_.size() > 1 && inst.root_.back() == '/') inst.root_.pop_back();
  inst.spec_ = description;
  inst.program_dir_ = Absolute(inst.root_, description.program_dir);
  inst.server_dir_ = Absolute(inst.root_, description.server_dir);
  for (ProjectDescription& project : inst.spec_.projects) {
    project.directory = Absolute(
        inst.root_, project.directory.empty() ? "projects/" + project.name : project.directory);
    for (TableDescription& table : project.tables) {
      if (!table.directory.empty()) table.directory = Absolute(inst.root_, table.directory);
    }
  }
  const InstallationDescription& s = inst.spec_;

  MakeDirectory(inst.program_dir_);
  MakeDirectory(inst.server_dir_ + "/orvhome");

  // Program directory.
  RemoveFile(inst.vigtab_ini());
  WriteIni(inst.vigtab_ini(), "Morvane Vigilo", "SERVERDIR", inst.server_dir_);
  if (s.firing_interval >= 0) {
    WriteIni(inst.vigtab_ini(), "OPTIONS", "FIRING_INTERVAL", Format("%d", s.firing_interval));
  }
  RemoveFile(inst.mapi_ini());
  if (s.mail.write_mapi_ini) {
    if (!s.mail.mapi_profile.empty()) {
      WriteIni(inst.mapi_ini(), "Profiles", s.mail.mapi_profile, s.mail.mapi_password);
    }
    for (const auto& [name, address] : s.mail.address_book) {
      WriteIni(inst.mapi_ini(), "Address Book", name, address);
    }
    if (!s.mail.delivery_smtp_url.empty()) {
      WriteIni(inst.mapi_ini(), "Delivery", "SmtpUrl", s.mail.delivery_smtp_url);
    }
    if (!s.mail.delivery_command.empty()) {
      WriteIni(inst.mapi_ini(), "Delivery", "Command", s.mail.delivery_command);
    }
    WriteIni(inst.mapi_ini(), "Delivery", "From", s.mail.smtp_sender);
  }
  for (const std::string& file : s.program_files) {
    std::string source = fs::absolute(file).lexically_normal().string();
    if (!fs::exists(source)) {
      throw std::runtime_error(Format("cannot link %s: no such file", source.c_str()));
    }
    std::string link = JoinPath(inst.program_dir_, NamePart(source));
    RemoveFile(link);
    std::error_code ec;
    fs::create_symlink(source, link, ec);
    if (ec) throw std::runtime_error(Format("cannot link %s to %s: %s", link.c_str(),
                                            source.c_str(), ec.message().c_str()));
  }

  // Server directory.
  RemoveFile(inst.morvik_ini());
  for (const ProjectDescription& project : s.projects) {
    WriteIni(inst.morvik_ini(), "Orvik Dsn", project.name, project.directory);
  }
  if (!s.mail.smtp_server.empty()) {
    WriteIni(inst.morvik_ini(), "Mail", "SMTP Mail",
             SmtpMailValue(s.mail.smtp_server, s.mail.smtp_sender));
  }
  if (!s.mail.mapi_profile.empty()) {
    WriteIni(inst.morvik_ini(), "Mail", "MAPI Mail",
             MapiMailValue(s.mail.mapi_profile, s.mail.mapi_password));
  }
  if (!fs::exists(inst.morvik_ini())) std::ofstream(inst.morvik_ini()).flush();
  if (s.write_master_tables) {
    if (RuleTableStatus status = WriteRuleTable(inst.rule_table(), s.rules); !status.ok()) {
      throw std::runtime_error(status.message);
    }
    WriteUserTables(inst.server_dir_ + "/orvhome", s.users, s.groups);
  }
  if (s.write_orvkpost) WriteInternalMailTable(inst.orvkpost_table());

  // Projects.
  for (const ProjectDescription& project : s.projects) {
    MakeDirectory(project.directory);
    std::string project_ini = inst.ProjectIni(project.name);
    RemoveFile(project_ini);
    WriteIni(project_ini, "Morvane Orvik", "Project Name", project.name);
    // The rule manager accepts a project only when its INI names the link
    // information file; the project file beside it is what it opens.
    WriteIni(project_ini, "Morvane Orvik", "LinkInfo Datafile", project.name + ".dbf");
    bool file_is_a_table = false;
    for (const TableDescription& table : project.tables) {
      if (EqualsNoCase(table.name, project.name)) file_is_a_table = true;
    }
    if (!file_is_a_table) {
      WriteProjectFile(inst.ProjectDir(project.name) + "/" + project.name + ".dbf", project);
    }
    for (const TableDescription& table : project.tables) {
      std::string dir = inst.TableDir(project.name, table.name);
      MakeDirectory(dir);
      if (!table.directory.empty()) {
        WriteIni(project_ini, "Table DSN", project.name + "\\" + table.name, dir);
      }
      WriteProjectTable(inst.TablePath(project.name, table.name), table);
      // The rule manager lists a project's tables from these keys; the
      // project file itself is always listed first.
      if (!EqualsNoCase(table.name, project.name)) {
        WriteIni(project_ini, "Morvane Orvik", table.name + " Datafile",
                 table.directory.empty() ? table.name + ".dbf"
                                         : inst.TablePath(project.name, table.name));
      }

      std::string table_ini = inst.TableIni(project.name, table.name);
      RemoveFile(table_ini);
      if (table.has_history) {
        WriteIni(table_ini, "Morvane Orvik", "ChngHist Datafile", HistoryName(table) + ".dbf");
        WriteHistoryTable(inst.HistoryPath(project.name, table.name), table.history);
      }
      std::vector<std::string> forms = table.form_names;
      if (forms.empty()) forms.push_back(table.name);
      std::string form_names;
      for (const std::string& form : forms) {
        form_names += (form_names.empty() ? "" : ",") + form;
      }
      WriteIni(table_ini, "Morvane Orvik", "FormNames", form_names);
      int n = 0;
      for (const FieldDescription& field : table.fields) {
        WriteIni(table_ini, FormName(table), Format("Field%d", ++n), FieldDefinitionLine(field));
      }

      std::string report = inst.ReportPath(project.name, table.name);
      RemoveFile(report);
      if (!table.mail_report.empty()) {
        std::string layout;
        int column = 0;
        for (const std::string& field : table.mail_report) {
          layout += Format("%s%s,%d", column == 0 ? "" : " ", field.c_str(), column + 1);
          ++column;
        }
        std::string value = "Mail Report|2|0|" + layout + "|";
        if (value.size() > kProfileValueLimit) {
          throw std::runtime_error(Format("%s: MailReport value longer than %zu characters",
                                          report.c_str(), kProfileValueLimit));
        }
        WriteIni(report, FormName(table) + " Reports", "MailReport", value);
      }
    }
  }
  return inst;
}

// --- Paths ---------------------------------------------------------------------

std::string Installation::vigtab_ini() const { return program_dir_ + "/vigtab.ini"; }
std::string Installation::mapi_ini() const { return program_dir_ + "/mapi.ini"; }
std::string Installation::morvik_ini() const { return server_dir_ + "/morvik.ini"; }
std::string Installation::rule_table() const { return server_dir_ + "/orvhome/Vigtab.dbf"; }
std::string Installation::users_table() const { return server_dir_ + "/orvhome/users.dbf"; }
std::string Installation::groups_table() const { return server_dir_ + "/orvhome/groups.dbf"; }
std::string Installation::membership_table() const {
  return server_dir_ + "/orvhome/usringrp.dbf";
}
std::string Installation::orvkpost_table() const { return server_dir_ + "/ORVKPOST.dbf"; }
std::string Installation::run_log() const { return server_dir_ + "/vglog.ini"; }

const ProjectDescription& Installation::FindProject(const std::string& project) const {
  for (const ProjectDescription& p : spec_.projects) {
    if (p.name == project) return p;
  }
  throw std::runtime_error("no project " + project + " in the installation");
}

const TableDescription& Installation::FindTable(const std::string& project,
                                         const std::string& table) const {
  for (const TableDescription& t : FindProject(project).tables) {
    if (t.name == table) return t;
  }
  throw std::runtime_error("no table " + project + "\\" + table + " in the installation");
}

std::string Installation::ProjectDir(const std::string& project) const {
  return FindProject(project).directory;
}
std::string Installation::ProjectIni(const std::string& project) const {
  return ProjectDir(project) + "/" + project + ".INI";
}
std::string Installation::TableDir(const std::string& project, const std::string& table) const {
  const TableDescription& t = FindTable(project, table);
  return t.directory.empty() ? ProjectDir(project) : t.directory;
}
std::string Installation::TablePath(const std::string& project, const std::string& table) const {
  return TableDir(project, table) + "/" + table + ".dbf";
}
std::string Installation::TableIni(const std::string& project, const std::string& table) const {
  return TableDir(project, table) + "/" + table + ".INI";
}
std::string Installation::ReportPath(const std::string& project,
                                     const std::string& table) const {
  return TableDir(project, table) + "/" + table + ".REP";
}
std::string Installation::HistoryPath(const std::string& project,
                                      const std::string& table) const {
  return TableDir(project, table) + "/" + HistoryName(FindTable(project, table)) + ".dbf";
}
std::string Installation::FlagTablePath(const std::string& project,
                                        const std::string& table) const {
  return ResolveFileCase(TableDir(project, table) + "/" + FlagTableName(table) + ".dbf");
}

// --- Data changes by name --------------------------------------------------------

std::string Installation::SetField(const std::string& project, const std::string& table,
                                   long form_id, const std::string& field,
                                   const std::string& value) const {
  return demo::SetField(TablePath(project, table), form_id, field, value);
}

void Installation::AppendRecord(const std::string& project, const std::string& table,
                                const RecordDescription& record) const {
  demo::AppendRecord(TablePath(project, table), record);
}

void Installation::AddHistoryRow(const std::string& project, const std::string& table,
                                 const HistoryDescription& row) const {
  demo::AddHistoryRow(HistoryPath(project, table), row);
}

void Installation::ChangeField(const std::string& project, const std::string& table,
                               long form_id, const std::string& field,
                               const std::string& value, const std::string& by,
                               long long seconds) const {
  std::string previous = SetField(project, table, form_id, field, value);
  AddHistoryRow(project, table, {form_id, seconds, by, field, previous, value});
}

void Installation::AppendRules(const std::vector<RuleDescription>& rules) const {
  demo::AppendRules(rule_table(), rules);
}

std::string Installation::ReadRunLog() const {
  std::ifstream in(ResolveFileCase(run_log()), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace vigilo::demo
