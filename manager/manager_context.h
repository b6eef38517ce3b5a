// ManagerContext: what every dialog of the rule manager works with, built
// once by the application and handed to each dialog: the settings
// (CServerPaths), the prompts, and the user-name and group-name lists.
//
// The application loads it after "sysop" has logged in (Load) and empties it
// at exit (Unload). A dialog opened without a login (the view tests, the
// screenshot renderer) gets the settings built at their first use. A view
// never builds settings itself; it asks the context. Not shared between
// threads: the rule manager's windows use it on the UI thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "data/server_paths.h"
#include "manager/prompts.h"

namespace vigilo {

class ManagerContext {
 public:
  explicit ManagerContext(Prompts& prompts);
  ~ManagerContext();
  ManagerContext(const ManagerContext&) = delete;
  ManagerContext& operator=(const ManagerContext&) = delete;

  Prompts& prompts() const { return prompts_; }

  // The settings of the rule manager, built at Load or at their first use.
  const CServerPaths& paths() const;
  // True between Load and Unload.
  bool loaded() const { return loaded_; }

  // Builds the settings (unless a dialog already has: the settings a dialog
  // holds stay valid) and fills the process-wide name lists from the server
  // directory's user table, its failures shown through the prompts.
  void Load();
  // Empties the name lists and drops the settings.
  void Unload();

  // The login names and group names of the product's users; empty before Load.
  const std::vector<std::string>& user_names() const;
  const std::vector<std::string>& group_names() const;

 private:
  Prompts& prompts_;
  mutable std::unique_ptr<CServerPaths> paths_;
  bool loaded_ = false;
};

}  // namespace vigilo
