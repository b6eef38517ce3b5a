// The engine initialisation, the firing tick and the project listing of the
// worker.
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/format.h"
#include "data/log_stream.h"
#include "data/name_lists.h"
#include "data/server_paths.h"
#include "notify/mail_sender.h"
#include "notify/orvik_tables.h"
#include "platform/loader/mail_plugins.h"
#include "service/activity_recorder.h"
#include "service/read_thread.h"
#include "service/service_texts.h"

namespace vigilo {
namespace {

std::string JoinIds(const std::vector<int32_t>& ids) {
  std::string text;
  for (int32_t id : ids) {
    if (!text.empty()) text += ",";
    text += Format("%ld", static_cast<long>(id));
  }
  return text;
}

}  // namespace

int CReadThread::LoadMailProvider() {
  auto plugin = std::make_unique<MapiPlugin>(LoadMapiPlugin(ProgramDirectory()));
  switch (plugin->load.status) {
    case PluginLoad::Status::kLoaded:
      mapi_ = std::move(plugin);
      return 1;
    case PluginLoad::Status::kLibraryMissing:
      LogMessage(log, "Error loading MAPI32.DLL", /*quiet=*/false);
      return 0;
    case PluginLoad::Status::kFunctionMissing:
      break;
  }
  LogMessage(log, "Unable to call MAPI functions. MAPI32.DLL may be corrupted",
             /*quiet=*/false);
  return 0;
}

int CReadThread::InitEngine() {
  firing_interval.store(GetFiringInterval());

  // The host's start lines have told the journal already.
  if (log != nullptr) {
    log->WriteFileOnly(std::string(kVersionLine) + "\r\n");
    log->WriteFileOnly(DateLine(std::time(nullptr)) + "\r\n");
  }

  if (!LoadMailProvider()) return 0;

  settings = std::make_unique<CServerPaths>();
  if (log != nullptr) log->SetRotation(GetRunLogMaxSize(), GetRunLogKeep());
  CMailSender::Options mail_options;
  mail_options.log = log;
  if (mapi_) mail_options.mapi = MapiFunctionsOf(*mapi_);
  mail_sender_owner_ = std::make_unique<CMailSender>(std::move(mail_options));
  mail_sender = mail_sender_owner_.get();
  mail_sender->SetStopCheck([this] { return stop_flag.load() != 0; });
  FillProcessNameLists(settings->server_dir,
                       log != nullptr ? log->reporter() : MessageReporter());
  projects.emplace();
  projects->reserve(10);

  if (!LoadRules(settings->rule_table_path)) {
    if (!startup_message.empty()) {
      if (log != nullptr) {
        // A database error is in the run log already, with its statement.
        if (error_detail.empty()) {
          log->Report(startup_message);
        } else {
          log->ReportLogged(startup_message);
        }
      }
      startup_message.clear();
    } else if (error_detail.empty() && log != nullptr) {
      // Nothing else names the cause: the run log keeps its established
      // content, the journal (or the terminal) gets the reason.
      host::JournalEntry entry;
      entry.priority = host::kJournalError;
      entry.message = Format("The rule table %s cannot be opened",
                             settings->rule_table_path.c_str());
      log->SendToJournal(entry);
    }
    if (log != nullptr) log->Flush(kLogAppend);
    return 0;
  }

  mail_sender->InitMailSystems();
  StartActivityRecorder();
  WriteProjectListing();
  if (log != nullptr) log->Flush(kLogAppend);
  return 1;
}

void CReadThread::WriteProjectListing() {
  if (log == nullptr || !projects) return;
  log->Write("ORVIK PROJECTS \r\n\r\n");
  long project_number = 0;
  for (const auto& project : *projects) {
    std::string text =
        Format(" %ld) %s (TABLES)\r\n", ++project_number, project->key().c_str());
    const std::vector<int32_t> waiting_ids = project->WaitingRuleIds();
    if (!waiting_ids.empty()) {
      text += "    Rules waiting for the database : " + JoinIds(waiting_ids) + "\r\n";
    }
    long table_number = 0;
    for (const auto& table : project->tables()) {
      text += Format("    %ld. %s\r\n", ++table_number, table->name().c_str());
      const std::vector<int32_t> update_ids = table->UpdateRuleIds();
      if (!update_ids.empty()) {
        text += "         Update Rules       : " + JoinIds(update_ids) + "\r\n";
      }
      const std::vector<int32_t> notify_ids = table->NotifyRuleIds();
      if (!notify_ids.empty()) {
        text += "         Notification Rules : " + JoinIds(notify_ids) + "\r\n";
      }
      if (!table->RefusedRuleIds().empty()) {
        text += "         Refused Rules      : " + JoinIds(table->RefusedRuleIds()) + "\r\n";
      }
      text += "\r\n";
    }
    text += "\r\n";
    log->Write(text);
    // Opened while its rules loaded; from the first tick on it is opened when
    // needed.
    project->CloseProject();
  }
}

int CReadThread::ReloadEngine() {
  firing_interval.store(GetFiringInterval());
  // The old projects point at the old settings: both stay until the new
  // rules are known to have loaded.
  std::unique_ptr<CServerPaths> previous_settings = std::move(settings);
  std::optional<std::vector<std::unique_ptr<CProject>>> previous_projects =
      std::move(projects);
  settings = std::make_unique<CServerPaths>();
  if (log != nullptr) log->SetRotation(GetRunLogMaxSize(), GetRunLogKeep());
  UserNameList().clear();
  GroupNameList().clear();
  FillProcessNameLists(settings->server_dir,
                       log != nullptr ? log->reporter() : MessageReporter());
  projects.emplace();
  projects->reserve(10);
  error_detail.clear();
  startup_message.clear();

  if (!LoadRules(settings->rule_table_path)) {
    const std::string reason = !startup_message.empty() ? startup_message
                               : !error_detail.empty()  ? error_detail
                                                        : "the rule table cannot be read";
    startup_message.clear();
    reload_failure = reason;
    projects = std::move(previous_projects);
    settings = std::move(previous_settings);
    if (log != nullptr) {
      log->Write(Format("Rules not reloaded, the previous rules stay in force: %s\r\n\r\n",
                        reason.c_str()));
      log->Flush(kLogAppend);
    }
    return 0;
  }
  previous_projects.reset();
  previous_settings.reset();
  StartActivityRecorder();
  reload_failure.clear();
  if (log != nullptr) log->Write("Rules reloaded\r\n\r\n");
  WriteProjectListing();
  if (log != nullptr) log->Flush(kLogAppend);
  return 1;
}

void CReadThread::StartActivityRecorder() {
  ActivityRecorder::Options options =
      ActivityRecorder::OptionsFor(settings->program_ini_path, settings->server_dir);
  options.runner = runner;
  options.log = log;
  CMailSender* sender = mail_sender;
  options.outbox = [sender] {
    OutboxState state;
    if (sender == nullptr) return state;
    // Names sort in the order written: only the oldest entry is read.
    const std::vector<std::string> names = sender->outbox().EntryNames();
    state.depth = static_cast<long>(names.size());
    for (const std::string& name : names) {
      OutboxEntry entry;
      if (sender->outbox().Read(name, entry) != Outbox::ReadStatus::kRead) continue;
      state.oldest_created = entry.created;
      break;
    }
    return state;
  };
  activity_ = std::make_unique<ActivityRecorder>(std::move(options));
}

void CReadThread::FireRules() {
  if (!projects) return;
  // Everything the tick does is reported to the recorder in place here.
  ActivityScope observed(activity_.get());
  if (activity_) activity_->BeginTick();
  // What earlier ticks left in the outbox goes out before anything new.
  if (mail_sender != nullptr) mail_sender->BeginTick();
  const bool keep_connections = firing_interval.load() <= 90;
  for (const auto& project : *projects) {
    if (stop_flag.load() != 0) break;
    // What the project's rules write is the project's in the journal.
    if (log != nullptr) log->SetProject(project->name());
    project->FireTick(keep_connections);
  }
  if (log != nullptr) log->SetProject("");
  if (mail_sender != nullptr) mail_sender->EndTick();
  if (activity_) activity_->EndTick();
}

}  // namespace vigilo
