#include "manager/view_rules.h"

#include "common/format.h"
#include "manager/rule_list_table.h"
#include "manager/rule_printing.h"
#include "manager/setup_rules.h"

namespace vigilo {

void ViewRulesLogic::Open() {
  list_.Clear();
  std::string error;
  size_t cut = list_.AddRows(ReadAllRules(paths_.rule_table_path, &error));
  if (!error.empty()) {
    prompts_.Message(Format(kRuleTableUnreadableMessage, error.c_str()), PromptIcon::kWarning);
  }
  if (cut > 0) prompts_.Message(Format(kListCutMessage, list_.capacity()), PromptIcon::kWarning);
}

std::optional<std::vector<std::string>> ViewRulesLogic::Print(
    const std::vector<size_t>& selected) {
  if (selected.empty()) {
    prompts_.Message(kNoRulesSelectedMessage);
    return std::nullopt;
  }
  return ViewRulesPrintLines(list_, selected);
}

}  // namespace vigilo
