// The text work of update rules: turning a rule's Values text ("field=value"
// assignments joined by ";") into the SET list and the UPDATE statement
// template for the table's database kind, and filling that template with a
// record's FormID at each tick.
//
// CProjectTable::BuildUpdateStatement (at load) and UpdateRecords (at each
// tick) are built on these; they are free of any database so that every
// literal can be checked character for character.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/date_settings.h"
#include "data/field_def.h"

namespace vigilo {

// The literal a value is written as in the SET list, by the field's type and
// the database kind:
//   type 1:  the leading decimal number, unquoted;
//   type 3:  kind 0: "DATE()" (any letter case) unchanged, otherwise the date
//            as #MM/DD/CCYY# ("#value#" when it is no date);
//            kinds 1 to 3: 'value';
//   type 12: a value readable as a date and time gives, kind 0: the date part
//            as #MM/DD/CCYY# (dBase files keep dates, not times); kinds 1 and
//            3: 'MM/DD/CCYY HH:MM:SS'; kind 2: TO_DATE('MM/DD/CCYY HH:MM:SS',
//            'MM/DD/YYYY HH24:MI:SS'); an unreadable value gives NULL;
//   others:  'value' (types 7 and 11 too).
// Apostrophes inside single quotes are doubled.
std::string UpdateValueLiteral(const CFieldDef& field, std::string_view value, int32_t db_type,
                               const DateSettings& dates);

// The SET list of a Values text: one "%s.%s = %s" entry (table, field name,
// literal) per usable assignment, in order, joined by ","; for kind 2 the
// entry is "%s = %s" (field name, literal), as the server standing in for
// owner.table projects refuses a qualified target column. An assignment is
// split at its first "="; one without "=", one naming no field of the list
// (exact letter case; the first definition of that name counts), one naming
// a field with flag 0x2000 and one whose value does not suit the field
// (InvalidUpdateValue, data/rule_check.h) are left out. Empty when none is
// usable.
std::string BuildSetList(std::string_view values, const std::vector<CFieldDef>& fields,
                         std::string_view table, int32_t db_type, const DateSettings& dates);

// "UPDATE %s SET %s WHERE FormID = %%ld" (From-name, SET list): a template
// holding "%ld" for the FormID. A "%" of the SET list is kept as "%%" so that
// filling the template gives it back unchanged.
std::string UpdateStatementTemplate(std::string_view table_from, std::string_view set_list);

// The statement of one record: the template filled with the FormID.
std::string UpdateStatementFor(const std::string& statement_template, long form_id);

// How many records one statement to a server names at most: within every
// server's limit on the length of an IN list and the rows of one VALUES.
inline constexpr size_t kRecordsPerServerStatement = 1000;

// The statements of many records at once, for servers: the template's
// "FormID = %ld" becomes "FormID IN (%ld,%ld,...)" of at most `per_statement`
// records each (servers limit the length of an IN list), in the records'
// order. Empty when the template does not end in "FormID = %ld".
std::vector<std::string> UpdateStatementsForAll(const std::string& statement_template,
                                                const std::vector<int64_t>& form_ids,
                                                size_t per_statement);

// The same statement with a parameter marker "?" for the FormID, prepared
// once and run for each record of a rule (Database::ExecuteForEach).
std::string ParameterizedUpdateStatement(const std::string& statement_template);

}  // namespace vigilo
