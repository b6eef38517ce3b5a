// The Setup Rules dialog's Browse dialogs and message boxes for the
// command-line rule editor: instead of a dialog the supervisor fills, each
// Browse takes the text given on the command line and puts it through the
// same OK the dialog would (the Notify List, Field Values, Values, Input
// Value, Query Builder and SQL Query logic), so a rule written from the
// command line is refused where the dialogs refuse it and stored as they
// would store it.
//
// A dialog can only offer what is there (the users, the groups, the table's
// fields, the choices of a list field), so a typed text is also checked
// against those lists, with messages of its own, before the dialog's OK.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "data/field_def.h"
#include "data/server_paths.h"
#include "manager/prompts.h"
#include "manager/rule_browsers.h"

namespace vigilo {

inline constexpr const char* kUnknownUserMessage = "Unknown user %s!";
inline constexpr const char* kUnknownGroupMessage = "Unknown group %s!";
inline constexpr const char* kNotUpdatableMessage = "%s is not a field an update rule can set!";
inline constexpr const char* kNoAssignmentMessage =
    "%s is no assignment: an update rule's values read FIELD=VALUE;FIELD=VALUE!";
inline constexpr const char* kOneValueMessage = "The %s field takes one value!";
inline constexpr const char* kNoValueMessage = "No value for the %s field!";
inline constexpr const char* kConditionRefusedMessage = "The rule would not run as written: %s!";
// A text longer than the dialog's edit takes, which the edit would have cut.
inline constexpr const char* kGivenTooLongMessage = "%s is too long: at most %zu characters!";

// Message boxes as lines on an error stream, each prefixed with the program's
// name; questions are answered Yes (the command itself is the confirmation).
// Remembers whether anything refused a gesture, so a caller can name a
// refusal the dialogs would only have beeped at.
class StreamPrompts : public Prompts {
 public:
  StreamPrompts(std::ostream& err, std::string program) : err_(err), program_(std::move(program)) {}

  void Message(const std::string& text, PromptIcon icon = PromptIcon::kNone,
               const std::string& caption = kProgramCaption) override;
  bool AskYesNo(const std::string& text, const std::string& caption) override;
  void Beep() override { ++beeps_; }

  int messages() const { return messages_; }
  int beeps() const { return beeps_; }

 private:
  std::ostream& err_;
  std::string program_;
  int messages_ = 0;
  int beeps_ = 0;
};

// The texts of one rule given on the command line. The editor opens a Browse
// only for a text that was given.
struct GivenRuleTexts {
  std::string values;
  std::string condition;
};

class CommandLineBrowsers : public RuleBrowsers {
 public:
  CommandLineBrowsers(const CServerPaths& paths, Prompts& prompts, GivenRuleTexts given)
      : paths_(paths), prompts_(prompts), given_(std::move(given)) {}

  std::optional<std::string> InputAddress(const ProjectSelection& selection,
                                          const std::string& values) override;
  std::optional<std::string> NotifyList(const ProjectSelection& selection,
                                        const std::string& target,
                                        const std::string& values) override;
  std::optional<std::string> FieldValues(const ProjectSelection& selection,
                                         const std::string& values) override;
  // The SQL Query dialog for a condition beginning with "FROM", the Query
  // Builder for any other one; nothing for an empty one.
  std::optional<QueryType> SelectQueryType() override;
  std::optional<std::string> QueryBuilder(const ProjectSelection& selection,
                                          const std::string& condition) override;
  std::optional<std::string> SqlQuery(const ProjectSelection& selection,
                                      const std::string& condition) override;

  // Whether the last Browse refused its text (a message or a beep was given).
  bool refused() const { return refused_; }

 private:
  std::optional<std::string> Refuse(const std::string& message);
  std::optional<std::string> UpdateValue(const CFieldDef& field, const std::string& value);

  const CServerPaths& paths_;
  Prompts& prompts_;
  GivenRuleTexts given_;
  bool refused_ = false;
};

// A free query as the SQL Query dialog composes it from its two fields:
// "FROM tables WHERE clause", the clause with or without its enclosing
// parentheses, cut into the table list and the clause (both trimmed).
std::pair<std::string, std::string> SplitGivenSqlCondition(const std::string& condition);

}  // namespace vigilo
