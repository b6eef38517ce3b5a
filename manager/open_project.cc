#include "manager/open_project.h"

#include "common/file_system.h"
#include "common/format.h"
#include "common/ini_profile.h"
#include "common/paths.h"
#include "common/text.h"
#include "data/database_kind.h"
#include "data/odbc_connection.h"
#include "data/project_source.h"
#include "data/project_tables.h"
#include "manager/project_dialog.h"
#include "platform/sql/database.h"

namespace vigilo {
namespace {

constexpr const char* kMiscSection = "Misc";
constexpr const char* kLastDsnKey = "LastDsn";
// Kinds the DBMS Type list offers: all but Sybase.
constexpr size_t kOfferedKinds = 3;
constexpr size_t kDatabaseNameLimit = 64;

// The position of the file name's first dot, or npos.
size_t FirstDotOfName(const std::string& path) {
  size_t separator = LastSeparator(path);
  size_t name_start = separator == std::string::npos ? 0 : separator + 1;
  return path.find('.', name_start);
}

}  // namespace

std::string DbaseProjectIniPath(const std::string& project_file) {
  // Cut in the file name only: a dot in a directory name must not cut the path.
  size_t dot = FirstDotOfName(project_file);
  return ResolveFileCase(project_file.substr(0, dot) + ".ini");
}

std::string DbaseProjectName(const std::string& project_file) {
  std::string name = NamePart(project_file);
  return name.substr(0, name.find('.'));
}

CatalogueDatabaseLookup OdbcCatalogueDatabaseLookup() {
  return [](const CServerPaths& paths, Reporter report, long kind, const std::string& dsn,
            const std::string& project) -> std::optional<std::optional<std::string>> {
    COdbcConnection connection(paths, std::move(report));
    if (!connection.AllocHandles() || !connection.Connect(kind, dsn)) return std::nullopt;
    std::optional<std::vector<std::string>> rows =
        connection.QueryColumn(ProjectDatabaseQuery(kind, project));
    connection.Close();
    if (!rows) return std::nullopt;
    if (rows->empty()) return std::optional<std::string>();
    std::string name = rows->front().substr(0, kDatabaseNameLimit);
    TrimRight(name);
    return std::optional<std::string>(name);
  };
}

std::vector<std::string> MachineDataSources() {
  std::vector<std::string> names = ListDataSources();
  for (std::string& name : names) {
    if (name.size() > kDataSourceNameLimit) name.resize(kDataSourceNameLimit);
  }
  return names;
}

OpenProjectLogic::OpenProjectLogic(const CServerPaths& paths, ProjectSelection& selection,
                                   Prompts& prompts, ProjectBrowser& browser)
    : paths_(paths),
      selection_(selection),
      prompts_(prompts),
      browser_(browser),
      list_data_sources_(MachineDataSources),
      lookup_(OdbcCatalogueDatabaseLookup()) {}

OpenProjectView OpenProjectLogic::Open() {
  OpenProjectView view;
  std::vector<std::string> names = SplitText(KindDisplayNames(), ',');
  if (names.size() > kOfferedKinds) names.resize(kOfferedKinds);
  view.kinds = names;

  std::string last = GetProfileString(paths_.program_ini_path, kMiscSection, kLastDsnKey);
  if (last.empty()) return view;
  std::vector<std::string> parts = SplitText(last, '\\');
  if (parts.size() > 0) selection_.kind = parts[0];
  if (parts.size() > 1) selection_.dsn = parts[1];
  if (parts.size() > 2) selection_.project = parts[2];

  long kind = selection_.Kind();
  if (kind >= 0 && static_cast<size_t>(kind) < view.kinds.size()) {
    view.kind_index = static_cast<int>(kind);
  }
  if (kind != kDbaseKind) {
    view.project_field = selection_.dsn + "\\" + selection_.project;
  } else {
    view.project_field = JoinPath(DbaseProjectDirectory(paths_, selection_.project),
                                  selection_.project);
  }
  return view;
}

std::string OpenProjectLogic::KindChanged(int) { return ""; }

std::optional<long> OpenProjectLogic::EffectiveKind(int kind_index) const {
  if (kind_index >= 0) return kind_index;
  // With no entry selected (a Sybase project remembered in LastDsn) the
  // remembered kind stands; without one there is no kind to work with.
  if (!selection_.kind.empty() && IsKnownKind(selection_.Kind())) return selection_.Kind();
  return std::nullopt;
}

std::optional<std::string> OpenProjectLogic::Browse(int kind_index) {
  std::optional<long> kind = EffectiveKind(kind_index);
  if (!kind) {
    prompts_.Beep();
    return std::nullopt;
  }
  selection_.kind = Format("%ld", *kind);
  if (*kind != kDbaseKind) {
    if (!browser_.ChooseCatalogueProject(selection_, list_data_sources_())) return std::nullopt;
    return selection_.dsn + "\\" + selection_.project;
  }
  selection_.dsn = kServerDirSource;
  std::optional<std::string> file = browser_.ChooseProjectFile(paths_.server_dir);
  if (!file) return std::nullopt;
  std::string name = NamePart(*file);
  size_t dot = name.rfind('.');
  selection_.project = dot == std::string::npos ? name : name.substr(0, dot) + ".dbf";
  return *file;
}

bool OpenProjectLogic::Ok(int kind_index, const std::string& project_field) {
  std::string field = project_field.substr(0, kProjectFieldReadLimit);
  if (field.empty()) {
    prompts_.Beep();
    return false;
  }
  std::optional<long> kind = EffectiveKind(kind_index);
  if (!kind) {
    prompts_.Beep();
    return false;
  }
  selection_.kind = Format("%ld", *kind);
  WaitCursor wait(prompts_);
  return *kind != kDbaseKind ? OkServerProject(*kind) : OkDbaseProject(field);
}

bool OpenProjectLogic::OkServerProject(long kind) {
  std::string ini = ResolveFileCase(JoinPath(paths_.server_dir, selection_.project + ".ini"));
  if (GetProfileString(ini, kOrvikIniSection, kLinkInfoDatafileKey).empty()) {
    prompts_.Message(Format(kInvalidProjectMessage, ini.c_str()));
    return false;
  }
  // The catalogue answer only proves the data source reaches the project; a
  // database name that differs from the data source's name is common and
  // accepted.
  if (!lookup_(paths_, prompts_.AsReporter(), kind, selection_.dsn, selection_.project)) {
    return false;
  }
  WriteLastDsn();
  return true;
}

bool OpenProjectLogic::OkDbaseProject(const std::string& field) {
  std::string file = field;
  if (FirstDotOfName(file) == std::string::npos) file += ".DBF";
  file = ResolveFileCase(file);
  if (!OpensForReadWrite(file)) {
    prompts_.Message(Format(kUnableToOpenMessage, file.c_str()));
    return false;
  }
  std::string ini = DbaseProjectIniPath(file);
  if (GetProfileString(ini, kOrvikIniSection, kLinkInfoDatafileKey).empty()) {
    prompts_.Message(Format(kInvalidProjectMessage, ini.c_str()));
    return false;
  }
  selection_.dsn = kServerDirSource;
  selection_.project = DbaseProjectName(file);
  WriteLastDsn();
  return true;
}

void OpenProjectLogic::WriteLastDsn() {
  // The remembered choice is a convenience: failing to write it does not
  // keep the supervisor from the project.
  WriteProfileString(paths_.program_ini_path, kMiscSection, kLastDsnKey,
                     selection_.kind + "\\" + selection_.dsn + "\\" + selection_.project + "\\");
}

}  // namespace vigilo
