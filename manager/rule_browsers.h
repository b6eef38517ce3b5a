// RuleBrowsers: the dialogs that the Setup Rules dialog's two Browse buttons
// open. The Setup Rules logic decides which one by action, target and the
// current condition; the program hands it the real dialogs, tests hand it
// fakes. Each dialog works on the selection's table (its fourth field, stored
// before the dialog opens) and returns the new text on OK, nothing on Cancel.
#pragma once

#include <optional>
#include <string>

#include "manager/project_selection.h"

namespace vigilo {

class RuleBrowsers {
 public:
  virtual ~RuleBrowsers() = default;

  // Values, action "Notify" with target "Address": the Input Value dialog
  // labelled "Internet Address:".
  virtual std::optional<std::string> InputAddress(const ProjectSelection& selection,
                                                  const std::string& values) = 0;
  // Values, action "Notify" with any other target ("User", "Group", "Field"):
  // the Notify List dialog.
  virtual std::optional<std::string> NotifyList(const ProjectSelection& selection,
                                                const std::string& target,
                                                const std::string& values) = 0;
  // Values, action "Update": the Field Values dialog.
  virtual std::optional<std::string> FieldValues(const ProjectSelection& selection,
                                                 const std::string& values) = 0;

  // Rule Condition while it is empty: the Select Query Type dialog.
  enum class QueryType { kVisualQueryBuilder, kSqlQuery };
  virtual std::optional<QueryType> SelectQueryType() = 0;
  // Rule Condition: the Query Builder dialog (a condition not beginning with
  // "FROM", or an empty one after Visual Query Builder was chosen) and the
  // SQL Query dialog (one beginning with "FROM", or after SQL Query).
  virtual std::optional<std::string> QueryBuilder(const ProjectSelection& selection,
                                                  const std::string& condition) = 0;
  virtual std::optional<std::string> SqlQuery(const ProjectSelection& selection,
                                              const std::string& condition) = 0;
};

}  // namespace vigilo
