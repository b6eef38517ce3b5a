// RuleBrowsersQt: the real dialogs behind the Setup Rules dialog's two
// Browse buttons, opened modally over the Setup Rules dialog.
#pragma once

#include <QPointer>
#include <QWidget>

#include "data/server_paths.h"
#include "manager/prompts.h"
#include "manager/rule_browsers.h"

namespace vigilo {

class RuleBrowsersQt : public RuleBrowsers {
 public:
  // paths locate the table INI files of the selection's table.
  RuleBrowsersQt(Prompts& prompts, const CServerPaths& paths, QWidget* parent = nullptr)
      : prompts_(prompts), paths_(paths), parent_(parent) {}

  std::optional<std::string> InputAddress(const ProjectSelection& selection,
                                          const std::string& values) override;
  std::optional<std::string> NotifyList(const ProjectSelection& selection,
                                        const std::string& target,
                                        const std::string& values) override;
  std::optional<std::string> FieldValues(const ProjectSelection& selection,
                                         const std::string& values) override;

  std::optional<QueryType> SelectQueryType() override;
  std::optional<std::string> QueryBuilder(const ProjectSelection& selection,
                                          const std::string& condition) override;
  std::optional<std::string> SqlQuery(const ProjectSelection& selection,
                                      const std::string& condition) override;

 private:
  Prompts& prompts_;
  const CServerPaths& paths_;
  QPointer<QWidget> parent_;
};

}  // namespace vigilo
