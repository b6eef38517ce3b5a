// CMailSender: the outbox loop through which notifications are delivered.
// Submit puts a message into the outbox (notify/outbox.h), the record is
// flagged, then the message is delivered and leaves the outbox. Each address
// goes to the transport serving its kind (notify/transport.h): directly
// addressed provider messages first, then internal mail rows, SMTP, and the
// provider's resolved names. A recipient failed for now stays in the outbox,
// tried again with a growing delay until the message's lifetime runs out;
// one refused for good is not tried again. Within a tick (BeginTick ..
// EndTick) every transport keeps one session for all messages. Created once
// per engine start, owned by the worker, used on one thread only; the owner
// calls LogoffMapi() before it releases the provider library.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "notify/mail_systems.h"
#include "notify/notify_message.h"
#include "notify/outbox.h"
#include "notify/transport.h"

namespace vigilo {

// A message whose lifetime ran out before every recipient was served; one
// the outbox could not take (its record stays unflagged for the next tick).
inline constexpr const char* kDeliveryGivenUpLine =
    "Mail given up (%s) : Rule ID : %ld , Record# %lld : %s \r\n";
inline constexpr const char* kNotQueuedLine =
    "Mail not queued : Rule ID : %ld , Record# %lld : %s \r\n";

// A damaged outbox file moved into the quarantine folder: its name, what is
// wrong, where it went; then, when its header still tells them, the rule and
// record, and whether the message is composed again (its record's flag is
// removed) or is another message's copy.
inline constexpr const char* kQuarantinedLine =
    "Unable to deliver the outbox file %s (%s) : moved to %s \r\n";
inline constexpr const char* kQuarantinedRecordLine =
    "Unable to deliver the outbox file %s (%s) : moved to %s , Rule ID : %ld , Record# %lld "
    ", %s \r\n";
inline constexpr const char* kQuarantineFailedLine =
    "Unable to deliver the outbox file %s (%s) : %s \r\n";

// vigtab.ini OPTIONS keys: how long a message is tried (minutes), the wait
// before its first retry (seconds; doubled after every failure), and how many
// delivery attempts one tick makes at most (the rest wait for the next).
inline constexpr const char* kMailLifetimeKey = "MAIL_LIFETIME";
inline constexpr const char* kMailRetryDelayKey = "MAIL_RETRY_DELAY";
inline constexpr const char* kMailTickLimitKey = "MAIL_TICK_LIMIT";
inline constexpr long kDefaultMailLifetimeMinutes = 5 * 24 * 60;
inline constexpr long kDefaultMailRetryDelaySeconds = 60;
inline constexpr long kDefaultMailTickLimit = 1000;

// Messages made durable together by one flush of the disk.
inline constexpr size_t kSubmitBatch = 256;

// What one delivery attempt made of an outbox entry: it left the outbox
// (every recipient delivered or refused for good), waits for a retry, or was
// given up as its lifetime ran out. The report tells each recipient's part.
enum class MessageOutcome { kLeft, kRetry, kGivenUp };
using DeliveryObserver =
    std::function<void(const OutboxEntry&, MessageOutcome, const DeliveryReport&)>;

class CMailSender {
 public:
  using Options = MailSystems::Options;
  // Opens no mail system yet (InitMailSystems does). transports, when given,
  // take the place of the mail systems' own (a test's stand-ins).
  explicit CMailSender(Options options, std::vector<std::unique_ptr<Transport>> transports = {});
  virtual ~CMailSender();  // ends the sessions
  CMailSender(const CMailSender&) = delete;
  CMailSender& operator=(const CMailSender&) = delete;

  // Reads the outbox's lifetime and retry delay and opens the mail systems.
  void InitMailSystems();
  void LogoffMapi() { systems_.Logoff(); }
  MailSystems& systems() { return systems_; }
  RecipientDirectory& directory() { return systems_.directory(); }

  // Looked at between two messages: when it says stop, delivery ends and
  // what is left waits in the outbox.
  void SetStopCheck(std::function<bool()> stop) { stop_requested_ = std::move(stop); }
  bool StopRequested() const { return stop_requested_ && stop_requested_(); }
  // Told the outcome of every delivery attempt of an outbox entry.
  void SetDeliveryObserver(DeliveryObserver observer) { observer_ = std::move(observer); }

