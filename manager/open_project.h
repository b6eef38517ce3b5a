// The Open Project dialog's behaviour: the supervisor picks the database kind
// and, through Browse, the project (a data source and a catalogue project for
// the client-server kinds, a project file for dBase projects); OK checks the
// project and remembers the choice as LastDsn in section Misc of vigtab.ini,
// from where the next opening offers it again.
//
// The dialogs Browse opens (the Project dialog, the file chooser) are behind
// ProjectBrowser, so the logic is driven without a display.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "data/server_paths.h"
#include "manager/prompts.h"
#include "manager/project_selection.h"

namespace vigilo {

inline constexpr const char* kOpenProjectTitle = "Open Project";
inline constexpr const char* kDbmsTypeLabel = "DBMS &Type:";
inline constexpr const char* kProjectFieldLabel = "&Project:";
inline constexpr const char* kBrowseButton = "&Browse...";
inline constexpr const char* kOkButton = "&OK";
inline constexpr const char* kCancelButton = "&Cancel";
inline constexpr const char* kHelpButton = "&Help";
// Read from the field on OK.
inline constexpr size_t kProjectFieldReadLimit = 512;
// The file chooser's filter for dBase project files.
inline constexpr const char* kDbaseFileFilter = "Database Files (*.dbf)";

inline constexpr const char* kInvalidProjectMessage = "Invalid Project Name %s!";
inline constexpr const char* kUnableToOpenMessage = "Unable to open %s!";

// What Browse opens.
class ProjectBrowser {
 public:
  virtual ~ProjectBrowser() = default;
  // The Project dialog, run modally over the data-source names; true on its OK
  // (the selection then holds the data source and the project).
  virtual bool ChooseCatalogueProject(ProjectSelection& selection,
                                      std::vector<std::string> data_sources) = 0;
  // A file-open dialog starting in the directory, offering *.dbf files; the
  // chosen file's full path, or std::nullopt on Cancel.
  virtual std::optional<std::string> ChooseProjectFile(const std::string& start_dir) = 0;
};

// What the dialog shows.
struct OpenProjectView {
  std::vector<std::string> kinds;  // the DBMS Type entries
  int kind_index = -1;             // the selected entry; -1 none
  std::string project_field;       // the read-only Project field
};

// The database name of a project in the master catalogue behind a data source.
// Outer std::nullopt: the connection or the query failed (reported); inner
// std::nullopt: the catalogue has no row for the project.
using CatalogueDatabaseLookup = std::function<std::optional<std::optional<std::string>>(
    const CServerPaths& paths, Reporter report, long kind, const std::string& dsn,
    const std::string& project)>;
CatalogueDatabaseLookup OdbcCatalogueDatabaseLookup();

// Every data source that the ODBC driver manager lists, each cut to 30
// characters, in its order.
std::vector<std::string> MachineDataSources();

class OpenProjectLogic {
 public:
  OpenProjectLogic(const CServerPaths& paths, ProjectSelection& selection, Prompts& prompts,
                   ProjectBrowser& browser);

  // Replace the machine's data sources or the catalogue (tests).
  void set_data_source_lister(std::function<std::vector<std::string>()> lister) {
    list_data_sources_ = std::move(lister);
  }
  void set_catalogue_lookup(CatalogueDatabaseLookup lookup) { lookup_ = std::move(lookup); }

  // On opening: the DBMS Type entries (the first three kinds; Sybase is not
  // offered), and the last selection read from LastDsn: its kind's entry (none
  // for a kind beyond the list) and its project in the field.
  OpenProjectView Open();

  // A different DBMS Type empties the Project field.
  std::string KindChanged(int index);

  // Browse with the list's position: the new Project field text, or
  // std::nullopt when the browse was cancelled (the field stays).
  std::optional<std::string> Browse(int kind_index);

  // OK with the list's position and the field: true when the project checks
  // out (selection filled, LastDsn written); false after a beep or a message,
  // and the dialog stays.
  bool Ok(int kind_index, const std::string& project_field);

 private:
  // The kind the gesture works on: the list's position, or, with no entry
  // selected, the kind of the last selection when it is a known kind.
  std::optional<long> EffectiveKind(int kind_index) const;
  bool OkServerProject(long kind);
  bool OkDbaseProject(const std::string& field);
  void WriteLastDsn();

  const CServerPaths& paths_;
  ProjectSelection& selection_;
  Prompts& prompts_;
  ProjectBrowser& browser_;
  std::function<std::vector<std::string>()> list_data_sources_;
  CatalogueDatabaseLookup lookup_;
};

// The project INI file of a dBase project file: the path with the file name
// cut at its first dot, plus ".ini" (in the letter case found on disk).
std::string DbaseProjectIniPath(const std::string& project_file);
// The project name of a dBase project file: its file name cut at its first dot.
std::string DbaseProjectName(const std::string& project_file);

}  // namespace vigilo
