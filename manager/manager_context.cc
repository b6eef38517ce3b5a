#include "manager/manager_context.h"

#include "data/name_lists.h"
#include "notify/orvik_tables.h"

namespace vigilo {

ManagerContext::ManagerContext(Prompts& prompts) : prompts_(prompts) {}

ManagerContext::~ManagerContext() = default;

const CServerPaths& ManagerContext::paths() const {
  if (!paths_) paths_ = std::make_unique<CServerPaths>(CServerPaths::Program::kManager);
  return *paths_;
}

void ManagerContext::Load() {
  FillProcessNameLists(paths().server_dir, prompts_.AsMessageReporter());
  loaded_ = true;
}

void ManagerContext::Unload() {
  UserNameList().clear();
  UserNameList().shrink_to_fit();
  GroupNameList().clear();
  GroupNameList().shrink_to_fit();
  paths_.reset();
  loaded_ = false;
}

const std::vector<std::string>& ManagerContext::user_names() const { return UserNameList(); }
const std::vector<std::string>& ManagerContext::group_names() const { return GroupNameList(); }

}  // namespace vigilo
