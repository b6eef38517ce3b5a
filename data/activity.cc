#include "data/activity.h"

#include <utility>

namespace vigilo {
namespace {
thread_local ActivityObserver* current_observer = nullptr;
}  // namespace

ActivityObserver* CurrentActivity() { return current_observer; }

ActivityScope::ActivityScope(ActivityObserver* observer) : previous_(current_observer) {
  current_observer = observer;
}

ActivityScope::~ActivityScope() { current_observer = previous_; }

void ReportAction(ActionEvent event) {
  if (current_observer != nullptr) current_observer->OnAction(event);
}

}  // namespace vigilo
