#include "service/activity_recorder.h"

#include <algorithm>
#include <cstdlib>
#include <exception>

#include "common/format.h"
#include "common/ini_profile.h"
#include "common/text.h"
#include "data/clock.h"
#include "data/log_stream.h"
#include "data/run_log_entries.h"
#include "platform/host/message_line.h"

namespace vigilo {
namespace {

// Pruning deletes by an index, but once an hour is plenty.
constexpr std::time_t kPruneEvery = 3600;
// The error entries a tick row keeps, so one bad tick cannot bloat the file.
constexpr size_t kErrorTextLimit = 4000;

constexpr const char* kHistoryFailedLine = "Firing history not written : %s \r\n";
constexpr const char* kMetricsFailedLine = "Metrics file not written : %s \r\n";

void AddAction(TickRecord& tick, const ActionEvent& event) {
  if (event.outcome == kOutcomeUpdated) ++tick.updates;
  else if (event.outcome == kOutcomeQueued) ++tick.queued;
  else if (event.outcome == kOutcomeDelivered) ++tick.delivered;
  else if (event.outcome == kOutcomeRefused) ++tick.refused;
  else if (event.outcome == kOutcomeGivenUp) ++tick.given_up;
  else if (event.outcome == kOutcomeFailed) ++tick.failed;
}

void AddToTotals(HistoryTotals& totals, const TickRecord& tick,
                 const std::vector<ActionEvent>& actions,
                 const std::map<int32_t, long>& selected) {
  totals.all["ticks"] += 1;
  totals.all["errors"] += tick.errors;
  totals.all["duration_ms"] += tick.duration_ms;
  for (const auto& [rule, count] : selected) {
    totals.all["selected"] += count;
    totals.by_rule[rule]["selected"] += count;
  }
  for (const ActionEvent& event : actions) {
    const std::string name = event.action + ":" + event.outcome;
    totals.all[name] += 1;
    totals.by_rule[event.rule_id][name] += 1;
  }
}

}  // namespace

ActivityRecorder::Options ActivityRecorder::OptionsFor(const std::string& program_ini_path,
                                                       const std::string& server_dir) {
  Options options;
  options.history_path = FiringHistory::PathOf(server_dir);
  options.metrics_path =
      Trimmed(GetProfileString(program_ini_path, "OPTIONS", kMetricsFileKey, ""));
  const std::string days =
      Trimmed(GetProfileString(program_ini_path, "OPTIONS", kHistoryDaysKey, ""));
  char* end = nullptr;
  const long value = days.empty() ? 0 : std::strtol(days.c_str(), &end, 10);
  // Absent, not a number or not positive: the default, never "keep nothing".
  if (!days.empty() && *end == '\0' && value > 0) options.history_days = value;
  return options;
}

ActivityRecorder::ActivityRecorder(Options options) : options_(std::move(options)) {}

void ActivityRecorder::BeginTick() {
  tick_ = TickRecord{};
  tick_.started = Now();
  tick_.runner = options_.runner;
  actions_.clear();
  selected_.clear();
  tick_start_ = std::chrono::steady_clock::now();
  log_offset_ = options_.log != nullptr ? options_.log->Text().size() : 0;
}

void ActivityRecorder::OnAction(const ActionEvent& event) {
  actions_.push_back(event);
  if (actions_.back().time == 0) actions_.back().time = Now();
  AddAction(tick_, event);
}

void ActivityRecorder::OnSelected(int32_t rule_id, long count) {
  if (count <= 0) return;
  selected_[rule_id] += count;
  tick_.selected += count;
}

void ActivityRecorder::EndTick() {
  tick_.duration_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - tick_start_)
                          .count();
  if (options_.log != nullptr) {
    // The errors are the run log's, counted as the journal and --once count
    // them.
    const std::string text = options_.log->Text();
    const std::string_view written =
        std::string_view(text).substr(std::min(log_offset_, text.size()));
    RunLogTally tally;
    for (const host::JournalEntry& entry : RunLogJournalEntries(written, "", &tally)) {
      if (entry.priority > host::kJournalError) continue;
      if (tick_.error_text.size() >= kErrorTextLimit) break;
      if (!tick_.error_text.empty()) tick_.error_text += "\n";
      tick_.error_text += host::OneLine(entry.message);
    }
    tick_.errors = tally.errors;
  }
  if (!options_.history_path.empty()) WriteHistory();
  if (!totals_loaded_) totals_loaded_ = true;  // the history had none to give
  AddToTotals(totals_, tick_, actions_, selected_);
  if (!options_.metrics_path.empty()) WriteMetrics();
  actions_.clear();
  selected_.clear();
}

bool ActivityRecorder::EnsureHistory() {
  if (history_.IsOpen()) return true;
  history_.OpenForWriting(options_.history_path);
  if (!totals_loaded_) {
    totals_ = history_.Totals();
    totals_loaded_ = true;
  }
  return true;
}

void ActivityRecorder::WriteHistory() {
  try {
    EnsureHistory();
    tick_.id = history_.WriteTick(tick_, actions_, selected_);
    const std::time_t now = Now();
    if (now - last_prune_ >= kPruneEvery || now < last_prune_) {
      history_.Prune(now - static_cast<std::time_t>(options_.history_days) * 86400);
      last_prune_ = now;
    }
    history_failed_ = false;
  } catch (const std::exception& error) {
    // Opened again at the next tick: the file may have been moved or fixed.
    history_.Close();
    Failed(history_failed_, kHistoryFailedLine,
           options_.history_path + ": " + host::OneLine(error.what()));
  }
}

void ActivityRecorder::WriteMetrics() {
  OutboxState outbox;
  if (options_.outbox) outbox = options_.outbox();
  std::string error;
  if (WriteMetricsFile(options_.metrics_path, MetricsText(totals_, tick_, outbox, Now()),
                       &error)) {
    metrics_failed_ = false;
  } else {
    Failed(metrics_failed_, kMetricsFailedLine, error);
  }
}

void ActivityRecorder::Failed(bool& reported, const char* what, const std::string& why) {
  if (reported) return;
  reported = true;
  if (options_.log != nullptr) options_.log->Write(Format(what, why.c_str()));
}

}  // namespace vigilo
