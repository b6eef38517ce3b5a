// CServerPaths: the settings object of both programs.
//
// Built wherever paths are needed; construction does all the reading: the
// program directory, the program INI file vigtab.ini in it, the server directory
// named there (written back when absent), the paths derived from it, and the
// user's short-date pattern. Paths are joined with "/" and carry no trailing
// separator of their own making. SERVERDIR may use "\" or "/" and may end in a
// separator ("/srv/orvik/" gives the same paths as "/srv/orvik"); a relative one
// lies below the program directory. The Orvik INI and rule table paths name the
// files in the letter case found on disk when they exist in another case.
// Not shared between threads; build one per use.
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
// given to SetProgramDirectory (--home DIR), else VIGILO_HOME, else that of
// /proc/self/exe. Both are made absolute, with "/" separators and no trailing
// one. SetProgramDirectory("") forgets the chosen directory again.
void SetProgramDirectory(const std::string& dir);
// The program directory of a --home option: chosen as above and exported as
// VIGILO_HOME, through which the mail-system provider, loaded later, finds
// its mapi.ini.
void UseHomeDirectory(const std::string& dir);
std::string ProgramDirectory();

// Whether settings that are missing from vigtab.ini (SERVERDIR, FIRING_INTERVAL)
// are written back with their defaults when read; on by default. The
// installation checks and previews of vgservice turn it off, as they must leave
// every file as they found it. Process-wide.
void SetDefaultsWrittenBack(bool written_back);
bool DefaultsWrittenBack();

// FIRING_INTERVAL of section OPTIONS in vigtab.ini, in seconds (minutes * 60);
// writes "5" back and returns 300 when the key is empty or absent. A value of
// zero minutes, a negative one or one that does not start with digits gives 60
// seconds, so the firing loop never spins; a huge one is capped, never wrapped.
// For tests and benchmarks only, VIGILO_TEST_INTERVAL_SECONDS (a positive
// number) replaces the result with that many seconds.
uint32_t GetFiringInterval();

// Size in bytes at which the run log file is rotated: key "LOG_MAX_SIZE" of
// section "OPTIONS" of vigtab.ini, 10485760 (10 MB) when absent or not a
// number (not written back); 0 means never.
uint64_t GetRunLogMaxSize();

// How many rotated run log files (vglog.ini.1, .2, ...) are kept: key
// "LOG_KEEP" of section "OPTIONS" of vigtab.ini, 0 to 99, 3 when absent or
// not such a number; with 0 a full log starts again empty.
int GetRunLogKeep();

// Writes seconds as key LAST_POLL_TIME of section VIGTAB into a table INI file.
// Returns false when the file could not be written.
bool WriteLastPollTimeKey(const std::string& table_ini_path, int32_t seconds);

}  // namespace vigilo
