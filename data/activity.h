// What the engine did, as it happens: one ActionEvent per action on a record
// (a record updated, a notification queued, delivered, refused, given up) and
// the count of records each rule selected. Whoever runs a firing tick puts an
// ActivityObserver in place for it (ActivityScope); the places that know an
// outcome report it to CurrentActivity(), which is null outside a tick, so a
// preview or a tool that runs the same code reports nothing.
//
// Thread-safety: the observer in place belongs to the thread that runs the
// tick; a scope on one thread is not seen by another.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace vigilo {

// Action kinds and outcomes as the firing history stores them.
inline constexpr const char* kActionNotify = "notify";
inline constexpr const char* kActionUpdate = "update";
inline constexpr const char* kOutcomeQueued = "queued";
inline constexpr const char* kOutcomeDelivered = "delivered";
inline constexpr const char* kOutcomeRefused = "refused";
inline constexpr const char* kOutcomeGivenUp = "given up";
inline constexpr const char* kOutcomeUpdated = "updated";
inline constexpr const char* kOutcomeFailed = "failed";

struct ActionEvent {
  std::time_t time = 0;    // set by the observer when left 0
  int32_t rule_id = 0;
  std::string table;       // the table's key: project key + "\" + table name
  long long record = 0;    // FormID
  std::string action;      // kActionNotify or kActionUpdate
  std::string detail;      // recipients, or the rule's assignments
  std::string outcome;     // one of the kOutcome texts
  std::string error;       // what failed, one line; empty otherwise
};

class ActivityObserver {
 public:
  virtual ~ActivityObserver() = default;
  // Must not throw and must not block the tick.
  virtual void OnAction(const ActionEvent& event) = 0;
  // A rule's selection found that many new records.
  virtual void OnSelected(int32_t rule_id, long count) = 0;
};

// The observer of the tick running on this thread, or null.
ActivityObserver* CurrentActivity();

// Puts an observer in place on this thread for the scope's lifetime.
class ActivityScope {
 public:
  explicit ActivityScope(ActivityObserver* observer);
  ~ActivityScope();
  ActivityScope(const ActivityScope&) = delete;
  ActivityScope& operator=(const ActivityScope&) = delete;

 private:
  ActivityObserver* previous_;
};

// Reports an action when a tick is being observed.
void ReportAction(ActionEvent event);

}  // namespace vigilo
