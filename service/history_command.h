// vgservice --history: lists what the engine did, newest first, from the
// firing history of the installation, as a table for a terminal or as one
// JSON object a line for scripts. Read-only: it works while the daemon runs
// and changes nothing.
#pragma once

#include <ctime>
#include <optional>
#include <ostream>
#include <string>

#include "data/firing_history.h"

namespace vigilo {

// A --since value: "YYYY-MM-DD[ HH:MM[:SS]]" or "YYYY-MM-DDTHH:MM[:SS]" in
// local time, or a span before now: a number followed by s, m, h or d
// ("36h"). std::nullopt when the text is neither.
std::optional<std::time_t> ParseSinceTime(const std::string& text, std::time_t now);

// Local time as "YYYY-MM-DD HH:MM:SS".
std::string HistoryTimeText(std::time_t when);

// One action as a JSON object (no line end).
std::string ActionJson(const ActionRecord& row);

// Prints the actions the filter selects from the history of the current
// program directory's installation. Returns the exit status: 0, or 1 when
// the history cannot be read (the reason goes to err; an installation
// without a history yet lists nothing).
int RunHistory(const HistoryFilter& filter, bool json, std::ostream& out, std::ostream& err);

}  // namespace vigilo
