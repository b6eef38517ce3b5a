#include "service/preview_engine.h"

#include <algorithm>

#include "common/text.h"
#include "data/name_lists.h"
#include "data/server_paths.h"
#include "service/project.h"
#include "service/project_table.h"

namespace vigilo {

namespace {
CMailSender::Options SenderOptions(LogStream* log) {
  CMailSender::Options options;
  options.log = log;
  return options;
}
}  // namespace

RecordingMailSender::RecordingMailSender(LogStream* log) : CMailSender(SenderOptions(log)) {}

bool RecordingMailSender::Submit(const NotifyMessage& message,
                                 const std::function<bool()>& /*flag*/) {
  recipients_[static_cast<long>(message.record)] = message.recipients;
  return true;
}

PreviewEngine::PreviewEngine(bool changes_nothing, std::ostream& err, bool quiet)
    : err_(err),
      quiet_(quiet),
      // Never flushed to a file of the installation.
      log_([] { return std::string("/dev/null"); },
           [&err, quiet](std::string_view text) {
             if (!quiet) err << text << "\n";
           }),
      worker_(&log_) {
  worker_.creates_flag_tables = !changes_nothing;
}

PreviewEngine::~PreviewEngine() {
  std::string text = log_.Text();
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  if (!quiet_ && !text.empty()) err_ << text;
  worker_.log = nullptr;
  worker_.projects.reset();
}

bool PreviewEngine::Load(std::string* why) {
  worker_.settings = std::make_unique<CServerPaths>();
  sender_ = std::make_unique<RecordingMailSender>(&log_);
  worker_.mail_sender = sender_.get();
  FillProcessNameLists(worker_.settings->server_dir, log_.reporter());
  worker_.projects.emplace();
  if (worker_.LoadRules(worker_.settings->rule_table_path)) return true;
  std::string reason = worker_.startup_message;
  if (reason.empty()) reason = "Unable to read the rule table " + worker_.settings->rule_table_path;
  if (why != nullptr) {
    *why = reason;
  } else {
    err_ << reason << "\n";
  }
  return false;
}

std::vector<PreviewEngine::Entry> PreviewEngine::Rules(const std::vector<int32_t>& ids) {
  auto wanted = [&ids](int32_t id) {
    return ids.empty() || std::find(ids.begin(), ids.end(), id) != ids.end();
  };
  std::vector<Entry> entries;
  if (!worker_.projects) return entries;
  for (const auto& project : *worker_.projects) {
    for (const auto& table : project->tables()) {
      if (table->update_rules) {
        for (const auto& rule : *table->update_rules) {
          if (wanted(rule->rule_id)) entries.push_back({table.get(), rule.get(), rule.get(), 0});
        }
      }
      if (table->notify_rules) {
        for (size_t i = 0; i < table->notify_rules->size(); ++i) {
          CNotifyRule* rule = (*table->notify_rules)[i].get();
          if (wanted(rule->rule_id)) entries.push_back({table.get(), rule, nullptr, i});
        }
      }
    }
  }
  return entries;
}

std::vector<int32_t> PreviewEngine::Missing(const std::vector<int32_t>& ids) {
  std::vector<int32_t> missing;
  const std::vector<Entry> loaded = Rules({});
  for (int32_t id : ids) {
    if (std::none_of(loaded.begin(), loaded.end(),
                     [id](const Entry& entry) { return entry.rule->rule_id == id; })) {
      missing.push_back(id);
    }
  }
  return missing;
}

}  // namespace vigilo
