// The engine's metrics in Prometheus' text exposition format, written after
// every tick to the file named by METRICS_FILE (vigtab.ini, section OPTIONS;
// no file when the key is absent), for node exporter's textfile collector.
// The counters are the firing history's running totals, so they keep growing
// across restarts of the engine and match what the history lists.
#pragma once

#include <ctime>
#include <string>

#include "data/firing_history.h"

namespace vigilo {

inline constexpr const char* kMetricsFileKey = "METRICS_FILE";

// What the outbox holds at the end of a tick.
struct OutboxState {
  long depth = 0;
  std::time_t oldest_created = 0;  // 0 when empty
};

// The exposition text: the totals, the last tick and the outbox at time now.
std::string MetricsText(const HistoryTotals& totals, const TickRecord& last_tick,
                        const OutboxState& outbox, std::time_t now);

// Puts the text in place of the file in one step (readers see the old text
// or the new one). Returns false with error filled.
bool WriteMetricsFile(const std::string& path, const std::string& text, std::string* error);

}  // namespace vigilo
