#include "manager/select_tables.h"

#include <algorithm>

#include "common/ini_profile.h"
#include "common/text.h"
#include "data/database_kind.h"
#include "data/project_source.h"
#include "data/project_tables.h"
#include "data/table_names.h"
#include "manager/where_condition.h"

namespace vigilo {

std::vector<std::string> ProjectTableNames(const CServerPaths& paths, long kind,
                                           std::string_view dsn, std::string_view project) {
  std::vector<std::string> tables;
  ProjectSource source = ResolveProjectSource(paths, kind, dsn, project);
  if (GetProfileKeys(source.ini_path, kOrvikIniSection).empty()) return tables;
  tables.emplace_back(project);
  for (const ProjectIniTable& listed : ReadProjectIniTables(source.ini_path)) {
    tables.push_back(kind == kDbaseKind ? listed.table : listed.value);
  }
  return tables;
}

std::vector<std::string> ProjectTableFromNames(const CServerPaths& paths, long kind,
                                               std::string_view dsn, std::string_view project) {
  std::vector<std::string> names;
  ProjectSource source = ResolveProjectSource(paths, kind, dsn, project);
  for (const std::string& table : ProjectTableNames(paths, kind, dsn, project)) {
    TableNames resolved = ResolveTableNames(kind, project, source, table);
    if (!resolved.from_table.empty()) {
      names.push_back(resolved.from_table);
      continue;
    }
    // A table without change history is named the same way.
    std::string qualified = kind == kDbaseKind ? table : QualifiedName(kind, project, table);
    names.push_back(FromName(resolved, qualified));
  }
  return names;
}

SelectTablesLogic::SelectTablesLogic(std::vector<std::string> tables, std::string_view current,
                                     Prompts& prompts)
    : tables_(std::move(tables)), prompts_(prompts) {
  for (const std::string& item : SplitNonEmpty(current, ',')) {
    auto found = std::find(tables_.begin(), tables_.end(), Trimmed(item));
    if (found != tables_.end()) selected_.push_back(static_cast<size_t>(found - tables_.begin()));
  }
  std::sort(selected_.begin(), selected_.end());
  selected_.erase(std::unique(selected_.begin(), selected_.end()), selected_.end());
}

std::optional<std::string> SelectTablesLogic::Ok(const std::vector<size_t>& selected_rows) {
  std::vector<size_t> rows = selected_rows;
  std::sort(rows.begin(), rows.end());
  std::string joined;
  for (size_t row : rows) {
    if (row >= tables_.size()) continue;
    if (!joined.empty()) joined += ',';
    joined += tables_[row];
  }
  if (joined.empty()) {
    prompts_.Beep();
    return std::nullopt;
  }
  return joined;
}

}  // namespace vigilo