  // Starts a tick: delivers the flagged outbox entries that are due, oldest
  // first and at most the tick's limit of them, reading one at a time; keeps
  // the entries whose flag is not known to be written for ReconcileUnflagged;
  // moves damaged files into the quarantine.
  void BeginTick();
  // Ends a tick: takes the held submissions, delivers left-overs of tables no
  // longer watched, and ends every transport's session.
  void EndTick();
  // Hands a message over: into the outbox, its record flagged by flag() (true
  // when written), then delivered. Taken in batches of kSubmitBatch, one
  // flush of the disk each; FlushSubmissions (end of each rule, EndTick)
  // takes the rest. A message the outbox cannot take is neither flagged nor
  // sent (a run-log line says why); one whose flag fails waits, unflagged,
  // for ReconcileUnflagged. flag must stay callable until the flush. Virtual
  // so that a preview can keep what the notify action hands over.
  virtual bool Submit(const NotifyMessage& message, const std::function<bool()>& flag);
  virtual void FlushSubmissions();  // queues, flags, delivers; virtual for a benchmark
  // Flags a rule's records at once (for each FormID whether it is written);
  // while one is set, Submit's messages with a record are flagged through it.
  using RecordFlagger = std::function<std::vector<bool>(const std::vector<long long>& form_ids)>;
  void SetRecordFlagger(RecordFlagger flagger);
  // For the outbox entries of the table kept by BeginTick: when known(rule)
  // the record is flagged by flag(rule, record) first (an entry whose flag
  // cannot be written waits for the next tick), otherwise the rule is gone
  // and nothing can compose the message again; then the entry is delivered.
  void ReconcileUnflagged(const std::string& table_id,
                          const std::function<bool(int32_t rule_id)>& known,
                          const std::function<bool(int32_t rule_id, long long record)>& flag);
  // The (rule, record) pairs of the table's quarantined messages whose
  // records are to be composed again: the caller removes their flags.
  std::vector<std::pair<int32_t, long long>> TakeRecordsToComposeAgain(
      const std::string& table_id);
  // Names a table with notification rules in this engine (at rule load).
  void WatchTable(const std::string& table_id) { watched_tables_.insert(table_id); }
  // Tries the entry's remaining recipients under the message's lock, unless
  // vgqueue dropped it: removes it when none is left, gives it up when its
  // lifetime ran out, else schedules a retry.
  void DeliverEntry(OutboxEntry& entry);
  Outbox& outbox() { return outbox_; }
  std::time_t lifetime_seconds() const { return lifetime_seconds_; }
  std::time_t first_retry_delay() const { return first_retry_delay_; }
  long tick_limit() const { return tick_limit_; }

  // Delivers one message outside the outbox; record_list null means absent.
  void Dispatch(const std::string& body, const std::string& recipients,
                const std::string& subject, const std::vector<std::string>* record_list,
                const std::string& database_name);

 private:
  struct Submission {
    OutboxEntry entry;
    std::function<bool()> flag;
    std::shared_ptr<const RecordFlagger> flagger;  // set: flagged with its batch
    // The message's lock, taken before its file was written and held until
    // it is delivered or left to wait, so that nobody can have dropped it
    // meanwhile; empty when it could not be taken.
    OutboxLocks::Held lock;
  };
  // Routes each recipient (cut to kRecipientLimit) to its transport.
  void Deliver(const OutgoingMail& mail, const std::string& recipients, DeliveryReport& report);
  std::vector<Transport*> Transports();
  void CloseSessions();
  void LogLine(const std::string& line);
  // DeliverEntry with the lock held; false when nothing was tried (every
  // recipient waits for a server that failed in this tick).
  bool DeliverLocked(OutboxEntry& entry);
  // Whether this tick may still make a delivery attempt.
  bool MayDeliver() const { return !in_tick_ || attempts_left_ > 0; }
  void BeginTickEntry(const std::string& name, std::time_t now);
  void QuarantineFile(const std::string& name, const std::string& why, const std::string& text);

  struct RecordToComposeAgain {
    std::string table_id;
    int32_t rule_id = 0;
    long long record = 0;
  };

  MailSystems systems_;
  std::vector<std::unique_ptr<Transport>> substitutes_;
  Outbox outbox_;
  std::time_t lifetime_seconds_ = kDefaultMailLifetimeMinutes * 60;
  std::time_t first_retry_delay_ = kDefaultMailRetryDelaySeconds;
  long tick_limit_ = kDefaultMailTickLimit;
  long attempts_left_ = 0;  // of this tick
  std::vector<RecordToComposeAgain> compose_again_;
  std::function<bool()> stop_requested_;
  DeliveryObserver observer_;
  bool in_tick_ = false;
  std::vector<OutboxEntry> unflagged_;  // kept by BeginTick
  std::set<std::string> watched_tables_;
  std::shared_ptr<const RecordFlagger> record_flagger_;
  std::vector<Submission> submissions_;  // taken by Submit, not yet queued
};

}  // namespace vigilo
