#include "manager/rule_editor_browsers.h"

#include "common/format.h"
#include "common/text.h"
#include "data/condition.h"
#include "data/date_settings.h"
#include "data/field_defs_reader.h"
#include "data/rule_check.h"
#include "data/translation_context.h"
#include "manager/field_values.h"
#include "manager/input_value.h"
#include "manager/notify_list.h"
#include "manager/query_builder.h"
#include "manager/sql_query.h"
#include "manager/values_dialog.h"

namespace vigilo {
namespace {

// Passes everything on and counts the messages, so that a dialog that tells
// the supervisor something and still closes (other fields left out of a
// notify list) counts as a refusal on the command line, where nobody sees the
// list it closed with.
class CountingPrompts : public Prompts {
 public:
  explicit CountingPrompts(Prompts& inner) : inner_(inner) {}
  void Message(const std::string& text, PromptIcon icon, const std::string& caption) override {
    ++messages;
    inner_.Message(text, icon, caption);
  }
  bool AskYesNo(const std::string& text, const std::string& caption) override {
    return inner_.AskYesNo(text, caption);
  }
  void Beep() override {
    ++beeps;
    inner_.Beep();
  }
  int messages = 0;
  int beeps = 0;

 private:
  Prompts& inner_;
};

// The Field Values logic is used for its OK only; no value is edited there.
class NoValueEditor : public ValueEditor {
 public:
  std::optional<std::string> ChooseValue(const CFieldDef&, const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::string> TypeValue(const std::string&, const std::string&) override {
    return std::nullopt;
  }
};

// The index of the entry equal to text without regard to case, or -1.
int FindNoCase(const std::vector<std::string>& entries, std::string_view text) {
  for (size_t i = 0; i < entries.size(); ++i) {
    if (EqualsNoCase(entries[i], text)) return static_cast<int>(i);
  }
  return -1;
}

// Whether the "(" at the start of text is closed by the ")" at its end.
bool EnclosedInParentheses(std::string_view text) {
  if (text.size() < 2 || text.front() != '(' || text.back() != ')') return false;
  int depth = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '(') ++depth;
    if (text[i] == ')' && --depth == 0) return i == text.size() - 1;
  }
  return false;
}

}  // namespace

void StreamPrompts::Message(const std::string& text, PromptIcon, const std::string&) {
  ++messages_;
  // Some of the dialogs' messages end in a line end of their own.
  size_t end = text.find_last_not_of("\r\n");
  err_ << program_ << ": " << text.substr(0, end == std::string::npos ? 0 : end + 1) << "\n";
}

bool StreamPrompts::AskYesNo(const std::string&, const std::string&) { return true; }

std::pair<std::string, std::string> SplitGivenSqlCondition(const std::string& condition) {
  constexpr size_t kAfterFrom = 4;
  const size_t where = condition.find("WHERE", kAfterFrom);
  if (where == std::string::npos) return {Trimmed(condition.substr(kAfterFrom)), ""};
  std::string tables = Trimmed(condition.substr(kAfterFrom, where - kAfterFrom));
  std::string clause = Trimmed(condition.substr(where + 5));
  if (EnclosedInParentheses(clause)) clause = Trimmed(clause.substr(1, clause.size() - 2));
  return {tables, clause};
}

std::optional<std::string> CommandLineBrowsers::Refuse(const std::string& message) {
  prompts_.Message(message, PromptIcon::kWarning);
  refused_ = true;
  return std::nullopt;
}

std::optional<std::string> CommandLineBrowsers::InputAddress(const ProjectSelection&,
                                                             const std::string&) {
  refused_ = false;
  const std::string& text = given_.values;
  if (text.empty()) return text;
  if (text.size() > kInputValueLimit) {
    return Refuse(Format(kGivenTooLongMessage, "The Internet address", kInputValueLimit));
  }
  InputValueLogic logic(kInternetAddressLabel, prompts_);
  std::optional<std::string> address = logic.Ok(text);
  refused_ = !address;
  return address;
}

std::optional<std::string> CommandLineBrowsers::NotifyList(const ProjectSelection& selection,
                                                           const std::string& target,
                                                           const std::string&) {
  refused_ = false;
  const std::string& text = given_.values;
  if (text.empty()) return text;
  CountingPrompts counting(prompts_);
  std::vector<std::string> entries = NotifyListLogic::Entries(target, paths_, selection, counting);
  if (counting.messages > 0) {
    refused_ = true;
    return std::nullopt;
  }
  if (target != "Field") {
    for (const std::string& name : SplitNonEmpty(text, ',')) {
      if (FindNoCase(entries, name) < 0) {
        return Refuse(
            Format(target == "Group" ? kUnknownGroupMessage : kUnknownUserMessage, name.c_str()));
      }
    }
  }
  NotifyListLogic logic(target, std::move(entries), text, counting);
  std::optional<std::string> names = logic.Ok(logic.preselected(), logic.other_fields());
  refused_ = !names || counting.messages > 0;
  return refused_ ? std::nullopt : names;
}

