// Trying a rule before it fires: for a rule as it stands in the Setup Rules
// or the Query Builder dialog (saved or not), how many records of its table
// meet its condition now, how many of them it would act on at the next tick
// (those not yet flagged for its rule id), and which those are. And, for a
// saved rule, "start from now": flagging every record that meets it now, so
// that it acts only on records that newly meet it.
//
// The table, the condition's translation, the selection and the flag table
// are the engine's own (CProject, CProjectTable, BuildSelection), built for
// the one rule; counting writes nothing (no flag table is created, no run
// log is written). The functions run on a worker thread beside the window:
// they build their own settings and connection and show no message; what
// went wrong comes back as text for the caller to show.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vigilo {

inline constexpr const char* kRuleTestTitle = "Test Rule";
inline constexpr const char* kRuleTestButton = "Te&st";
inline constexpr const char* kRuleTestCountingText = "Counting...";
inline constexpr const char* kRuleTestMarkingText = "Marking...";
inline constexpr const char* kRuleTestCancelledText = "The count was cancelled.";
inline constexpr const char* kRuleTestFailedText = "The count failed.";
inline constexpr const char* kRuleTestMeetingLabel = "Records meeting the condition now:";
inline constexpr const char* kRuleTestActingLabel =
    "Records the rule would act on at the next tick:";
inline constexpr const char* kRuleTestListLabel = "&Records the rule would act on:";
inline constexpr const char* kRuleTestRuleText = "Rule %ld (%s) on %s";
inline constexpr const char* kRuleTestNewRuleText = "New rule (%s) on %s";
inline constexpr const char* kRuleTestConditionText = "Condition: %s";
inline constexpr const char* kRuleTestCancelButton = "&Cancel";
inline constexpr const char* kRuleTestCloseButton = "C&lose";
inline constexpr const char* kRuleTestMarkButton = "&Mark as already handled";
inline constexpr const char* kRuleTestNoConditionMessage = "The rule has no condition to test!";
inline constexpr const char* kRuleTestListCutText = "Only the first %zu records are listed.";
inline constexpr const char* kRuleTestNewRuleNote =
    "Not saved yet: it would act on every record that meets its condition.";
inline constexpr const char* kRuleTestDisabledNote =
    "Rule %ld is disabled: the service does not load it, so it acts on no record until it "
    "is enabled.";
inline constexpr const char* kRuleTestNoFlagTableNote =
    "The table has no flag table yet: the rule would act on every record that meets its "
    "condition.";
inline constexpr const char* kMarkQuestion =
    "The %ld records that meet rule %ld now and are not flagged yet will be marked as "
    "already handled: the rule will not act on them, only on records that newly meet it.\n\n"
    "Are you sure?";
inline constexpr const char* kMarkDoneMessage = "%ld records marked as already handled.";
inline constexpr const char* kMarkFailedMessage =
    "The records could not all be marked: the rule acts on those left unmarked at the next "
    "tick.";
inline constexpr const char* kMarkRefusedMessage =
    "%s\n\nStop Vigilo Server (or the vgservice daemon) first, then mark the records.";

// The list shows no more records than this.
inline constexpr size_t kRuleTestListLimit = 10000;

// The rule under test, as the dialog holds it.
struct TestedRule {
  long kind = 0;              // database kind of the project
  std::string dsn;            // "SERVERDIR" for a dBase project
  std::string project_table;  // "project\table"
  std::string action;         // "Update", "Notify", or empty while none is chosen
  std::string target;
  std::string values;
  std::string condition;
  long flag = 0;  // bit 0: the condition is in the SQL form "FROM ... WHERE ..."
  // The rule's id when it is in the rule table; none for a rule not added yet.
  std::optional<long> rule_id;
  // Kept from the service by the Reserved1 mark: it acts on nothing.
  bool disabled = false;
};

// One record the rule would act on.
struct TestedRecord {
  long form_id = 0;
  std::string value;  // of the first report column; empty when there is none
};

struct RuleTestResult {
  enum class Outcome { kCounted, kCancelled, kFailed };
  Outcome outcome = Outcome::kFailed;
  // kFailed: why, as a message for the supervisor.
  std::string message;
  // The statement that selects the records meeting the condition.
  std::string selection;
  long meeting = 0;
  long to_act_on = 0;
  // False when the table has no flag table yet (nothing of it is flagged).
  bool has_flag_table = true;
  // The first column a message of the rule would show; empty when none.
  std::string column;
  // The records the rule would act on, in selection order, at most
  // RuleTestOptions::list_limit of them.
  std::vector<TestedRecord> records;
};

struct RuleTestOptions {
  // Set from another thread to stop the count; it is looked at before each
  // statement, between fetched rows, and by the database while a statement
  // runs (the dBase engine during its scan, an ODBC data source while the
  // statement executes on the server), so a long statement stops too.
  const std::atomic<bool>* cancel = nullptr;
  // Called on the counting thread with the number of rows read so far, every
  // kRuleTestProgressRows rows.
  std::function<void(long rows)> progress;
  size_t list_limit = kRuleTestListLimit;
};
inline constexpr long kRuleTestProgressRows = 64;

// Counts the rule on its table. A condition that does not translate, a rule
// the service would refuse, a project or table that cannot be opened and a
// failing statement give kFailed with the reason.
RuleTestResult CountRule(const TestedRule& rule, const RuleTestOptions& options = {});

struct MarkResult {
  bool marked = false;
  long count = 0;       // records flagged
  std::string message;  // not marked: why
};

// "Start from now" for a saved rule: as `vgservice --mark-current ID` does,
// the flags of records that no longer meet the condition are dropped and
// every record that meets it and is not flagged is flagged, without acting
// (the flag table is created when missing). Refused, with kMarkRefusedMessage,
// while another engine holds the installation's lock (the in-process server,
// the daemon): it would race that engine's ticks. REQUIRES: rule.rule_id.
MarkResult MarkRuleHandled(const TestedRule& rule);

}  // namespace vigilo
