#include "manager/rule_test_logic.h"

#include "common/format.h"

namespace vigilo {

RuleTestLogic::RuleTestLogic(TestedRule rule, RuleTestMarkOffer offer)
    : rule_(std::move(rule)), offer_(offer) {}

std::string RuleTestLogic::RuleLine() const {
  const std::string action = rule_.action.empty() ? "no action yet" : rule_.action;
  return rule_.rule_id ? Format(kRuleTestRuleText, *rule_.rule_id, action.c_str(),
                                rule_.project_table.c_str())
                       : Format(kRuleTestNewRuleText, action.c_str(), rule_.project_table.c_str());
}

std::string RuleTestLogic::ConditionLine() const {
  return Format(kRuleTestConditionText, rule_.condition.c_str());
}

void RuleTestLogic::CountStarted() {
  counted_ = false;
  result_ = RuleTestResult();
}

void RuleTestLogic::Counted(RuleTestResult result) {
  result_ = std::move(result);
  counted_ = true;
}

std::string RuleTestLogic::CountStatus() const {
  if (!counted_) return kRuleTestCountingText;
  switch (result_.outcome) {
    case RuleTestResult::Outcome::kCancelled: return kRuleTestCancelledText;
    case RuleTestResult::Outcome::kFailed: return kRuleTestFailedText;
    case RuleTestResult::Outcome::kCounted: break;
  }
  return "";
}

std::string RuleTestLogic::Note() const {
  // Whatever the counts say, a disabled rule acts on none of them.
  if (rule_.disabled && rule_.rule_id) return Format(kRuleTestDisabledNote, *rule_.rule_id);
  if (!counted_ || result_.outcome != RuleTestResult::Outcome::kCounted) return "";
  if (!rule_.rule_id) return kRuleTestNewRuleNote;
  if (!result_.has_flag_table) return kRuleTestNoFlagTableNote;
  return "";
}

std::string RuleTestLogic::ListCutNote() const {
  if (!counted_ || result_.outcome != RuleTestResult::Outcome::kCounted) return "";
  if (result_.records.size() >= static_cast<size_t>(result_.to_act_on)) return "";
  return Format(kRuleTestListCutText, result_.records.size());
}

bool RuleTestLogic::MarkEnabled() const {
  return offer_ == RuleTestMarkOffer::kEnabled && rule_.rule_id.has_value() && counted_ &&
         !marking_ && result_.outcome == RuleTestResult::Outcome::kCounted &&
         result_.to_act_on > 0;
}

std::optional<std::string> RuleTestLogic::MarkQuestion() const {
  if (!MarkEnabled()) return std::nullopt;
  return Format(kMarkQuestion, result_.to_act_on, *rule_.rule_id);
}

void RuleTestLogic::MarkingStarted() { marking_ = true; }

std::string RuleTestLogic::Marked(const MarkResult& result) {
  marking_ = false;
  if (!result.marked) return result.message;
  // The flags changed: the last count no longer holds until the next one.
  counted_ = false;
  return Format(kMarkDoneMessage, result.count);
}

}  // namespace vigilo
