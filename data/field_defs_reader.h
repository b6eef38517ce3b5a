// Reading a table's field definitions from its table INI file: the "Field"
// lines of the section named by the table's first form name, followed by the
// five change-history pseudo-fields every table gets (ChngHist->ChngDate,
// ChngBy, ChngWhat, ChngFrom, ChngTo).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "data/field_def.h"
#include "data/server_paths.h"

namespace vigilo {

// Appends to fields the definitions of the table INI file and then the five
// pseudo-fields. User fields (type 9) get the process-wide user-name list as
// choices; fields with a lookup text lose the "code:" before each choice. When
// the file is missing, cannot be read or is not writable, *message (when
// given) receives "Unable to open %s!" (the path) and only the pseudo-fields
// are appended. Returns false in that case.
bool ReadFieldDefs(const std::string& table_ini_path, std::vector<CFieldDef>& fields,
                   std::string* message = nullptr);

// The table INI path the rule manager reads the definitions of a table from:
// the server directory (kind 0: the project's "Orvik Dsn" directory), or the
// project INI's "Table DSN" directory for the table, joined with
// "<table>.ini" and resolved to the letter case on disk.
std::string FieldDefsIniPath(const CServerPaths& paths, long kind, std::string_view project,
                             std::string_view table);

// The five change-history pseudo-fields for a field list: ChngWhat lists the
// names of the fields that carry the history flag, in list order.
std::vector<CFieldDef> ChangeHistoryFields(const std::vector<CFieldDef>& fields);

}  // namespace vigilo
