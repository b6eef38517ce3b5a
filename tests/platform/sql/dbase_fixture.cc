#include "tests/platform/sql/dbase_fixture.h"

#include "common/format.h"

namespace vigilo::test {

std::vector<Record> QueryRows(Database& db, const std::string& statement) {
  Recordset rs;
  rs.Open(db, statement);
  std::vector<Record> rows;
  for (; !rs.IsEOF(); rs.MoveNext()) {
    Record row;
    for (int i = 0; i < rs.ColumnCount(); ++i) row.push_back(rs.GetText(i));
    rows.push_back(row);
  }
  return rows;
}

std::string DbaseConnectionString(const std::string& dir) {
  return Format("Driver={Microsoft dBase Driver (*.dbf)};DriverId=277;DefaultDir=%s;DSN=;",
                dir.c_str());
}

std::vector<DbfField> RuleTableFields() {
  return {{"RuleId", 'N', 8, 0},     {"DbType", 'N', 8, 0},     {"Dsn", 'C', 64, 0},
          {"DbTable", 'C', 64, 0},   {"Action", 'C', 32, 0},    {"Target", 'C', 32, 0},
          {"Values", 'C', 128, 0},   {"Cond", 'C', 255, 0},     {"Flag", 'N', 8, 0},
          {"Reserved1", 'C', 32, 0}, {"Reserved2", 'C', 32, 0}, {"Reserved3", 'C', 32, 0},
          {"Reserved4", 'C', 32, 0}, {"Reserved5", 'C', 32, 0}};
}

std::vector<DbfField> BugsFields() {
  return {{"FormID", 'N', 10, 0}, {"Title", 'C', 40, 0},  {"Status", 'C', 10, 0},
          {"Priority", 'N', 4, 0}, {"DueDate", 'D', 8, 0}, {"ATrail", 'M', 10, 0},
          {"Locker", 'C', 20, 0}};
}

std::vector<DbfField> HistoryFields() {
  return {{"FormID", 'N', 10, 0},  {"ChngDate", 'D', 8, 0}, {"ChngBy", 'C', 20, 0},
          {"ChngWhat", 'C', 20, 0}, {"ChngFrom", 'C', 60, 0}, {"ChngTo", 'C', 60, 0}};
}

std::vector<DbfField> PostFields() {
  return {{"FROM", 'C', 20, 0},   {"TO", 'C', 20, 0},     {"DATE", 'C', 10, 0},
          {"ISNEW", 'N', 1, 0},   {"STATUS", 'C', 1, 0},  {"BUGNUM", 'N', 10, 0},
          {"DBNAME", 'C', 40, 0}, {"MESSAGE", 'C', 254, 0}};
}

void DbaseProjectTest::SetUp() {
  WriteDbf(dir_.File("Bugs.dbf"), BugsFields(),
           {{"1", "Crash on start", "Open", "1", "19990131", "created", "ann"},
            {"2", "Slow report", "Closed", "3", "19990215", "", ""},
            {"3", "Wrong total", "Open", "2", "", "", ""},
            {"4", "Typo in help", "Fixed", "5", "20010101", "", "bob"}});
  WriteDbf(dir_.File("ChHist.dbf"), HistoryFields(),
           {{"1", "19990101", "ann", "Status", "New", "Open"},
            {"2", "19990102", "bob", "Status", "Open", "Closed"},
            {"2", "19990103", "bob", "Priority", "1", "3"},
            {"3", "19990104", "cid", "Title", "Total", "Wrong total"},
            {"4", "19990105", "ann", "Status", "Open", "Fixed"}});
  db_.Open(DbaseConnectionString(dir_.path()), Database::kNoOdbcDialog);
}

}  // namespace vigilo::test
