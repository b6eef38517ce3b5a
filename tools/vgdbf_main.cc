// vgdbf: shows dBase tables (rule table, user and group tables, project data)
// to administrators.
//
//   vgdbf info FILE
//       version, record count and the fields (name, type, width, decimals)
//   vgdbf dump FILE [--filter EXPR] [--order EXPR] [--deleted]
//       one record a line, fields separated by tabs, trailing blanks removed;
//       --filter keeps the records an xBase expression holds for, --order
//       sorts by a field (or any xBase expression), --deleted includes deleted
//       records and starts every line with a column holding "*" for a deleted
//       record and nothing otherwise. Tabs, line ends and backslashes inside
//       values are written as \t, \n, \r and \\.
//
// Exit status: 0 on success, 1 when the table cannot be read or an expression
// is wrong, 2 on a usage error.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "common/format.h"
#include "common/program_info.h"
#include "platform/xbase/dbf_query.h"
#include "platform/xbase/dbf_table.h"

namespace {

constexpr const char* kUsage =
    "usage: vgdbf info FILE\n"
    "       vgdbf dump FILE [--filter EXPR] [--order EXPR] [--deleted]\n"
    "\n"
    "info  prints the table's version, record count and fields\n"
    "dump  prints one record a line, fields separated by tabs\n"
    "  --filter EXPR  only records for which the xBase expression is true,\n"
    "                 e.g. --filter \"UPPER(Action) = 'NOTIFY'\"\n"
    "  --order EXPR   in the order of a field or xBase expression\n"
    "  --deleted      include deleted records, marked \"*\" in a first column\n"
    "       vgdbf -h|--help | --version\n"
    "Exit status: 0 done, 1 the table cannot be read or an expression is wrong,\n"
    "2 wrong usage.\n";

int Usage(const std::string& problem) {
  std::cerr << "vgdbf: " << problem << "\n" << kUsage;
  return 2;
}

std::string VersionText(uint8_t version) {
  switch (version) {
    case 0x03: return "dBase III/IV without memo";
    case 0x83: return "dBase III with memo";
    case 0x8B: return "dBase IV with memo";
    case 0xCB: return "dBase IV SQL table with memo";
    case 0x43: return "dBase IV SQL table";
    case 0x63: return "dBase IV SQL system table";
    default: return "unknown";
  }
}

void PrintInfo(vigilo::DbfTable& table) {
  std::string date = table.LastUpdate();
  std::cout << "File: " << table.path() << "\n"
            << vigilo::Format("Version: 0x%02X (%s)\n", table.version_byte(),
                              VersionText(table.version_byte()).c_str())
            << "Last update: " << date.substr(0, 4) << "-" << date.substr(4, 2) << "-"
            << date.substr(6, 2) << "\n"
            << "Records: " << table.RecordCount() << "\n"
            << "Record length: " << table.record_length() << "\n"
            << "Production index announced: "
            << (table.announces_production_index() ? "yes" : "no") << "\n"
            << "Fields: " << table.FieldCount() << "\n"
            << vigilo::Format("  %3s  %-10s  %s  %5s  %8s\n", "#", "Name", "Type", "Width",
                              "Decimals");
  for (int i = 0; i < table.FieldCount(); ++i) {
    const vigilo::DbfField& field = table.Field(i);
    std::cout << vigilo::Format("  %3d  %-10s  %c     %5u  %8u\n", i + 1, field.name.c_str(),
                                field.type, field.width, field.decimals);
  }
}

std::string Escaped(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

void PrintRecord(vigilo::DbfTable& table, bool deleted_column, std::string& line) {
  line.clear();
  if (deleted_column) line += table.IsDeleted() ? "*\t" : "\t";
  for (int i = 0; i < table.FieldCount(); ++i) {
    if (i > 0) line += '\t';
    line += Escaped(table.Text(i));
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stdout);
}

int Dump(vigilo::DbfTable& table, const std::string& filter, const std::string& order,
         bool deleted) {
  table.ShowDeleted(deleted);
  vigilo::DbfQuery query(table);
  query.SetQuery(filter);
  query.SetRelationOrder(order);
  std::string line;
  for (bool found = query.QueryFirst(); found; found = query.QueryNext()) {
    PrintRecord(table, deleted, line);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage("no command given");
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::cout << kUsage;
    return 0;
  }
  if (args[0] == "--version") {
    vigilo::PrintVersion("vgdbf");
    return 0;
  }
  const std::string& command = args[0];
  if (command != "info" && command != "dump") return Usage("unknown command '" + command + "'");
  if (args.size() < 2) return Usage(command + " needs a FILE");
  std::string path = args[1];
  std::string filter, order;
  bool deleted = false;
  for (size_t i = 2; i < args.size(); ++i) {
    if (command == "dump" && (args[i] == "--filter" || args[i] == "--order")) {
      if (i + 1 >= args.size()) return Usage(args[i] + " needs an xBase expression");
      (args[i] == "--filter" ? filter : order) = args[i + 1];
      ++i;
    } else if (command == "dump" && args[i] == "--deleted") {
      deleted = true;
    } else {
      return Usage("unexpected argument '" + args[i] + "'");
    }
  }
  try {
    auto table = vigilo::DbfTable::Open(path, false);
    if (command == "info") {
      PrintInfo(*table);
      return 0;
    }
    return Dump(*table, filter, order, deleted);
  } catch (const vigilo::DbfError& error) {
    std::cerr << "vgdbf: " << error.what() << "\n";
    return 1;
  }
}
