#include "service/read_thread.h"

#include "data/log_stream.h"
#include "data/name_lists.h"
#include "data/server_paths.h"
#include "notify/mail_sender.h"
#include "platform/loader/mail_plugins.h"
#include "service/activity_recorder.h"

namespace vigilo {

CThread::CThread() : host::WorkerThread(/*below_normal_priority=*/true) {}

CThread::~CThread() = default;

CReadThread::CReadThread(LogStream* log_stream)
    : log(log_stream) {}

CReadThread::~CReadThread() {
  // The handler must not run while the members below go away.
  QuitAndWait();
  projects.reset();
  activity_.reset();
  if (log != nullptr) log->Flush(kLogAppend);
  // The provider session ends while the provider is still loaded; the sender
  // (which unloads its own SMTP library) goes after the provider.
  if (mail_sender_owner_) mail_sender_owner_->LogoffMapi();
  mapi_.reset();
  mail_sender = nullptr;
  mail_sender_owner_.reset();
  settings.reset();
  if (clears_name_lists) {
    UserNameList().clear();
    GroupNameList().clear();
  }
  log = nullptr;
}

void CReadThread::OnMessage(const host::ThreadMessage& message) {
  if (message.id == kFireRulesMessage) {
    OnFireRules();
  } else if (message.id == kReloadMessage) {
    const bool reloaded = ReloadEngine() != 0;
    if (reload_done) reload_done(reloaded);
  }
}

void CReadThread::OnFireRules() {
  if (busy_flag.load() != 0 || pause_flag.load() != 0) return;
  busy_flag.store(1);
  FireRules();
  if (log != nullptr) log->Flush(kLogAppend);
  if (tick_done) tick_done();
  const int32_t stop = stop_flag.load();
  busy_flag.store(0);
  if (stop != 0) EndThread(0);
}

}  // namespace vigilo
