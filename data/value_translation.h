// Translation of the values of one condition clause into a parenthesised
// comparison, by field type and database kind, in SQL or the xBase filter
// dialect (see TranslationContext).
//
// Every text placed between single quotes in SQL has its apostrophes doubled,
// so a value can neither break the statement nor cut a condition short; the
// xBase dialect, which has no escape, encloses a text holding an apostrophe in
// double quotes instead. A value that cannot be translated gives the empty
// text; for an invalid date the message "Invalid date value (%s) in the %s
// field!\n" goes to the context's reporter.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "data/dates.h"
#include "data/field_def.h"
#include "data/translation_context.h"

namespace vigilo {

// Translates a value text that may be a list: items joined by "," mean any of
// them (OR), else items joined by "&" mean all of them (AND); each item is
// translated alone and the results are joined as "%s %s %s" (so far, word,
// next) and enclosed in "(%s)". Items that give no text are left out. A single
// value is translated without the enclosing parentheses. alias may be empty.
std::string TranslateValues(std::string_view values, const CFieldDef& field,
                            std::string_view alias, const TranslationContext& context);

// The items of a value text as TranslateValues splits it: at every "," when
// it holds one, else at every "&", empty items left out; a text that is no
// list is its own single item.
std::vector<std::string> ValueListItems(std::string_view values);

// Translates one value: a leading "=" is dropped, then the field type decides
// (1 and 7 numeric, 11 seconds, 3 date, 12 date-time in the service, every
// other type text; the pseudo-field "ChngHist->ChngDate" counts as text).
std::string TranslateValue(std::string_view value, const CFieldDef& field,
                           std::string_view alias, const TranslationContext& context);

// The date-time literal of the service for a kind: "DateTime()" becomes
// "getdate()" (kinds 1, 3) or "sysdate" (kind 2); a date and time becomes
// '%m/%d/%Y %H:%M:%S' (kinds 1, 3) or TO_DATE('...','MM/DD/YYYY HH24:MI:SS')
// (kind 2). Kind 0 and unreadable texts give "".
std::string DateTimeLiteral(std::string_view value, const TranslationContext& context);

// A date and time as a client-server database takes it: TO_DATE('%m/%d/%Y
// %H:%M:%S','MM/DD/YYYY HH24:MI:SS') on kind 2, '%m/%d/%Y %H:%M:%S' on the
// others. Shared by conditions and update values.
std::string ServerDateTimeLiteral(const LocalDateTime& when, long kind);

}  // namespace vigilo
