// vgsql: runs one SQL statement through the system's database interface and
// prints the result, for administrators checking a data source or a dBase
// directory the way the rule service sees it.
//
//   vgsql CONNECTION-STRING "STATEMENT"
//   vgsql --dbase DIR "STATEMENT"
//
// A statement that returns rows (SELECT, EXPLAIN, WITH, PRAGMA, VALUES)
// prints them tab-separated, one line per row; any other statement prints
// the number of rows it changed. A failure prints the driver's message on stderr and exits
// with status 1; wrong usage exits with status 2.
#include <cstdio>
#include <string>

#include "common/program_info.h"
#include "common/text.h"
#include "platform/sql/database.h"

namespace {

constexpr char kUsage[] =
    "usage: vgsql CONNECTION-STRING \"STATEMENT\"\n"
    "       vgsql --dbase DIR \"STATEMENT\"\n"
    "       vgsql -h|--help | --version\n"
    "Runs one statement the way the rule service does and prints the rows it\n"
    "returns (tab-separated) or the number of rows it changed.\n"
    "  CONNECTION-STRING  an ODBC connection string, e.g. \"DSN=orvik;UID=u;PWD=p\"\n"
    "                     (data sources come from odbc.ini: ODBCINI, ODBCSYSINI)\n"
    "  --dbase DIR        the embedded dBase engine on the .dbf files of DIR\n"
    "Exit status: 0 done, 1 the statement or connection failed, 2 wrong usage.\n";

int Usage(const char* problem) {
  std::fprintf(stderr, "vgsql: %s\n%s", problem, kUsage);
  return 2;
}

bool ReturnsRows(const std::string& statement) {
  std::string head = vigilo::ToUpper(vigilo::Trimmed(statement));
  for (const char* word : {"SELECT", "EXPLAIN", "WITH", "PRAGMA", "VALUES"}) {
    if (head.rfind(word, 0) == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::string connection;
  std::string statement;
  std::string first = argc > 1 ? argv[1] : "";
  if (first == "-h" || first == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (first == "--version") {
    vigilo::PrintVersion("vgsql");
    return 0;
  }
  if (argc == 1) return Usage("no CONNECTION-STRING given");
  if (first == "--dbase" && argc < 4) {
    return Usage(argc == 2 ? "--dbase needs a DIR and a STATEMENT" : "no STATEMENT given");
  }
  if (argc == 4 && first == "--dbase") {
    connection = std::string("Driver={Microsoft dBase Driver (*.dbf)};DriverId=277;"
                             "DefaultDir=") + argv[2] + ";DSN=;";
    statement = argv[3];
  } else if (argc == 3 && argv[1][0] != '-') {
    connection = argv[1];
    statement = argv[2];
  } else if (argc == 2 && argv[1][0] != '-') {
    return Usage("no STATEMENT given");
  } else {
    return Usage(first[0] == '-' && first != "--dbase"
                     ? ("unknown option '" + first + "'").c_str()
                     : "too many arguments");
  }
  try {
    vigilo::Database db;
    db.Open(connection, vigilo::Database::kNoOdbcDialog);
    if (ReturnsRows(statement)) {
      vigilo::Recordset rs;
      rs.Open(db, statement);
      int columns = rs.ColumnCount();
      for (; !rs.IsEOF(); rs.MoveNext()) {
        for (int i = 0; i < columns; ++i) {
          std::printf("%s%s", i ? "\t" : "", rs.GetText(i).c_str());
        }
        std::printf("\n");
      }
    } else {
      long changed = db.ExecuteSQL(statement);
      std::printf("%ld\n", changed);
    }
  } catch (const vigilo::DbException& e) {
    std::fprintf(stderr, "vgsql: %s", e.Message().c_str());
    return 1;
  }
  return 0;
}
