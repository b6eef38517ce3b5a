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

#include "common/text.h"
#include "platform/sql/database.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: vgsql CONNECTION-STRING \"STATEMENT\"\n"
               "       vgsql --dbase DIR \"STATEMENT\"\n");
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
  if (argc == 4 && std::string(argv[1]) == "--dbase") {
    connection = std::string("Driver={Microsoft dBase Driver (*.dbf)};DriverId=277;"
                             "DefaultDir=") + argv[2] + ";DSN=;";
    statement = argv[3];
  } else if (argc == 3 && argv[1][0] != '-') {
    connection = argv[1];
    statement = argv[2];
  } else {
    Usage();
    return 2;
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
