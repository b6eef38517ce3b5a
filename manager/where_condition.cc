#include "manager/where_condition.h"

#include "common/format.h"

namespace vigilo {

WhereDialog WhereDialogFor(const CFieldDef* field) {
  if (field == nullptr) return WhereDialog::kKeyword;
  switch (field->type) {
    case CFieldDef::kNumber:
    case CFieldDef::kDate:
    case CFieldDef::kNumber7:
    case 10:
    case CFieldDef::kDateTime:
      return WhereDialog::kOperator;
    case CFieldDef::kList:
    case CFieldDef::kUser:
      return WhereDialog::kValueList;
    default:
      return WhereDialog::kKeyword;
  }
}

std::string FieldLabel(const Clause& clause, const CFieldDef* field) {
  if (field == nullptr) return clause.column;
  return field->label.empty() ? field->name : field->label;
}

std::string WhereCaption(const Clause& clause, const CFieldDef* field) {
  std::string label = FieldLabel(clause, field);
  if (clause.qualifier.empty()) return Format(kWhereCaption, label.c_str());
  return Format(kWhereQualifiedCaption, clause.qualifier.c_str(), label.c_str());
}

SearchOption SearchOptionOf(std::string_view value) {
  if (!value.empty() && value[0] == ' ') return SearchOption::kNone;
  if (value.find('&') != std::string_view::npos) return SearchOption::kAnd;
  return SearchOption::kOr;
}

std::string CutBefore(std::string_view text, std::string_view what) {
  return std::string(text.substr(0, text.find(what)));
}

}  // namespace vigilo
