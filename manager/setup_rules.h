// The Setup Rules dialog's behaviour: the supervisor picks one table of the
// chosen project, sees its rules, and composes a rule from Action, Target,
// Values and Rule Condition (the last two only through the Browse dialogs)
// plus the hidden Run Always state; Add, Replace and Delete write the rule
// table at once, there is no save step.
//
// The logic holds what the dialog shows (SetupRulesState and the rule list)
// and the edit state: which listed rule the controls were last taken from or
// written to, from which the Test button knows the rule's id and whether
// the controls hold it as saved. The Qt dialog shows it after every gesture.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "data/server_paths.h"
#include "manager/prompts.h"
#include "manager/project_selection.h"
#include "manager/rule_browsers.h"
#include "manager/rule_list.h"
#include "manager/rule_list_table.h"
#include "manager/rule_test.h"
#include "manager/rule_test_logic.h"

namespace vigilo {

inline constexpr const char* kSetupRulesTitle = "Setup Rules Dialog";
inline constexpr const char* kSetupRulesHint =
    "To add a rule, click the New button, fill in the information and click the Add button.";
inline constexpr const char* kSetupRulesProjectTableLabel = "Project &Table:";
inline constexpr const char* kSetupRulesActionLabel = "Act&ion";
inline constexpr const char* kSetupRulesTargetLabel = "Tar&get:";
inline constexpr const char* kSetupRulesValuesLabel = "&Values:";
inline constexpr const char* kSetupRulesValuesBrowseButton = "&Browse...";
inline constexpr const char* kSetupRulesConditionLabel = "R&ule Condition:";
inline constexpr const char* kSetupRulesConditionBrowseButton = "Bro&wse...";
inline constexpr const char* kSetupRulesRuleListLabel = "&List of Rules";
inline constexpr const char* kSetupRulesNewButton = "&New";
inline constexpr const char* kSetupRulesAddButton = "&Add";
inline constexpr const char* kSetupRulesEditButton = "&Edit";
inline constexpr const char* kSetupRulesReplaceButton = "&Replace";
inline constexpr const char* kSetupRulesPrintRulesButton = "&Print";
inline constexpr const char* kSetupRulesDeleteButton = "&Delete";
inline constexpr const char* kSetupRulesHelpButton = "&Help";
inline constexpr const char* kSetupRulesCloseButton = "&Close";
inline constexpr const char* kSetupRulesRunAlwaysCheck = "R&un Always";
inline constexpr const char* kSetupRulesEnableButton = "Enable";
inline constexpr const char* kSetupRulesDisableButton = "Disable";
inline constexpr const char* kSetupRulesFilterLabel = "&Find:";
// What the screen reader says for the two Browse buttons, which look alike.
inline constexpr const char* kSetupRulesValuesBrowseName = "Browse values";
inline constexpr const char* kSetupRulesConditionBrowseName = "Browse condition";
inline constexpr int kSetupRulesHelpTopic = 632;

// Character limits of the controls.
inline constexpr int kSetupRulesProjectTableLimit = 64;
inline constexpr int kSetupRulesActionLimit = 64;
inline constexpr int kSetupRulesTargetLimit = 64;
inline constexpr int kSetupRulesValuesLimit = 256;
inline constexpr int kSetupRulesConditionLimit = 256;

inline constexpr const char* kActions = "Notify,Update";
inline constexpr const char* kNotifyTargets = "User,Group,Field,Address";

inline constexpr const char* kIncompleteRuleMessage = "Incomplete rule!";
inline constexpr const char* kUnableToCreateOrOpenMessage = "Unable to create or open %s!";
inline constexpr const char* kUnableToAddMessage = "Unable to add a rule!";
inline constexpr const char* kDeleteQuestion = "Selected rule will be %s!\n\nAre you sure?";
inline constexpr const char* kUnableToOpenFileMessage = "Unable to open %s!";
// A text longer than its rule table field would be cut when written.
inline constexpr const char* kTooLongMessage =
    "%s is too long: the rule table holds at most %zu characters!";
// The list holds no more rows than its capacity.
inline constexpr const char* kListFullMessage =
    "The list holds at most %zu rules: the rule was not added!";
inline constexpr const char* kListCutMessage = "Only the first %zu rules are listed!";
inline constexpr const char* kDuplicateRuleQuestion =
    "Rule %ld already does exactly this!\n\nAdd the same rule again?";
inline constexpr const char* kDiscardRuleQuestion =
    "The rule in the dialog has not been saved and will be lost!\n\nAre you sure?";
inline constexpr const char* kUnableToChangeMessage = "Unable to change the rule!";
// The edit state shown above the rule list.
inline constexpr const char* kEditingSavedText = "Editing rule %ld.";
inline constexpr const char* kEditingChangedText = "Editing rule %ld: changed, not saved.";
inline constexpr const char* kEditingNewText = "New rule, not added yet.";

struct SetupRulesState {
  std::vector<std::string> tables;  // Project Table
  int table_index = -1;
  std::vector<std::string> actions;  // Action
  int action_index = -1;
  std::vector<std::string> targets;  // Target
  int target_index = -1;
  std::string values;
  std::string condition;
  bool run_always_checked = false;  // the hidden check box
  bool run_always_enabled = true;

