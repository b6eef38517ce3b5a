#include "service/metrics_file.h"

#include "common/file_system.h"
#include "common/format.h"

namespace vigilo {
namespace {

class Exposition {
 public:
  void Family(const char* name, const char* type, const char* help) {
    text_ += Format("# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
  }
  void Sample(const std::string& name, long long value, const std::string& labels = {}) {
    text_ += name;
    if (!labels.empty()) text_ += "{" + labels + "}";
    text_ += Format(" %lld\n", value);
  }
  void Seconds(const std::string& name, double value) {
    text_ += Format("%s %.3f\n", name.c_str(), value);
  }
  std::string& text() { return text_; }

 private:
  std::string text_;
};

long long Get(const std::map<std::string, int64_t>& values, const std::string& name) {
  auto found = values.find(name);
  return found != values.end() ? found->second : 0;
}

// Notification outcomes as label values: no blanks.
const char* const kNotifyOutcomes[][2] = {{kOutcomeQueued, "queued"},
                                           {kOutcomeDelivered, "delivered"},
                                           {kOutcomeRefused, "refused"},
                                           {kOutcomeGivenUp, "given_up"},
                                           {kOutcomeFailed, "failed"}};

}  // namespace

std::string MetricsText(const HistoryTotals& totals, const TickRecord& last_tick,
                        const OutboxState& outbox, std::time_t now) {
  Exposition out;
  out.Family("vigilo_ticks_total", "counter", "Firing ticks run.");
  out.Sample("vigilo_ticks_total", Get(totals.all, "ticks"));
  out.Family("vigilo_last_tick_timestamp_seconds", "gauge", "Start of the last tick.");
  out.Sample("vigilo_last_tick_timestamp_seconds", static_cast<long long>(last_tick.started));
  out.Family("vigilo_last_tick_duration_seconds", "gauge", "Duration of the last tick.");
  out.Seconds("vigilo_last_tick_duration_seconds",
              static_cast<double>(last_tick.duration_ms) / 1000.0);
  out.Family("vigilo_records_selected_total", "counter",
             "Records the rules' selections found newly meeting their conditions.");
  out.Sample("vigilo_records_selected_total", Get(totals.all, "selected"));
  out.Family("vigilo_updates_total", "counter", "Records updated by update rules.");
  out.Sample("vigilo_updates_total",
             Get(totals.all, std::string(kActionUpdate) + ":" + kOutcomeUpdated));
  out.Family("vigilo_update_failures_total", "counter", "Record updates that failed.");
  out.Sample("vigilo_update_failures_total",
             Get(totals.all, std::string(kActionUpdate) + ":" + kOutcomeFailed));
  out.Family("vigilo_notifications_total", "counter", "Notifications by outcome.");
  for (const auto& outcome : kNotifyOutcomes) {
    out.Sample("vigilo_notifications_total",
               Get(totals.all, std::string(kActionNotify) + ":" + outcome[0]),
               Format("outcome=\"%s\"", outcome[1]));
  }
  out.Family("vigilo_outbox_messages", "gauge", "Messages waiting in the outbox.");
  out.Sample("vigilo_outbox_messages", outbox.depth);
  out.Family("vigilo_outbox_oldest_age_seconds", "gauge",
             "Age of the oldest message in the outbox (0 when empty).");
  out.Sample("vigilo_outbox_oldest_age_seconds",
             outbox.oldest_created > 0 && now > outbox.oldest_created
                 ? static_cast<long long>(now - outbox.oldest_created)
                 : 0);
  out.Family("vigilo_errors_total", "counter", "Error entries the ticks wrote to the run log.");
  out.Sample("vigilo_errors_total", Get(totals.all, "errors"));

  out.Family("vigilo_rule_records_selected_total", "counter", "Records selected, by rule.");
  for (const auto& [rule, values] : totals.by_rule) {
    out.Sample("vigilo_rule_records_selected_total", Get(values, "selected"),
               Format("rule=\"%ld\"", static_cast<long>(rule)));
  }
  out.Family("vigilo_rule_actions_total", "counter", "Actions by rule, kind and outcome.");
  for (const auto& [rule, values] : totals.by_rule) {
    for (const auto& [name, value] : values) {
      const size_t colon = name.find(':');
      if (colon == std::string::npos) continue;
      std::string outcome = name.substr(colon + 1);
      for (char& c : outcome) {
        if (c == ' ') c = '_';
      }
      out.Sample("vigilo_rule_actions_total", value,
                 Format("rule=\"%ld\",action=\"%s\",outcome=\"%s\"", static_cast<long>(rule),
                        name.substr(0, colon).c_str(), outcome.c_str()));
    }
  }
  return std::move(out.text());
}

bool WriteMetricsFile(const std::string& path, const std::string& text, std::string* error) {
  // The collector runs as another user: the file is world-readable; it
  // holds counts only.
  return ReplaceFileAtomically(path, text, 0644, error) == ReplaceResult::kDone;
}

}  // namespace vigilo
