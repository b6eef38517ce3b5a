#include "data/rule_check.h"

#include "common/format.h"
#include "common/text.h"
#include "data/condition.h"
#include "data/dates.h"

namespace vigilo {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// An optional sign and digits, blanks around them allowed.
bool IsSignedWholeNumber(std::string_view text) {
  std::string trimmed = Trimmed(text);
  std::string_view digits = trimmed;
  if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) digits.remove_prefix(1);
  if (digits.empty()) return false;
  for (char c : digits) {
    if (!IsDigit(c)) return false;
  }
  return true;
}

// A date as the user writes it (digits and the separator only) or as eight
// digits: the converters read leading numbers and would let trailing text
// through.
bool IsPlainDate(std::string_view text, char separator) {
  if (text.find(separator) == std::string_view::npos) {
    if (text.size() != 8) return false;
    for (char c : text) {
      if (!IsDigit(c)) return false;
    }
    return true;
  }
  for (char c : text) {
    if (!IsDigit(c) && c != separator) return false;
  }
  return true;
}

std::string InvalidDateMessage(const CFieldDef& field, const DateSettings& dates) {
  return Format("Invalid date value (%s) in the %s field!\n", dates.picture.c_str(),
                field.name.c_str());
}

std::optional<std::string> CheckUpdate(const CRule& rule, const std::vector<CFieldDef>& fields,
                                       const DateSettings& dates,
                                       std::vector<std::string>* skipped) {
  int usable = 0;
  for (const UpdateAssignment& assignment : SplitUpdateValues(rule.values)) {
    if (!assignment.has_value) {
      return "the update assignment \"" + assignment.field + "\" has no \"=\"";
    }
    const CFieldDef* field = FindField(fields, assignment.field);
    if (field == nullptr) {
      return "the update names the field " + assignment.field + ", which is not in the table";
    }
    if ((field->flags & CFieldDef::kNoUpdateFlag) != 0) continue;
    if (std::optional<std::string> problem = InvalidUpdateValue(*field, assignment.value, dates)) {
      skipped->push_back(*problem);
      continue;
    }
    ++usable;
  }
  if (usable == 0) return std::string("no assignment of the update can be made");
  return std::nullopt;
}

}  // namespace

std::vector<UpdateAssignment> SplitUpdateValues(std::string_view values) {
  std::vector<UpdateAssignment> assignments;
  for (const std::string& text : SplitText(values, ';')) {
    if (text.empty()) continue;
    UpdateAssignment assignment;
    const size_t equals = text.find('=');
    assignment.has_value = equals != std::string::npos;
    assignment.field = text.substr(0, equals);
    if (assignment.has_value) assignment.value = text.substr(equals + 1);
    assignments.push_back(std::move(assignment));
  }
  return assignments;
}

std::optional<std::string> InvalidUpdateValue(const CFieldDef& field, std::string_view value,
                                              const DateSettings& dates) {
  switch (field.type) {
    case CFieldDef::kNumber:
    case CFieldDef::kNumber7:
    case CFieldDef::kSeconds:
      if (IsSignedWholeNumber(value)) return std::nullopt;
      return Format("Invalid number value (%s) in the %s field!\n", std::string(value).c_str(),
                    field.name.c_str());
    case CFieldDef::kDate:
      if (EqualsNoCase(value, "DATE()") || ParseUpdateDate(value, dates)) return std::nullopt;
      return InvalidDateMessage(field, dates);
    case CFieldDef::kDateTime:
      if (Trimmed(value).empty() || ParseLocalDateTime(dates, value)) return std::nullopt;
      return InvalidDateMessage(field, dates);
    default:
      return std::nullopt;
  }
}

std::optional<LocalDateTime> ParseUpdateDate(std::string_view value, const DateSettings& dates) {
  if (!IsPlainDate(value, dates.separator)) return std::nullopt;
  if (value.find(dates.separator) == std::string_view::npos) {
    const std::string iso = std::string(value.substr(0, 4)) + "-" +
                            std::string(value.substr(4, 2)) + "-" + std::string(value.substr(6, 2));
    return ParseLocalDateTime(dates, iso);
  }
  return ParseLocalDateTime(dates, value);
}

RuleCheck CheckRule(const CRule& rule, const std::vector<CFieldDef>& fields,
                    const TranslationContext& context) {
  RuleCheck check;
  const bool update = rule.action == "Update";
  if (!update && rule.action != "Notify") {
    check.refusal = "the Action \"" + rule.action + "\" is neither \"Update\" nor \"Notify\"";
    return check;
  }
  if ((rule.flag & kRuleFlagSqlCondition) == 0) {
    if (Trimmed(rule.cond).empty()) {
      check.refusal = std::string("the condition is empty");
      return check;
    }
    std::string condition = rule.cond;
    // The service reads every kind in the SQL form; the rule manager keeps
    // the xBase connectors of kind 0.
    if (context.dialect() == Dialect::kSql) RewriteConnectors(condition);
    std::optional<ConditionFault> fault;
    const std::string translated = TranslateCondition(condition, fields, context, &fault);
    if (fault) {
      check.refusal = fault->Reason();
      return check;
    }
    if (translated.empty()) {
      check.refusal = std::string("the condition is empty");
      return check;
    }
  }
  if (update) check.refusal = CheckUpdate(rule, fields, context.dates, &check.skipped);
  return check;
}

}  // namespace vigilo
