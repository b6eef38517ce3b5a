#include "service/flag_rebuild_command.h"

#include <vector>

#include "common/text.h"
#include "data/server_paths.h"
#include "service/installation_lock.h"
#include "service/preview_engine.h"
#include "service/project.h"
#include "service/project_table.h"
#include "service/rule_preview.h"

namespace vigilo {
namespace {

// The loaded tables the argument names.
std::vector<CProjectTable*> TablesNamed(PreviewEngine& engine, const std::string& argument) {
  const bool qualified = argument.find('\\') != std::string::npos;
  std::vector<CProjectTable*> found;
  for (const auto& project : *engine.worker().projects) {
    for (const auto& table : project->tables()) {
      const std::string& name = qualified ? table->TableArgument() : table->name();
      if (EqualsNoCase(name, argument)) found.push_back(table.get());
    }
  }
  return found;
}

}  // namespace

int RunRebuildFlags(const std::string& argument, bool mark_current, std::ostream& out,
                    std::ostream& err) {
  InstallationLock lock;
  std::string why;
  if (!lock.Acquire(InstallationLock::PathFor(CServerPaths().server_dir), &why)) {
    err << why << "\n";
    return 1;
  }
  // Loaded as a preview: the load itself must not touch the flag table.
  PreviewEngine engine(/*changes_nothing=*/true, err);
  if (!engine.Load()) return 1;
  const std::vector<CProjectTable*> tables = TablesNamed(engine, argument);
  if (tables.empty()) {
    err << "No loaded rule watches table " << argument
        << " (name it PROJECT\\TABLE as the rule table does)\n";
    return 1;
  }
  if (tables.size() > 1) {
    err << "Several projects have a table " << argument << ": name it PROJECT\\TABLE\n";
    return 1;
  }
  CProjectTable& table = *tables.front();
  if (!table.project()->OpenProject()) {
    err << table.TableArgument() << ": the project database could not be opened\n";
    return 1;
  }
  if (!table.RebuildFlagTable(&why)) {
    err << table.TableArgument() << ": the flag table could not be rebuilt: " << why << "\n";
    return 1;
  }
  table.has_flag_table = true;
  out << "Flag table " << table.names().flag << " of " << table.TableArgument()
      << " rebuilt empty\n";
  if (!mark_current) return 0;
  int status = 0;
  for (const PreviewEngine::Entry& entry : engine.Rules({})) {
    if (entry.table == &table && !MarkRuleCurrent(engine, entry, out, err)) status = 1;
  }
  return status;
}

}  // namespace vigilo
