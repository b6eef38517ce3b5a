// What the three Where Condition dialogs share: which one a field is edited
// in, the caption naming the field, the search options of the value-list and
// keyword dialogs, and the value text that means "the field is empty".
#pragma once

#include <string>
#include <string_view>

#include "data/condition.h"
#include "data/field_def.h"

namespace vigilo {

inline constexpr const char* kWhereConditionTitle = "Where Condition Dialog";
inline constexpr const char* kWhereCaption = "Where %s is";
inline constexpr const char* kWhereQualifiedCaption = "Where %s %s is";
// A value of one blank: the empty test.
inline constexpr const char* kEmptyValue = " ";

enum class WhereDialog { kOperator, kValueList, kKeyword };

// Numbers, dates and date-times are compared with an operator; lists and
// users are chosen from their values; every other type, and a column the
// table does not define, is searched by keywords.
WhereDialog WhereDialogFor(const CFieldDef* field);

// The name a dialog shows for the clause's field: its label, else its name,
// else the clause's column.
std::string FieldLabel(const Clause& clause, const CFieldDef* field);

// "Where %s is" of the field label, or "Where %s %s is" with the qualifier.
std::string WhereCaption(const Clause& clause, const CFieldDef* field);

// How the items of a value list or keyword list are joined: not at all (the
// empty test), by "," (any of them) or by "&" (all of them).
enum class SearchOption { kNone, kOr, kAnd };

// The option a stored value shows with: none for a value beginning with a
// blank, and for a value holding "&", or otherwise.
SearchOption SearchOptionOf(std::string_view value);

// The text up to the first occurrence of what; the whole text without one.
std::string CutBefore(std::string_view text, std::string_view what);

}  // namespace vigilo
