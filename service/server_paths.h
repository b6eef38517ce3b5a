// CServerPaths: the settings object of both programs.
//
// Built wherever paths are needed; construction does all the reading: the
// program directory, the program INI file vigtab.ini in it, the server directory
// named there (written back when absent), the paths derived from it, and the
// user's short-date pattern. Paths are joined with "/" and carry no trailing
// separator of their own making. Not shared between threads; build one per use.
#pragma once

#include <cstdint>
#include <string>

namespace vigilo {

class CServerPaths {
 public:
  // Which program builds the settings: the two differ in the date default and
  // the help file name.
  enum class Program { kService, kManager };

  explicit CServerPaths(Program program = Program::kService);
  virtual ~CServerPaths() = default;

  char date_separator = '/';        // from the short-date pattern
  char date_order[3] = {'M', 'D', 'Y'};  // component letters in pattern order
  std::string date_picture = "MM/DD/YY";  // normalised pattern, e.g. DD.MM.YY
  std::string date_default;         // "" in the service, "MM/DD/YY" in the manager
  std::string message;              // message buffer other parts fill
  std::string server_dir;           // server directory of the installation
  std::string rule_table_path;      // <server>/orvhome/Vigtab.dbf
  std::string program_ini_path;     // <program>/vigtab.ini
  std::string orvik_ini_path;       // <server>/morvik.ini
  std::string title = "Morvane Vigilo";  // program INI section and caption
  std::string program_dir;          // directory of the running program
  std::string help_path;            // <program>/vigtab.hlp or vigilo.hlp
};

// Program directory used by every CServerPaths built afterwards: the directory
// of /proc/self/exe unless --home DIR or VIGILO_HOME named one.
void SetProgramDirectory(const std::string& dir);
std::string ProgramDirectory();

// FIRING_INTERVAL of section OPTIONS in vigtab.ini, in seconds (minutes * 60);
// writes "5" back and returns 300 when the key is empty or absent.
uint32_t GetFiringInterval();

// Writes seconds as key LAST_POLL_TIME of section VIGTAB into a table INI file.
// Returns false when the file could not be written.
bool WriteLastPollTimeKey(const std::string& table_ini_path, int32_t seconds);

}  // namespace vigilo
