// The View of Rules dialog's behaviour: every rule of the rule table in one
// list (at most 5000), sortable by column, and the selected rules printed.
// Nothing is written back.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "data/server_paths.h"
#include "manager/prompts.h"
#include "manager/rule_list.h"

namespace vigilo {

inline constexpr const char* kViewRulesTitle = "View of Rules";
inline constexpr const char* kViewCloseButton = "Close";
inline constexpr const char* kViewPrintButton = "Print";
inline constexpr const char* kViewFilterLabel = "&Find:";
// The list's name for a screen reader (it has no label).
inline constexpr const char* kViewRulesListName = "Rules";

class ViewRulesLogic {
 public:
  ViewRulesLogic(const CServerPaths& paths, Prompts& prompts,
                 size_t capacity = kViewRulesCapacity)
      : paths_(paths), prompts_(prompts), list_(capacity) {}

  const RuleList& list() const { return list_; }

  // Reads every rule with a rule id above 0; a missing rule table, or one
  // that cannot be opened, leaves the list empty without a message; a table
  // that opens but cannot be read leaves it empty with a message saying why. Rules past the list's
  // capacity are left out with a message.
  void Open();
  void ColumnClick(RuleColumn column) { list_.ColumnClick(column); }
  // Narrows the list to the rules with the text in any column.
  void Filter(const std::string& text) { list_.SetFilter(text); }
  // The lines of the selected items in list order; none after the message
  // that asks for a selection.
  std::optional<std::vector<std::string>> Print(const std::vector<size_t>& selected);

 private:
  const CServerPaths& paths_;
  Prompts& prompts_;
  RuleList list_;
};

}  // namespace vigilo
