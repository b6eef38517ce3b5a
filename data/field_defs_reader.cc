#include "data/field_defs_reader.h"

#include <unistd.h>

#include <sstream>

#include "common/file_system.h"
#include "common/format.h"
#include "common/ini_profile.h"
#include "common/paths.h"
#include "common/text.h"
#include "data/name_lists.h"
#include "data/project_source.h"

namespace vigilo {

namespace {

// Choices of a field with a lookup text are stored as "code:text".
void DropChoiceCodes(CFieldDef& field) {
  for (std::string& item : field.choices) {
    size_t colon = item.find(':');
    if (colon != std::string::npos) item.erase(0, colon + 1);
  }
}

}  // namespace

std::vector<CFieldDef> ChangeHistoryFields(const std::vector<CFieldDef>& fields) {
  struct Pseudo {
    const char* name;
    int type;
  };
  static constexpr Pseudo kPseudoFields[] = {{"ChngDate", CFieldDef::kDate},
                                             {"ChngBy", CFieldDef::kUser},
                                             {"ChngWhat", CFieldDef::kList},
                                             {"ChngFrom", CFieldDef::kText},
                                             {"ChngTo", CFieldDef::kText}};
  std::vector<CFieldDef> pseudo;
  int sequence = 1;
  for (const Pseudo& entry : kPseudoFields) {
    CFieldDef field(sequence);
    field.name = Format("ChngHist->%s", entry.name);
    field.label = field.name;
    field.type = entry.type;
    if (entry.type == CFieldDef::kUser) field.choices = UserNameList();
    if (entry.type == CFieldDef::kList) {
      for (const CFieldDef& other : fields) {
        if (other.HasHistoryFlag()) field.choices.push_back(other.name);
      }
    }
    // Written as a definition line and read back, as every definition is.
    pseudo.emplace_back(sequence, FieldDefLine(field));
    ++sequence;
  }
  return pseudo;
}

bool ReadFieldDefs(const std::string& table_ini_path, std::vector<CFieldDef>& fields,
                   std::string* message) {
  std::string path = ResolveFileCase(table_ini_path);
  // The file is opened for reading and writing, so a read-only one counts as
  // one that cannot be opened.
  std::string text;
  bool opened = Files().Access(path, R_OK | W_OK) == 0 && ReadFile(path, text);
  std::istringstream in(text);
  if (!opened) {
    if (message) *message = Format("Unable to open %s!", table_ini_path.c_str());
  } else {
    std::string form_names = GetProfileString(path, "Morvane Orvik", "FormNames", "");
    std::string header = "[" + form_names.substr(0, form_names.find(',')) + "]";
    bool in_section = false;
    int sequence = 1;
    std::string line;
    while (ReadLine(in, line)) {
      if (!in_section) {
        in_section = StartsWithNoCase(line, header);
        continue;
      }
      if (!line.empty() && line[0] == '[') break;
      if (line.compare(0, 5, "Field") != 0) continue;
      size_t equals = line.find('=');
      if (equals == std::string::npos) continue;
      CFieldDef field(sequence++, std::string_view(line).substr(equals + 1));
      if (field.type == CFieldDef::kUser) {
        field.choices = UserNameList();
      } else if (!field.lookup.empty()) {
        DropChoiceCodes(field);
      }
      fields.push_back(std::move(field));
    }
  }
  for (CFieldDef& pseudo : ChangeHistoryFields(fields)) fields.push_back(std::move(pseudo));
  return opened;
}

std::string FieldDefsIniPath(const CServerPaths& paths, long kind, std::string_view project,
                             std::string_view table) {
  std::string directory =
      kind != 0 ? paths.server_dir : DbaseProjectDirectory(paths, project);
  std::string project_ini =
      ResolveFileCase(JoinPath(directory, std::string(project) + ".INI"));
  std::string key = std::string(project) + "\\" + std::string(table);
  std::string table_dsn = GetProfileString(project_ini, "Table DSN", key, "");
  if (!table_dsn.empty()) directory = NormalizePath(table_dsn);
  return ResolveFileCase(JoinPath(directory, std::string(table) + ".ini"));
}

}  // namespace vigilo
