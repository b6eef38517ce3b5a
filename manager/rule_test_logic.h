// RuleTestLogic: what the Test dialog shows around a count (CountRule): the
// rule's lines, the status after the count, the note on what the counts
// mean, the note on a cut list, and when "Mark as already handled" may be
// pressed. The Qt dialog runs the count and the marking on a worker thread
// and shows what this class decides; it holds no rule of its own.
#pragma once

#include <optional>
#include <string>

#include "manager/rule_test.h"

namespace vigilo {

// Whether "Mark as already handled" is offered: not at all (the Query
// Builder), shown but disabled (a rule that differs from what is saved), or
// enabled once a count finds records the saved rule would act on.
enum class RuleTestMarkOffer { kNone, kDisabled, kEnabled };

class RuleTestLogic {
 public:
  RuleTestLogic(TestedRule rule, RuleTestMarkOffer offer);

  const TestedRule& rule() const { return rule_; }
  bool MarkShown() const { return offer_ != RuleTestMarkOffer::kNone; }
  // "Rule %ld (%s) on %s", or "New rule (%s) on %s" for a rule not added yet.
  std::string RuleLine() const;
  std::string ConditionLine() const;

  // A count starts (nothing counted is shown, Mark is disabled) and ends.
  void CountStarted();
  void Counted(RuleTestResult result);
  const RuleTestResult& result() const { return result_; }
  // The status line after the count: empty once counted.
  std::string CountStatus() const;
  // The note above the counts: a disabled rule, a rule not saved yet, or a table without a
  // flag table, acts on every record that meets the condition; else empty.
  std::string Note() const;
  // Shown below a list that holds fewer records than the rule acts on.
  std::string ListCutNote() const;
  // Whether Mark may be pressed: offered enabled, the rule saved, a count
  // done that found records to act on, and no marking running.
  bool MarkEnabled() const;

  // Mark: the question to ask, or std::nullopt when Mark cannot run now.
  std::optional<std::string> MarkQuestion() const;
  void MarkingStarted();
  // The marking's outcome: the message to show. A refused or failed marking
  // leaves Mark enabled again; a done one needs a new count.
  std::string Marked(const MarkResult& result);
  bool marking() const { return marking_; }

 private:
  TestedRule rule_;
  RuleTestMarkOffer offer_;
  RuleTestResult result_;
  bool counted_ = false;
  bool marking_ = false;
};

}  // namespace vigilo
