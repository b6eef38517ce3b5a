#include "manager/ui/rule_browsers_qt.h"

namespace vigilo {

// --- The values dialogs -------------------------------------------------

std::optional<std::string> QtRuleBrowsers::InputAddress(const ProjectSelection&,
                                                        const std::string&) {
  return std::nullopt;
}

std::optional<std::string> QtRuleBrowsers::NotifyList(const ProjectSelection&,
                                                      const std::string&, const std::string&) {
  return std::nullopt;
}

std::optional<std::string> QtRuleBrowsers::FieldValues(const ProjectSelection&,
                                                       const std::string&) {
  return std::nullopt;
}

// --- The condition dialogs ----------------------------------------------

std::optional<RuleBrowsers::QueryType> QtRuleBrowsers::SelectQueryType() { return std::nullopt; }

std::optional<std::string> QtRuleBrowsers::QueryBuilder(const ProjectSelection&,
                                                        const std::string&) {
  return std::nullopt;
}

std::optional<std::string> QtRuleBrowsers::SqlQuery(const ProjectSelection&, const std::string&) {
  return std::nullopt;
}

}  // namespace vigilo
