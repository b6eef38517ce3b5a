// QtRuleBrowsers: the real dialogs behind the Setup Rules dialog's two Browse
// buttons (the values dialogs and the condition dialogs), each run modally
// over the Setup Rules dialog. A dialog that this program does not offer yet
// opens nothing and answers like Cancel.
#pragma once

#include <functional>

#include "manager/manager_context.h"
#include "manager/rule_browsers.h"
#include "manager/rule_test.h"

class QWidget;

namespace vigilo {

class QtRuleBrowsers : public RuleBrowsers {
 public:
  QtRuleBrowsers(ManagerContext& context, QWidget* parent)
      : context_(context), prompts_(context.prompts()), parent_(parent) {}

  // The values dialogs. They read the field definitions of the selection's
  // table through the context's settings.
  std::optional<std::string> InputAddress(const ProjectSelection& selection,
                                          const std::string& values) override;
  std::optional<std::string> NotifyList(const ProjectSelection& selection,
                                        const std::string& target,
                                        const std::string& values) override;
  std::optional<std::string> FieldValues(const ProjectSelection& selection,
                                         const std::string& values) override;

  // The condition dialogs.
  std::optional<QueryType> SelectQueryType() override;
  std::optional<std::string> QueryBuilder(const ProjectSelection& selection,
                                          const std::string& condition) override;
  std::optional<std::string> SqlQuery(const ProjectSelection& selection,
                                      const std::string& condition) override;

  // The rule the condition is composed for (action, values, rule id), which
  // the Query Builder's Test button tries with the condition as it stands.
  // Without it the condition is tried as that of a new rule.
  void set_rule_source(std::function<TestedRule()> source) { rule_source_ = std::move(source); }

 private:
  ManagerContext& context_;
  Prompts& prompts_;
  std::function<TestedRule()> rule_source_;
  QWidget* parent_;
};

}  // namespace vigilo
