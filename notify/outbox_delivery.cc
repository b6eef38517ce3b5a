// The mail sender's side of the outbox: a message is made durable before its
// record is flagged and leaves the outbox only once every recipient has been
// served, refused for good, or its lifetime has run out.
#include "common/format.h"
#include "common/text.h"
#include "data/activity.h"
#include "data/clock.h"
#include "notify/mail_sender.h"
#include "platform/host/message_line.h"

namespace vigilo {

void CMailSender::BeginTick() {
  CloseSessions();
  outbox_.Settle();
  in_tick_ = true;
  unflagged_.clear();
  const std::time_t now = Now();
  for (OutboxEntry& entry : outbox_.List(nullptr, /*drop_cut_short=*/true)) {
    if (!entry.flagged) {
      unflagged_.push_back(std::move(entry));
      continue;
    }
    if (StopRequested()) break;
    if (entry.next_attempt <= now) DeliverEntry(entry);
  }
}

void CMailSender::EndTick() {
  FlushSubmissions();
  // Left-overs of tables no rule watches any more: no flag to write.
  for (OutboxEntry& entry : unflagged_) {
    if (watched_tables_.count(entry.table_id) != 0 || StopRequested()) continue;
    std::string error;
    outbox_.MarkFlagged(entry, &error);
    DeliverEntry(entry);
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
    if (outbox_.Add(submission.entry, &error, /*sync=*/false)) {
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
    if (StopRequested()) {
      outbox_.MarkFlagged(submission->entry, &error);
      continue;
    }
    DeliverEntry(submission->entry);
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
    if (!StopRequested() && entry.next_attempt <= now) DeliverEntry(entry);
  }
}

void CMailSender::DeliverEntry(OutboxEntry& entry) {
  current_rule_ = entry.rule_id;
  current_record_ = entry.record;
  const std::vector<std::string> records{Format("%lld", entry.record)};
  Attempt attempt;
  const std::string recipients = entry.recipients;
  DeliverRecipients(entry.body, entry.recipients, entry.subject, &records, entry.database_name,
                    attempt);
  current_rule_ = 0;
  current_record_ = 0;
  std::string error;
  if (attempt.remaining.empty()) {
    ReportDelivery(entry, recipients, attempt, /*given_up=*/false);
    outbox_.Retire(entry, &error);
    return;
  }
  const std::time_t now = Now();
  entry.attempts += 1;
  entry.last_transport = attempt.transport;
  entry.last_error = host::OneLine(attempt.error);
  std::string remaining;
  for (const std::string& address : attempt.remaining) {
    remaining += (remaining.empty() ? "" : ",") + address;
  }
  entry.recipients = remaining;
  const bool given_up = now - entry.created >= lifetime_seconds_;
  ReportDelivery(entry, recipients, attempt, given_up);
  if (given_up) {
    LogLine(Format(kDeliveryGivenUpLine, entry.last_transport.c_str(),
                   static_cast<long>(entry.rule_id), entry.record, entry.last_error.c_str()));
    outbox_.Retire(entry, &error);
    return;
  }
  entry.next_attempt = now + RetryDelay(entry.attempts, first_retry_delay_);
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
    return;
  }
  outbox_.Update(entry, &error);
}

}  // namespace vigilo

namespace vigilo {

void CMailSender::ReportDelivery(const OutboxEntry& entry, const std::string& recipients,
                                 const Attempt& attempt, bool given_up) {
  if (CurrentActivity() == nullptr) return;
  auto join = [](const std::vector<std::string>& addresses) {
    std::string text;
    for (const std::string& address : addresses) text += (text.empty() ? "" : ",") + address;
    return text;
  };
  ActionEvent event{0, entry.rule_id, entry.table_id, entry.record, kActionNotify, {}, {}, {}};
  if (!attempt.refused.empty()) {
    event.detail = join(attempt.refused);
    event.outcome = kOutcomeRefused;
    event.error = host::OneLine(attempt.refusal);
    ReportAction(event);
  }
  if (!attempt.remaining.empty()) {
    event.detail = join(attempt.remaining);
    event.outcome = given_up ? kOutcomeGivenUp : kOutcomeFailed;
    event.error = host::OneLine(attempt.error);
    ReportAction(event);
  }
  // Served: every recipient neither refused nor left to try again.
  std::string served;
  for (const std::string& address : SplitText(recipients, ',')) {
    if (address.empty()) continue;
    auto named = [&address](const std::vector<std::string>& list) {
      for (const std::string& other : list) {
        if (other == address) return true;
      }
      return false;
    };
    if (named(attempt.refused) || named(attempt.remaining)) continue;
    served += (served.empty() ? "" : ",") + address;
  }
  if (!served.empty()) {
    event.detail = served;
    event.outcome = kOutcomeDelivered;
    event.error.clear();
    ReportAction(event);
  }
}

}  // namespace vigilo
