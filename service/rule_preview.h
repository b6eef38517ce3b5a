// Seeing what the rules will do before they do it: the dry run (one tick that
// changes nothing and tells, per rule, which records it would act on and how)
// and "start from now" (the records that meet a rule now are flagged without
// the rule acting on them, so it acts only on records that newly meet it).
//
// Both load the rules as the engine does at start, on a worker that is never
// started, with a mail sender that delivers nothing. The dry run also writes
// nothing back: no default settings, no flag table, no run log.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "service/preview_engine.h"

namespace vigilo {

// What a dry run prints: plain text for a person, or one JSON object a line.
enum class PreviewFormat { kText, kJsonLines };

// One dry-run tick over the rules of the given ids (every loaded rule when
// empty), in project, table and rule order. Returns the process exit status:
// 0, or 1 when the rules could not be loaded or a selection failed (the
// reasons go to err).
int RunDryRun(const std::vector<int32_t>& rule_ids, PreviewFormat format, std::ostream& out,
              std::ostream& err);

// Flags, for each rule of the given ids, every record that meets it now and is
// not flagged yet, and prints how many per rule. Refused (status 1) while
// another engine holds the installation's lock, when no id is given, and when
// an id names no loaded rule. Returns the process exit status.
int RunMarkCurrent(const std::vector<int32_t>& rule_ids, std::ostream& out, std::ostream& err);

// Flags every record that meets the entry's rule now and is not flagged yet,
// and prints how many. False (the reason on err) when not all could be.
bool MarkRuleCurrent(PreviewEngine& engine, const PreviewEngine::Entry& entry, std::ostream& out,
                     std::ostream& err);

// The selection of a rule without its flag-table clause: every record that
// meets the condition now, flagged or not.
std::string ConditionSelection(const std::string& selection, const std::string& qualified_table,
                               const std::string& flag_select);

// The first column a message of the rule would show, from a report column
// list ("FormID, ATrail, Title, ..."); empty when it shows none.
std::string FirstReportColumn(const std::string& report_columns);

// Text as a JSON string literal, quotes included.
std::string JsonString(const std::string& text);

}  // namespace vigilo
