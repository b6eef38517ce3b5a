// Run-log entries as the journal sees them: the text the service collects
// for vglog.ini cut into entries, each with a priority and the fields that
// let journalctl pick out a rule or a project.
//
// The run log is a stream of composed texts with no record marks, so entries
// are found by their layout: an entry ends at an empty line, and a line that
// opens a known entry ("ODBC Reported Error", "Updating records", "Sending
// notification", "Mail delivery failed", the start and failure lines) begins
// a new one. Indented lines continue the entry above them.
#pragma once

#include <string_view>
#include <vector>

#include "platform/host/journal.h"

namespace vigilo {

// What a run of entries did, for the service's status line and the exit
// status of a single tick.
struct RunLogTally {
  long errors = 0;         // entries at error priority
  long updates = 0;        // update blocks
  long notifications = 0;  // notification blocks

  RunLogTally& operator+=(const RunLogTally& other) {
    errors += other.errors;
    updates += other.updates;
    notifications += other.notifications;
    return *this;
  }
};

// Cuts text into journal entries. Database errors, delivery failures and
// start failures are errors, the start lines and the project listing notices,
// everything else information. An entry that names "Rule ID : N" gets the
// field VIGILO_RULE_ID=N; a non-empty project gives every entry
// VIGILO_PROJECT. Line ends become "\n"; blank entries are dropped. When
// tally is given, what the entries did is added to it.
std::vector<host::JournalEntry> RunLogJournalEntries(std::string_view text,
                                                     std::string_view project,
                                                     RunLogTally* tally = nullptr);

}  // namespace vigilo
