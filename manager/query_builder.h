// The Query Builder's behaviour: a rule condition composed clause by clause.
//
// The criteria list holds one entry per clause in the stored form of the
// project's database kind; every entry after the first begins with its
// connector. Opening cuts a stored condition into such entries; OK joins them
// with one blank. Adding and modifying a clause goes through one of the
// Where Condition dialogs, which the view opens between Begin... and
// Finish...; every other gesture rewrites the selected entry here.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/condition.h"
#include "data/date_settings.h"
#include "data/field_def.h"
#include "manager/prompts.h"

namespace vigilo {

inline constexpr const char* kQueryBuilderTitle = "Query Builder Dialog";
inline constexpr const char* kFieldsLabel = "List of &Fields:";
inline constexpr const char* kCriteriaLabel = "List of C&riteria:";
inline constexpr const char* kAddButton = "A&dd...";
inline constexpr const char* kModifyButton = "&Modify...";
inline constexpr const char* kRemoveButton = "Remo&ve";
inline constexpr const char* kAndOrButton = "&And/Or";
inline constexpr const char* kNotButton = "&Not";
inline constexpr const char* kGroupOpenButton = "(";
inline constexpr const char* kGroupCloseButton = ")";
inline constexpr int kQueryBuilderHelpTopic = 620;
// Our own: what the parenthesis buttons do, for a screen reader.
inline constexpr const char* kGroupOpenDescription =
    "Opens a group of criteria before the selected criterion, or removes its opening parenthesis";
inline constexpr const char* kGroupCloseDescription =
    "Closes a group of criteria after the selected criterion, or removes its closing parenthesis";

// The rule table's condition field holds this many characters.
inline constexpr size_t kConditionLimit = 255;
// Our own: a condition the rule could not hold is refused, never cut.
inline constexpr const char* kConditionTooLongMessage =
    "The condition is %zu characters long; a rule holds at most %zu.\n\n"
    "Remove some criteria and try again.";
// Our own: why the criteria's parentheses do not pair up.
inline constexpr const char* kUnopenedGroupReason = "The \")\" of criterion %zu closes no \"(\".";
inline constexpr const char* kUnclosedGroupReason = "%zu \"(\" still open: close it with \")\".";

// Cuts a stored condition into criteria entries at the connector markers of
// the kind (" .AND.(" / " .OR.(" for kind 0, " AND (" / " OR (" otherwise).
// Later entries of kinds 1 to 3 get back the connector's leading blank, and
// the joining blank is not left at the end of the entry before, so joining
// the entries again gives the stored text unchanged.
std::vector<std::string> CutCondition(std::string_view condition, long kind);

// The entries joined with one blank: the stored condition.
std::string JoinEntries(const std::vector<std::string>& entries);

// The entry without a leading connector (".AND." / " AND " or ".OR." /
// " OR "), as the first entry must be.
std::string WithoutConnector(std::string_view entry);

class QueryBuilderLogic {
 public:
  // fields: the table's field definitions (kept here, so choices filled by a
  // value-list dialog stay for later clauses); dates: the user's date format
  // the clauses are checked with.
  QueryBuilderLogic(long kind, std::vector<CFieldDef> fields, std::string_view condition,
                    const DateSettings& dates, Prompts& prompts);

  long kind() const { return kind_; }
  // The field list: names of the fields offered, in definition order.
  const std::vector<std::string>& FieldNames() const { return field_names_; }
  const std::vector<std::string>& Entries() const { return entries_; }
  // The selected entry, if any (the last one after opening).
  std::optional<size_t> Selected() const { return selected_; }
  void Select(std::optional<size_t> row);

  // The field definition a clause's column names, or nullptr.
  CFieldDef* FieldOf(const Clause& clause);

  // Add (or a double-click on a field): the new clause for the field of the
  // field-list row, connector AND unless it is the first; nothing without a
  // field. FinishAdd appends the edited clause and selects it.
  std::optional<Clause> BeginAdd(std::optional<size_t> field_row) const;
  void FinishAdd(const Clause& clause);
  // Modify (or a double-click on an entry): the selected entry parsed;
  // FinishModify writes it back in place.
  std::optional<Clause> BeginModify() const;
  void FinishModify(const Clause& clause);

  // And/Or, Not, "(" and ")": flip on the selected entry (nothing without one).
  void FlipConnector();
  void FlipNegated();
  void FlipGroupOpen();
  void FlipGroupClose();
  // Remove: beep without a selection.
  void Remove();

  // Why the "(" and ")" of the entries do not pair up, or "": a ")" before
  // its "(" (counting entries from 1), or "(" left open at the end.
  std::string GroupProblem() const;

  // OK: the joined entries, or std::nullopt (with a message) when their
  // parentheses do not pair up (the database would refuse the condition at
  // every tick), the rule could not hold them or a clause's value cannot be
  // translated (an invalid date): the service would leave such a clause out
  // without a word.
  std::optional<std::string> Ok();

 private:
  template <typename Flip>
  void Rewrite(Flip flip);

  long kind_;
  DateSettings dates_;
  std::vector<CFieldDef> fields_;
  std::vector<size_t> offered_;  // field-list row -> index into fields_
  std::vector<std::string> field_names_;
  std::vector<std::string> entries_;
  std::optional<size_t> selected_;
  Prompts& prompts_;
};

}  // namespace vigilo