  std::string Table() const;
  std::string Action() const;
  std::string Target() const;
};

class SetupRulesLogic {
 public:
  SetupRulesLogic(const CServerPaths& paths, ProjectSelection& selection, Prompts& prompts,
                  RuleBrowsers& browsers, size_t capacity = kSetupRulesCapacity);

  const SetupRulesState& state() const { return state_; }
  const RuleList& list() const { return list_; }

  // Fills the lists and loads the first table's rules; true when the list
  // then holds rules (it gets the focus).
  bool Open();
  void TableChanged(int index);
  void ActionChanged(int index);
  void TargetChanged(int index);

  void New();
  // Edit of a list item (-1: none selected, which beeps); true when the
  // item was taken into the controls.
  bool Edit(int item);
  void BrowseValues();
  void BrowseCondition();
  // True when the rule was written and added to the list as its last item.
  bool Add();
  // True when the item's rules were deleted from the table and the list.
  bool Delete(int item);
  // True when the item's rule was replaced (it is then the last item).
  bool Replace(int item);
  // Sets the Reserved1 mark of the item's rule (as vgrules enable/disable
  // does), so the service loads it or leaves it out from its next start;
  // true when the rule table was written (-1 beeps).
  bool SetEnabled(int item, bool enabled);
  // Narrows the list to the rules with the text in any column.
  void Filter(const std::string& text) { list_.SetFilter(text); }

  // What the dialog says about the rule in its controls: which listed rule
  // it edits and whether it changed, or that it is a new rule; empty while
  // nothing is composed.
  std::string EditState() const;
  // True when the controls hold something that Close would lose: a new rule
  // with values or a condition, or an edited rule changed since it was saved.
  bool HasUnsavedRule() const;
  // Close or Esc: true when the dialog may close, after asking whether to
  // discard an unsaved rule.
  bool ConfirmClose();
  // The lines to print, after the "Print" notice; none after "Nothing to print!".
  std::optional<std::vector<std::string>> Print();
  void ColumnClick(RuleColumn column) { list_.ColumnClick(column); }

  // What a Browse dialog's OK gives (tests compose rules through these).
  void set_values(std::string values) { state_.values = std::move(values); }
  void set_condition(std::string condition) { state_.condition = std::move(condition); }
  // Checks or unchecks the hidden Run Always box as New, Edit and Rule
  // Condition Browse leave it able to be; false (and unchanged) while it is
  // disabled. The dialog never calls it; the command-line editor does.
  bool SetRunAlways(bool checked);

  // The project INI whose tables Project Table lists.
  std::string ProjectIniPath() const;

  // The id of the rule last taken in by Edit or written by Add or Replace,
  // while it is still listed; none after New, a table change or its delete.
  std::optional<long> EditedRuleId() const;
  // The Flag the controls' rule is written with: Run Always and, for a
  // condition in the SQL form "FROM ... WHERE ...", the SQL-query bit.
  long RuleFlags() const;
  // The rule as the controls hold it, for the Test buttons, with the edited
  // rule's id (whose reserved fields a Replace keeps).
  TestedRule RuleInDialog() const;
  // True when the controls hold the edited rule exactly as it is saved.
  bool RuleSaved() const;
  // Test: the rule in the dialog, or std::nullopt after telling the
  // supervisor it has no table or no condition to test.
  std::optional<TestedRule> RuleToTest();
  // Mark in the Test dialog: enabled for the rule as saved, else disabled.
  RuleTestMarkOffer TestMarkOffer() const {
    return RuleSaved() ? RuleTestMarkOffer::kEnabled : RuleTestMarkOffer::kDisabled;
  }

 private:
  void FillTables();
  void FillTargets();
  void LoadRules();
  bool Complete() const;
  bool FitsRuleTable();
  bool AskDelete(int item, const char* verb);
  void AppendToList(const RuleRecord& record);
  RuleRecord ComposedRecord() const;
  // A write that failed, with the reason after the dialog's message.
  void ReportWriteFailure(const char* message, const RuleTableStatus& status);
  void StoreTableName();
  const RuleRow* EditedRow() const;

  const CServerPaths& paths_;
  ProjectSelection& selection_;
  Prompts& prompts_;
  RuleBrowsers& browsers_;
  SetupRulesState state_;
  RuleList list_;
  std::optional<long> edited_rule_id_;
};

// The rule the Query Builder's Test button tries: rule (the Setup Rules
// dialog's, or a new one) on the selection's table with the condition as it
// stands in the builder, which is never in the SQL form; std::nullopt after
// telling the supervisor when the condition is empty.
std::optional<TestedRule> BuilderRuleToTest(TestedRule rule, const ProjectSelection& selection,
                                            const std::string& condition, Prompts& prompts);

// The table part of a Project Table text: after its first backslash, or the
// whole text when it has none.
std::string ProjectTableName(const std::string& project_table);

}  // namespace vigilo
