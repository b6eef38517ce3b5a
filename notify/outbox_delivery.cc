// The mail sender's side of the outbox: a message is made durable before its
// record is flagged and leaves the outbox only once every recipient has been
// served, refused for good, or its lifetime has run out.
#include "common/file_system.h"
#include "common/format.h"
#include "common/text.h"
#include "data/activity.h"
#include "data/clock.h"
#include "notify/mail_sender.h"
#include "platform/host/message_line.h"

namespace vigilo {

namespace {

// Recipient lists are stored and reported as one comma-separated text.
void AddToList(std::string& list, const std::string& address) {
  list += (list.empty() ? "" : ",") + address;
}

// Tells the tick's observer (the firing history) what became of a message's
// recipients in one delivery attempt: one action a kind of outcome.
void ReportDelivery(const OutboxEntry& entry, const DeliveryReport& report, bool given_up) {
  if (CurrentActivity() == nullptr) return;
  std::string refused, refusal, failed, failure, delivered;
  for (const RecipientResult& result : report.results()) {
    switch (result.outcome) {
      case RecipientOutcome::kDelivered:
        AddToList(delivered, result.address);
        break;
      case RecipientOutcome::kRefused:
        AddToList(refused, result.address);
        refusal = result.error;
        break;
      case RecipientOutcome::kUnserved:  // kept for when a mail system serves it
      case RecipientOutcome::kRetry:
        AddToList(failed, result.address);
        failure = result.error;
        break;
    }
  }
  ActionEvent event{0, entry.rule_id, entry.table_id, entry.record, kActionNotify, {}, {}, {}};
  auto report_one = [&event](const std::string& list, const char* outcome, const std::string& error) {
    if (list.empty()) return;
    event.detail = list;
    event.outcome = outcome;
    event.error = host::OneLine(error);
    ReportAction(event);
  };
  report_one(refused, kOutcomeRefused, refusal);
  report_one(failed, given_up ? kOutcomeGivenUp : kOutcomeFailed, failure);
  report_one(delivered, kOutcomeDelivered, {});
}

}  // namespace

void CMailSender::SetRecordFlagger(RecordFlagger flagger) {
  record_flagger_ = flagger ? std::make_shared<const RecordFlagger>(std::move(flagger)) : nullptr;
}

void CMailSender::BeginTick() {
  CloseSessions();
  outbox_.Settle();
  in_tick_ = true;
  attempts_left_ = tick_limit_;
  unflagged_.clear();
  const std::time_t now = Now();
  // Only the names are held: each entry is read when its turn comes.
  for (const std::string& name : outbox_.EntryNames()) {
    if (StopRequested()) break;
    BeginTickEntry(name, now);
  }
}

void CMailSender::BeginTickEntry(const std::string& name, std::time_t now) {
  const bool flagged = name.ends_with(".msg");
  // Past the tick's limit a flagged message waits unread for the next tick.
  if (flagged && !MayDeliver()) return;
  OutboxLocks::Held held = outbox_.Lock(Outbox::IdOf(name));
  OutboxEntry entry;
  std::string why, text;
  switch (outbox_.Read(name, entry, &why, &text)) {
    case Outbox::ReadStatus::kGone:
      return;
    case Outbox::ReadStatus::kDamaged: {
      const std::optional<OutboxEntry> headers = ParseOutboxHeaders(text);
      // A spare holds nothing or NUL bytes only (delivered_list.h).
      const bool blank = text.find_first_not_of('\0') == std::string::npos;
      if (!flagged && (blank || (headers && !headers->id.empty() &&
                                        headers->id != Outbox::IdOf(name)))) {
        // A spare taken for a new message that a crash left unwritten: the
        // new message's record was never flagged, so it is composed again.
        Files().Unlink(outbox_.directory() + "/" + name);
        return;
      }
      QuarantineFile(name, why, text);
      return;
    }
    case Outbox::ReadStatus::kRead:
      break;
  }
  if (!entry.flagged) {
    unflagged_.push_back(std::move(entry));
    return;
  }
  if (entry.next_attempt <= now) DeliverLocked(entry);
}

void CMailSender::QuarantineFile(const std::string& name, const std::string& why,
                                 const std::string& text) {
  const std::string path = outbox_.directory() + "/" + name;
  std::string moved_to, error;
  if (!outbox_.Quarantine(name, &moved_to, &error)) {
    LogLine(Format(kQuarantineFailedLine, path.c_str(), why.c_str(), error.c_str()));
    return;
  }
  const std::optional<OutboxEntry> headers = ParseOutboxHeaders(text);
  if (!headers) {
    LogLine(Format(kQuarantinedLine, path.c_str(), why.c_str(), moved_to.c_str()));
    return;
  }
  // A copy of another message (its Id line names that one) must not bring
  // the record's message back a second time.
  const bool own = headers->id.empty() || headers->id == Outbox::IdOf(name);
  const bool again = own && !headers->table_id.empty() && headers->record > 0;
  LogLine(Format(kQuarantinedRecordLine, path.c_str(), why.c_str(), moved_to.c_str(),
                 static_cast<long>(headers->rule_id), headers->record,
                 again ? "the message is composed again" : "a copy of another message"));
  if (again) compose_again_.push_back({headers->table_id, headers->rule_id, headers->record});
}

std::vector<std::pair<int32_t, long long>> CMailSender::TakeRecordsToComposeAgain(
    const std::string& table_id) {
  std::vector<std::pair<int32_t, long long>> records;
  std::erase_if(compose_again_, [&](const RecordToComposeAgain& item) {
    if (item.table_id != table_id) return false;
    records.emplace_back(item.rule_id, item.record);
    return true;
  });
  return records;
}

void CMailSender::EndTick() {
  FlushSubmissions();
  // Left-overs of tables no rule watches any more: no flag to write.
  for (OutboxEntry& entry : unflagged_) {
    if (watched_tables_.count(entry.table_id) != 0 || StopRequested()) continue;
    std::string error;
    outbox_.MarkFlagged(entry, &error);
    if (MayDeliver()) DeliverEntry(entry);
  }
  unflagged_.clear();
  CloseSessions();
  outbox_.Settle();
  in_tick_ = false;
}

bool CMailSender::Submit(const NotifyMessage& message, const std::function<bool()>& flag) {
  Submission submission;
  OutboxEntry& entry = submission.entry;
  entry.rule_id = message.rule_id;
  entry.record = message.record;
  entry.table_id = message.table_id;
  entry.database_name = message.database_name;
  entry.subject = message.subject;
  entry.body = message.body;
  entry.recipients = message.recipients;
  entry.created = Now();
  submission.flag = flag;
  if (message.record > 0) submission.flagger = record_flagger_;
  submissions_.push_back(std::move(submission));
  if (submissions_.size() >= kSubmitBatch) FlushSubmissions();
  return true;
}

void CMailSender::FlushSubmissions() {
  if (submissions_.empty()) return;
  std::vector<Submission> batch = std::move(submissions_);
  submissions_.clear();
  auto not_queued = [this](const OutboxEntry& entry, const std::string& error) {
    LogLine(Format(kNotQueuedLine, static_cast<long>(entry.rule_id), entry.record,
                   host::OneLine(error).c_str()));
    ReportAction({0, entry.rule_id, entry.table_id, entry.record, kActionNotify, entry.recipients,
                  kOutcomeFailed, "not queued: " + host::OneLine(error)});
  };
  std::vector<Submission*> written;
  std::string error;
  for (Submission& submission : batch) {
    if (outbox_.Add(submission.entry, &error, /*sync=*/false, &submission.lock)) {
      written.push_back(&submission);
    } else {
      not_queued(submission.entry, error);
    }
  }
  if (written.empty()) return;
  if (!outbox_.Sync(&error)) {
    // Not durable: flagging them could lose them in a crash. They go, and
    // their records are selected again at the next tick.
    for (Submission* submission : written) {
      not_queued(submission->entry, error);
      outbox_.Remove(submission->entry, nullptr);
      submission->lock.Release();
    }
    return;
  }
  // Every flag first: a stop between two deliveries then leaves only flagged
  // messages, which the next start delivers without composing them again.
  std::vector<Submission*> flagged;
  for (size_t first = 0; first < written.size();) {
    // A run of messages with one flagger is flagged in one go.
    const std::shared_ptr<const RecordFlagger> flagger = written[first]->flagger;
    size_t end = first + 1;
    if (flagger) {
      while (end < written.size() && written[end]->flagger == flagger) ++end;
    }
    std::vector<bool> done;
    if (flagger) {
      std::vector<long long> records;
      for (size_t i = first; i < end; ++i) records.push_back(written[i]->entry.record);
      done = (*flagger)(records);
    } else {
      done.push_back(written[first]->flag());
    }
    for (size_t i = first; i < end; ++i) {
      // One not flagged waits, unflagged, for the next tick.
      if (i - first < done.size() && done[i - first]) {
        flagged.push_back(written[i]);
        const OutboxEntry& entry = written[i]->entry;
        ReportAction({0, entry.rule_id, entry.table_id, entry.record, kActionNotify,
                      entry.recipients, kOutcomeQueued, {}});
      }
    }
    first = end;
  }
  // A message delivered at once leaves under its first name: renaming it
  // first would cost a disk operation for nothing. Should the engine die
  // before it is named in the delivered list, the next start finds its flag
  // and delivers it again, as any message in flight.
  for (Submission* submission : flagged) {
    // Past the tick's limit a message waits, flagged, for the next tick.
    if (StopRequested() || !MayDeliver()) {
      outbox_.MarkFlagged(submission->entry, &error);
    } else if (submission->lock.held()) {
      // Locked since before it was written: vgqueue cannot have dropped it.
      DeliverLocked(submission->entry);
    } else {
      DeliverEntry(submission->entry);
    }
    submission->lock.Release();
  }
}

void CMailSender::ReconcileUnflagged(
    const std::string& table_id, const std::function<bool(int32_t rule_id)>& known,
    const std::function<bool(int32_t rule_id, long long record)>& flag) {
  const std::time_t now = Now();
  for (auto it = unflagged_.begin(); it != unflagged_.end();) {
    if (it->table_id != table_id) {
      ++it;
      continue;
    }
    OutboxEntry entry = std::move(*it);
    it = unflagged_.erase(it);
    if (known(entry.rule_id) && !flag(entry.rule_id, entry.record)) continue;
    std::string error;
    outbox_.MarkFlagged(entry, &error);
    if (!StopRequested() && MayDeliver() && entry.next_attempt <= now) DeliverEntry(entry);
  }
}

void CMailSender::DeliverEntry(OutboxEntry& entry) {
  OutboxLocks::Held held = outbox_.Lock(entry.id);
  // vgqueue may have dropped it since it was read.
  if (!outbox_.Exists(entry)) return;
  DeliverLocked(entry);
}

bool CMailSender::DeliverLocked(OutboxEntry& entry) {
  const std::vector<std::string> records{std::to_string(entry.record)};
  OutgoingMail mail;
  mail.rule_id = entry.rule_id;
  mail.record = entry.record;
  mail.subject = entry.subject;
  mail.body = entry.body;
  mail.database_name = entry.database_name;
  mail.record_list = &records;
  DeliveryReport report;
  Deliver(mail, entry.recipients, report);
  // The recipients failed for now, and those no mail system serves, are
  // tried again; the last failure is the one the entry names.
  std::vector<std::string> remaining;
  const RecipientResult* last_failure = nullptr;
  bool tried = false;
  std::string unserved;
  const RecipientResult* unserved_result = nullptr;
  for (const RecipientResult& result : report.results()) {
    tried = tried || !result.deferred;
    if (result.outcome == RecipientOutcome::kUnserved) {
      AddToList(unserved, result.address);
      unserved_result = &result;
    } else if (result.outcome != RecipientOutcome::kRetry) {
      continue;
    }
    remaining.push_back(result.address);
    last_failure = &result;
  }
  std::string error;
  if (remaining.empty()) {
    ReportDelivery(entry, report, /*given_up=*/false);
    outbox_.Retire(entry, &error);
    if (observer_) observer_(entry, MessageOutcome::kLeft, report);
    if (in_tick_) --attempts_left_;
    return true;
  }
  const std::time_t now = Now();
  if (!tried && now - entry.created < lifetime_seconds_) {
    // Every recipient waits for a server that failed in this tick: the entry
    // stays as it is, neither rewritten nor counted as an attempt. (Its
    // record is flagged by now: a new one waits as a flagged entry.)
    if (!entry.flagged) outbox_.MarkFlagged(entry, &error);
    return false;
  }
  if (in_tick_) --attempts_left_;
  if (unserved_result != nullptr) {
    LogLine(Format(kUnservedLine,
                   unserved_result->transport.empty() ? "none" : unserved_result->transport.c_str(),
                   unserved.c_str(), host::OneLine(unserved_result->error).c_str(),
                   static_cast<long>(entry.rule_id), entry.record));
  }
  entry.attempts += 1;
  entry.last_transport = last_failure->transport;
  entry.last_error = host::OneLine(last_failure->error);
  std::string left;
  for (const std::string& address : remaining) AddToList(left, address);
  entry.recipients = left;
  const bool given_up = now - entry.created >= lifetime_seconds_;
  ReportDelivery(entry, report, given_up);
  if (given_up) {
    LogLine(Format(kDeliveryGivenUpLine, entry.last_transport.c_str(),
                   static_cast<long>(entry.rule_id), entry.record, entry.last_error.c_str()));
    outbox_.Retire(entry, &error);
    if (observer_) observer_(entry, MessageOutcome::kGivenUp, report);
    return true;
  }
  entry.next_attempt = now + RetryDelay(entry.attempts, first_retry_delay_);
  if (observer_) observer_(entry, MessageOutcome::kRetry, report);
  // Should the new state not be written, the entry is tried again as it was:
  // the recipients already served may get the message twice, none loses it.
  if (!entry.flagged) {
    // Its record is flagged by now: it waits as a flagged entry.
    OutboxEntry first = entry;
    entry.flagged = true;
    if (outbox_.Update(entry, &error)) {
      outbox_.Remove(first, &error);
    } else {
      entry.flagged = false;
    }
    return true;
  }
  outbox_.Update(entry, &error);
  return true;
}

}  // namespace vigilo
