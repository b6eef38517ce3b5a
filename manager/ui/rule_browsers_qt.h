// QtRuleBrowsers: the real dialogs behind the Setup Rules dialog's two Browse
// buttons (the values dialogs and the condition dialogs), each run modally
// over the Setup Rules dialog. A dialog that this program does not offer yet
// opens nothing and answers like Cancel.
#pragma once

#include "manager/prompts.h"
#include "manager/rule_browsers.h"

class QWidget;

namespace vigilo {

class QtRuleBrowsers : public RuleBrowsers {
 public:
  QtRuleBrowsers(Prompts& prompts, QWidget* parent) : prompts_(prompts), parent_(parent) {}

  // The values dialogs.
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

 private:
  [[maybe_unused]] Prompts& prompts_;
  [[maybe_unused]] QWidget* parent_;
};

}  // namespace vigilo
