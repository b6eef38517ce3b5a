// Whether a rule can run on its table as written: the check the service makes
// when it loads a rule, and that the rule manager and a configuration check
// can make on a rule before it is stored or started.
//
// A rule is refused when running it would act on other records or other
// fields than its text says: a condition naming a column that is not a field
// of the table, a condition value that cannot be translated (an invalid date,
// a number that is not a number), an Action other than "Update" and "Notify",
// an update naming a field the table does not have, an update assignment
// without "=", or an update of which no assignment can be made. Update values
// that do not suit their field (a date that is not a date) refuse nothing:
// their assignment is left out with the invalid-value message.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/date_settings.h"
#include "data/dates.h"
#include "data/field_def.h"
#include "data/rule.h"
#include "data/translation_context.h"

namespace vigilo {

// One assignment of an update rule's Values text ("field=value", the
// assignments joined by ";"), split at its first "=".
struct UpdateAssignment {
  std::string field;
  std::string value;
  bool has_value = false;  // false when the assignment holds no "="
};

// The non-empty assignments of a Values text, in order.
std::vector<UpdateAssignment> SplitUpdateValues(std::string_view values);

// Why a value cannot be written into a field, as the message shown to the
// supervisor ("Invalid date value (%s) in the %s field!\n" with the date
// picture for a date or date-time that is not one; "Invalid number value (%s)
// in the %s field!\n" with the value for a numeric field, types 1, 7 and 11,
// that is not a whole number). std::nullopt when the value suits the field:
// "DATE()" and a date in the user's form or as eight digits for a date; an
// empty value (written as NULL) or a readable date and time for a date-time;
// any text for the other types.
std::optional<std::string> InvalidUpdateValue(const CFieldDef& field, std::string_view value,
                                              const DateSettings& dates);

// The date of a date field's update value: a date in the user's order with
// two- or four-digit year (digits and the separator only), or eight digits
// CCYYMMDD. std::nullopt for anything else, trailing text included.
std::optional<LocalDateTime> ParseUpdateDate(std::string_view value, const DateSettings& dates);

struct RuleCheck {
  // Why the rule must not run (one sentence, no line end); absent when it
  // may run.
  std::optional<std::string> refusal;
  // The messages of update assignments that are left out (InvalidUpdateValue).
  std::vector<std::string> skipped;
};

// Checks a rule record against the field definitions of its table. The
// context gives the database kind, the program (the rule manager reads kind 0
// conditions with their xBase connectors, the service in the SQL form) and
// the date format; messages of the condition translation go to its reporter. A condition in the SQL form (bit
// 0 of Flag) is the supervisor's own SQL and is not checked.
RuleCheck CheckRule(const CRule& rule, const std::vector<CFieldDef>& fields,
                    const TranslationContext& context);

}  // namespace vigilo