std::optional<std::string> CommandLineBrowsers::UpdateValue(const CFieldDef& field,
                                                            const std::string& value) {
  if (value.empty()) return Refuse(Format(kNoValueMessage, field.name.c_str()));
  CountingPrompts counting(prompts_);
  if (field.type == CFieldDef::kList || field.type == CFieldDef::kUser) {
    ValuesLogic logic(field, value, counting);
    if (!logic.multiple() && SplitNonEmpty(value, ',').size() > 1) {
      return Refuse(Format(kOneValueMessage, field.name.c_str()));
    }
    std::optional<std::string> chosen = logic.Ok(logic.preselected(), logic.other_values());
    if (!chosen) refused_ = true;
    return chosen;
  }
  if (value.size() > kInputValueLimit) {
    return Refuse(Format(kGivenTooLongMessage, ("The value of " + field.name).c_str(),
                         kInputValueLimit));
  }
  InputValueLogic logic(field.name, counting);
  std::optional<std::string> typed = logic.Ok(value);
  if (!typed) {
    refused_ = true;
    return typed;
  }
  // The dialog takes any text; the service would leave such an assignment
  // out at every firing, so the command line refuses it at once.
  if (std::optional<std::string> invalid =
          InvalidUpdateValue(field, *typed, DateSettingsOf(paths_))) {
    return Refuse(TrimmedRight(*invalid));
  }
  return typed;
}

std::optional<std::string> CommandLineBrowsers::FieldValues(const ProjectSelection& selection,
                                                            const std::string&) {
  refused_ = false;
  const std::string& text = given_.values;
  if (text.empty()) return text;
  CountingPrompts counting(prompts_);
  std::vector<CFieldDef> fields = ReadSelectionFields(paths_, selection, counting);
  if (counting.messages > 0) {
    refused_ = true;
    return std::nullopt;
  }
  const std::vector<std::string> names = UpdatableFieldNames(fields);
  std::string assignments;
  for (const std::string& part : SplitNonEmpty(text, ';')) {
    if (part.find('=') == std::string::npos) {
      return Refuse(Format(kNoAssignmentMessage, part.c_str()));
    }
    auto [name, value] = SplitAssignment(part);
    const int index = FindNoCase(names, name);
    if (index < 0) return Refuse(Format(kNotUpdatableMessage, name.c_str()));
    const CFieldDef* field = FindField(fields, names[index]);
    std::optional<std::string> written = UpdateValue(*field, value);
    if (!written) return std::nullopt;
    if (!assignments.empty()) assignments += ';';
    assignments += names[index] + "=" + *written;
  }
  NoValueEditor editor;
  FieldValuesLogic logic(std::move(fields), assignments, counting, editor);
  std::optional<std::string> values = logic.Ok();
  refused_ = !values;
  return values;
}

std::optional<RuleBrowsers::QueryType> CommandLineBrowsers::SelectQueryType() {
  if (given_.condition.empty()) return std::nullopt;
  return given_.condition.rfind("FROM", 0) == 0 ? QueryType::kSqlQuery
                                                 : QueryType::kVisualQueryBuilder;
}

std::optional<std::string> CommandLineBrowsers::QueryBuilder(const ProjectSelection& selection,
                                                             const std::string&) {
  refused_ = false;
  const long kind = selection.Kind();
  std::vector<CFieldDef> fields;
  std::string message;
  // As in the dialog, a table without definitions still offers the
  // change-history fields, after the message that says why.
  if (!ReadFieldDefs(FieldDefsIniPath(paths_, kind, selection.project, selection.table), fields,
                     &message)) {
    prompts_.Message(message, PromptIcon::kWarning);
  }
  QueryBuilderLogic logic(kind, fields, given_.condition, DateSettingsOf(paths_), prompts_);
  std::optional<std::string> condition = logic.Ok();
  if (!condition) {
    refused_ = true;
    return condition;
  }
  // The Query Builder only offers the table's fields; a typed condition may
  // name anything, and the service refuses a rule whose condition it cannot
  // translate whole.
  std::optional<ConditionFault> fault;
  TranslateCondition(*condition, fields,
                     MakeTranslationContext(paths_, kind, CServerPaths::Program::kManager),
                     &fault);
  if (fault) return Refuse(Format(kConditionRefusedMessage, fault->Reason().c_str()));
  return condition;
}

std::optional<std::string> CommandLineBrowsers::SqlQuery(const ProjectSelection&,
                                                         const std::string&) {
  refused_ = false;
  auto [tables, clause] = SplitGivenSqlCondition(given_.condition);
  if (tables.size() > static_cast<size_t>(kSelectFromLimit)) {
    return Refuse(Format(kGivenTooLongMessage, "The table list", size_t{kSelectFromLimit}));
  }
  if (clause.size() > static_cast<size_t>(kWhereClauseLimit)) {
    return Refuse(Format(kGivenTooLongMessage, "The where clause", size_t{kWhereClauseLimit}));
  }
  SqlQueryLogic logic(prompts_);
  std::optional<std::string> condition = logic.Ok(tables, clause);
  refused_ = !condition;
  return condition;
}

}  // namespace vigilo
