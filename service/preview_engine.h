// PreviewEngine: the engine's rules loaded as a start loads them, for the
// commands that look at what the rules would do (dry run, "start from now",
// installation check). The worker is never started, the mail sender delivers
// nothing (it keeps the recipients of each message it is handed), and the run
// log collects in memory: what it holds at the end goes to the error stream
// (unless the engine is quiet), never into the installation.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "data/log_stream.h"
#include "data/rule.h"
#include "notify/mail_sender.h"
#include "service/read_thread.h"

namespace vigilo {

class CProjectTable;

// A mail sender that keeps the recipients of each message instead of
// delivering it.
class RecordingMailSender : public CMailSender {
 public:
  explicit RecordingMailSender(LogStream* log);

  // Keeps the message's recipients; nothing is queued, flagged or sent.
  bool Submit(const NotifyMessage& message, const std::function<bool()>& flag) override;

  // Recipients by record number, of the messages since the last clear.
  std::map<long, std::string>& recipients() { return recipients_; }

 private:
  std::map<long, std::string> recipients_;
};

class PreviewEngine {
 public:
  // changes_nothing: no flag table is created (a missing one is noted on its
  // table). quiet: the run log's text is dropped instead of shown on err.
  PreviewEngine(bool changes_nothing, std::ostream& err, bool quiet = false);
  ~PreviewEngine();
  PreviewEngine(const PreviewEngine&) = delete;
  PreviewEngine& operator=(const PreviewEngine&) = delete;

  // Settings, name lists and the rule table. False when no rule could be
  // loaded; the reason is then written to err, or kept in *why when given.
  bool Load(std::string* why = nullptr);

  // A loaded rule with its table.
  struct Entry {
    CProjectTable* table;
    CRule* rule;
    CUpdateRule* update;  // null for a notification rule
    size_t notify_index;  // in the table's notification rules
  };
  // Each loaded rule of the ids (all when empty) in project, table and rule
  // order; a table's update rules before its notification rules, as a tick
  // runs them.
  std::vector<Entry> Rules(const std::vector<int32_t>& ids);
  // The ids that name no loaded rule.
  std::vector<int32_t> Missing(const std::vector<int32_t>& ids);

  CServerPaths& settings() { return *worker_.settings; }
  // The run log's text so far: it grows with each statement that failed.
  std::string LogText() const { return log_.Text(); }
  RecordingMailSender& sender() { return *sender_; }
  CReadThread& worker() { return worker_; }

 private:
  std::ostream& err_;
  bool quiet_;
  LogStream log_;
  std::unique_ptr<RecordingMailSender> sender_;  // outlives the worker's projects
  CReadThread worker_;
};

}  // namespace vigilo
