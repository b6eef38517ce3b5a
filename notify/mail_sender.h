// CMailSender: the one object through which notifications are delivered. It
// reads the product's mail settings, opens the mail systems configured there
// (the SMTP library it loads itself; the mail-system provider whose functions
// its owner hands it), resolves rule recipients through the user, group and
// membership tables, and delivers each message by the prefix of each address:
// "ORVIK:" rows into the internal mail table, "SMTP:" through the SMTP library,
// other prefixed addresses ("CCMAIL:") directly and bare names after name
// resolution through the provider.
//
// The notify action hands each message over with Submit: the message goes
// into the outbox (notify/outbox.h), the record is flagged, and then the
// message is delivered and leaves the outbox. A delivery that fails for now
// (server down, time-out, 4xx, a locked internal mail table) stays in the
// outbox and is tried again at later ticks with a growing delay until its
// lifetime runs out; a recipient refused for good (5xx) is not tried again.
// Every failure is one run-log line. Within a tick (BeginTick .. EndTick) one
// SMTP session and one internal mail connection serve all messages.
//
// Created once per engine start and owned by the worker; used on one thread
// only. The owner calls LogoffMapi() before it releases the provider library.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "data/server_paths.h"
#include "notify/mail_settings.h"
#include "notify/orvik_tables.h"
#include "notify/outbox.h"
#include "notify/user_record.h"
#include "platform/loader/mail_plugins.h"

namespace vigilo {

class CNotifyRule;
class Database;
class LogStream;

// One run-log line per failed delivery: transport ("SMTP", "MAPI", "ORVIK")
// and the transport's error text.
inline constexpr const char* kDeliveryFailedLine = "Mail delivery failed (%s) : %s \r\n";
// A recipient refused for good (not tried again): transport, recipient, rule,
// record and the server's reply.
inline constexpr const char* kRecipientRefusedLine =
    "Mail refused (%s) : %s , Rule ID : %ld , Record# %lld : %s \r\n";
// A message whose lifetime ran out before every recipient was served.
inline constexpr const char* kDeliveryGivenUpLine =
    "Mail given up (%s) : Rule ID : %ld , Record# %lld : %s \r\n";
// A message with "SMTP:" recipients while SMTP is not set up.
inline constexpr const char* kSmtpOffLine =
    "Mail not sent (SMTP) : SMTP is not set up , Rule ID : %ld , Record# %lld , to %s \r\n";
// The [SMTP] settings of vigtab.ini cannot be used (said once, at start);
// SMTP messages wait in the outbox until the settings are mended.
inline constexpr const char* kSmtpSettingsRefusedLine = "SMTP settings refused : %s \r\n";
// A message that could not be put into the outbox (its record stays
// unflagged and is composed again at the next tick).
inline constexpr const char* kNotQueuedLine =
    "Mail not queued : Rule ID : %ld , Record# %lld : %s \r\n";

// vigtab.ini keys of section OPTIONS: how long a message is tried (minutes)
// and the wait before its first retry (seconds; doubled after every failure).
inline constexpr const char* kMailLifetimeKey = "MAIL_LIFETIME";
inline constexpr const char* kMailRetryDelayKey = "MAIL_RETRY_DELAY";
inline constexpr long kDefaultMailLifetimeMinutes = 5 * 24 * 60;
inline constexpr long kDefaultMailRetryDelaySeconds = 60;

// Messages made durable together by one flush of the disk.
inline constexpr size_t kSubmitBatch = 256;

// One composed notification, as the notify action hands it over.
struct NotifyMessage {
  int32_t rule_id = 0;
  long long record = 0;
  std::string table_id;
  std::string database_name;
  std::string subject;
  std::string body;
  std::string recipients;  // addresses joined by ","
};

// One resolved message to the provider holds at most this many recipients;
// longer lists go out as several messages.
inline constexpr size_t kMapiRecipientLimit = 100;
// A recipient piece of a message is at most this long.
inline constexpr size_t kRecipientLimit = 255;
// ExpandGroups joins at most this many characters.
inline constexpr size_t kJoinedNamesLimit = 1023;

// The provider's functions as the mail sender calls them. All null: no
// provider (nothing is sent through it).
struct MapiFunctions {
  MapiLogonFn logon = nullptr;
  MapiResolveNameFn resolve_name = nullptr;
  MapiSendMailFn send_mail = nullptr;
  MapiFreeBufferFn free_buffer = nullptr;
  MapiLogoffFn logoff = nullptr;
  MapiLastErrorFn last_error = nullptr;
};
MapiFunctions MapiFunctionsOf(const MapiPlugin& plugin);

class CMailSender {
 public:
  // Loads the SMTP library (by default LoadSmtpPlugin with the program
  // directory).
  using SmtpLoader = std::function<SmtpPlugin(const std::string& program_dir)>;
  // Builds the settings (server directory and paths) afresh.
  using SettingsFactory = std::function<std::unique_ptr<CServerPaths>()>;

  struct Options {
    LogStream* log = nullptr;     // run log for delivery failures; may be null
    MapiFunctions mapi;           // the engine's provider functions
    SmtpLoader smtp_loader;       // default: LoadSmtpPlugin
    SettingsFactory settings;     // default: CServerPaths(program)
    PasswordDecoder decode_password;  // default: DecodePassword (data/login_info.h)
    // The rule manager's in-process server: SMTP readiness ends the mail
    // set-up and does not make mail ready; a logon sets only mail ready.
    bool in_process_server = false;
  };

  // Builds the settings and opens the membership table; the mail systems stay
  // closed until InitMailSystems.
  explicit CMailSender(Options options);
  virtual ~CMailSender();  // closes the membership table, unloads the SMTP library
  CMailSender(const CMailSender&) = delete;
  CMailSender& operator=(const CMailSender&) = delete;

  // Reads "SMTP Mail", then "MAPI Mail", "MS Mail", "CC Mail" of section
  // "Mail" of morvik.ini and opens what they name: the SMTP library, and the
  // first profile whose logon succeeds. Returns true.
  bool InitMailSystems();

  // Ends the provider session when a logon succeeded. Call before the
  // provider library is released; harmless when called twice.
  void LogoffMapi();

  // Looked at between two messages: when it says stop, delivery ends and
  // what is left waits in the outbox.
  void SetStopCheck(std::function<bool()> stop_requested) {
    stop_requested_ = std::move(stop_requested);
  }
  bool StopRequested() const { return stop_requested_ && stop_requested_(); }

  // --- The outbox --------------------------------------------------------
  // Starts a tick: delivers every flagged outbox entry that is due, and keeps
  // the entries whose flag is not known to be written for ReconcileUnflagged.
  void BeginTick();
  // Ends a tick: closes the SMTP session and the internal mail connection.
  void EndTick();
  // Hands a message over: it is put into the outbox, its record is flagged
  // by flag() (true when the flag is written) and, once flagged, it is
  // delivered. Messages are taken in batches of kSubmitBatch so that one
  // flush of the disk makes a whole batch durable; FlushSubmissions (at the
  // end of each rule, and EndTick) takes the rest. A message that cannot be
  // put into the outbox is neither flagged nor sent (a run-log line says
  // why); when flag() fails the message waits, unflagged, for the next
  // tick's ReconcileUnflagged. flag must stay callable until the flush.
  // Returns true. Virtual so that a test can watch what the notify action
  // hands over.
  virtual bool Submit(const NotifyMessage& message, const std::function<bool()>& flag);
  // Queues, flags and delivers the messages Submit holds. Virtual so that a
  // benchmark can time it.
  virtual void FlushSubmissions();
  // Flags the records of one rule at once: for each FormID whether its flag
  // is written.
  using RecordFlagger = std::function<std::vector<bool>(const std::vector<long long>& form_ids)>;
  // While one is set, the messages Submit takes are flagged in batches
  // through it, by their record numbers, instead of one by one through their
  // flag functions (a message without a record number still is). The notify
  // action sets it for a rule's run and clears it (nullptr) after the rule's
  // FlushSubmissions.
  void SetRecordFlagger(RecordFlagger flagger) {
    record_flagger_ =
        flagger ? std::make_shared<const RecordFlagger>(std::move(flagger)) : nullptr;
  }
  // For the outbox entries of the table kept by BeginTick: when known(rule)
  // the record is flagged by flag(rule, record) first (an entry whose flag
  // cannot be written waits for the next tick), otherwise the rule is gone
  // and nothing can compose the message again; then the entry is delivered.
  void ReconcileUnflagged(const std::string& table_id,
                          const std::function<bool(int32_t rule_id)>& known,
                          const std::function<bool(int32_t rule_id, long long record)>& flag);
  // Names a table that has notification rules in this engine (at rule load).
  // At the end of a tick, a message a crash left unflagged for a table that
  // is no longer watched is delivered: nothing can compose it again.
  void WatchTable(const std::string& table_id) { watched_tables_.insert(table_id); }
  // Tries the entry's remaining recipients now; removes the entry when none
  // is left, gives it up when its lifetime ran out, else schedules a retry.
  void DeliverEntry(OutboxEntry& entry);
  Outbox& outbox() { return outbox_; }
  std::time_t lifetime_seconds() const { return lifetime_seconds_; }
  std::time_t first_retry_delay() const { return first_retry_delay_; }

  // --- Recipients ---------------------------------------------------------
  // Member login names of the groups named in the text (split at ",", empty
  // entries dropped), each once, joined by ","; a name that is no group stays
  // as a user name. Empty when the membership table is not open.
  std::string ExpandGroups(std::string_view group_names);
  // The addresses of the names (split at ",", empty entries dropped), each
  // followed by ",": every user record whose login name equals a name exactly
  // contributes the address of its mail type; a name no record matches
  // becomes "SMTP:" + name. std::nullopt for an empty text.
  std::optional<std::string> AddressesForNames(std::string_view names);

  // --- Delivery -------------------------------------------------------------
  // Delivers one message to the recipient text (addresses joined by ","):
  // internal rows, then SMTP, then the resolved names; addresses with another
  // prefix go out directly while the text is split, before all others.
  // record_list null means absent. Virtual so that a test can watch what the
  // notify action hands over.
  virtual void Dispatch(const std::string& body, const std::string& recipients,
                const std::string& subject, const std::vector<std::string>* record_list,
                const std::string& database_name);

  // Resolves each name and sends one message to the resolved ones (in
  // messages of at most kMapiRecipientLimit recipients) when mail is ready.
  // Fills the resolved and unresolved lists. Returns true.
  bool SendMapiResolved(const std::vector<std::string>& names, const std::string& subject,
                        const std::string& body, std::vector<std::string>& resolved,
                        std::vector<std::string>& unresolved);
  // Sends to one address as it stands (prefix included), unresolved.
  bool SendMapiDirect(const std::string& address, const std::string& subject,
                      const std::string& body);
  // One SMTP message to every address of the list (the text after each
  // address's first ":", trimmed, joined by ","). Returns true.
  bool SendSmtp(const std::vector<std::string>& addresses, const std::string& subject,
                const std::string& body);

  // --- Internal mail table (ORVKPOST.dbf in the server directory) ----------
  // One row per address (the text after its first ":") and record number.
  // False only when record_list is null.
  bool PostInternalMail(const std::vector<std::string>& addresses,
                        const std::vector<std::string>* record_list,
                        const std::string& database_name);
  // Updates the row of (record number, recipient, database name) or inserts
  // it. Returns false when the row could not be written (a run-log line says
  // why). Within a tick all rows share one connection.
  bool WriteInternalMailRow(const std::string& recipient, long record_number, int is_new,
                            const std::string& database_name, const std::string& message);

  // --- State ----------------------------------------------------------------
  bool mail_ready() const { return mail_ready_; }
  bool smtp_ready() const { return smtp_ready_ != 0; }
  bool session_open() const { return session_flag_ != 0; }
  const std::string& smtp_server() const { return smtp_server_; }
  const std::string& smtp_sender() const { return smtp_sender_; }
  const MailProfile& profile(int index) const { return profiles_[index]; }
  CServerPaths& settings() { return *settings_; }
  bool membership_open() const { return membership_.IsOpen(); }

 private:
  // What became of a message's recipients in one delivery attempt.
  struct Attempt {
    std::vector<std::string> remaining;  // failed for now: to be tried again
    std::string transport;               // of the last such failure
    std::string error;
    void Failed(const std::string& address, const char* how, const std::string& why) {
      remaining.push_back(address);
      transport = how;
      error = why;
    }
  };
  enum class Outcome { kDelivered, kRetry, kRefused };

  static std::unique_ptr<CServerPaths> BuildSettings(const Options& options);
  // Delivers to every recipient as Dispatch describes and notes in attempt
  // what failed for now. rule_id and record name the message in log lines.
  void DeliverRecipients(const std::string& body, const std::string& recipients,
                         const std::string& subject, const std::vector<std::string>* record_list,
                         const std::string& database_name, Attempt& attempt);
  // One SMTP message; refusals for good are logged, recipients refused for
  // now or not reached go into attempt.
  void TrySmtp(const std::vector<std::string>& addresses, const std::string& subject,
               const std::string& body, Attempt& attempt);
  // Sends one provider message; a failure becomes one run-log line.
  Outcome SendMapiMessage(const std::vector<MapiRecipDesc>& recipients,
                          const std::string& subject, const std::string& body);
  // SendMapiResolved's work; with an attempt, messages the provider could
  // not deliver for now put their names into it.
  void ResolveAndSend(const std::vector<std::string>& names, const std::string& subject,
                      const std::string& body, std::vector<std::string>& resolved,
                      std::vector<std::string>& unresolved, Attempt* attempt);
  void CloseSessions();
  Database* InternalMailDatabase();
  void LogLine(const std::string& line);
  bool LogonProfile(const char* key, int index);
  // Checks vigtab.ini's [SMTP] settings and hands them to the SMTP library;
  // when they are refused, says why in the run log and keeps the reason.
  void ApplySmtpSecurity();
  void LogDeliveryFailure(const char* transport, const std::string& error);

  int32_t session_flag_ = 0;
  Options options_;
  std::unique_ptr<CServerPaths> settings_;
  MembershipTable membership_;
  MailProfile profiles_[3];  // "MAPI Mail", "MS Mail", "CC Mail"
  MapiSessionHandle session_ = 0;
  bool mail_ready_ = false;
  std::unique_ptr<SmtpPlugin> smtp_;
  std::string smtp_server_;
  std::string smtp_sender_;
  int32_t smtp_ready_ = 0;

  Outbox outbox_;
  std::time_t lifetime_seconds_ = kDefaultMailLifetimeMinutes * 60;
  std::time_t first_retry_delay_ = kDefaultMailRetryDelaySeconds;
  std::function<bool()> stop_requested_;
  bool in_tick_ = false;
  std::vector<OutboxEntry> unflagged_;  // kept by BeginTick
  std::set<std::string> watched_tables_;
  struct Submission {
    OutboxEntry entry;
    std::function<bool()> flag;
    std::shared_ptr<const RecordFlagger> flagger;  // set: flagged with its batch
  };
  std::shared_ptr<const RecordFlagger> record_flagger_;
  std::vector<Submission> submissions_;  // taken by Submit, not yet queued
  bool smtp_session_open_ = false;
  std::string smtp_down_error_;  // set when the server could not be reached this tick
  std::string smtp_settings_error_;  // set when the [SMTP] settings were refused at start
  std::unique_ptr<Database> internal_mail_db_;
  // The message being delivered, for log lines.
  int32_t current_rule_ = 0;
  long long current_record_ = 0;
};

// Fills the rule's recipients when it is loaded: for "Group" the members of
// the groups, for other targets except "Field" the names themselves, turned
// into addresses (each kept once, in order; the list stays absent when none
// resolve). For "Field" the field-name list instead: Values + "," (at most 255
// characters) split at every ",", each piece kept, also an empty one.
void ResolveRuleRecipients(CMailSender& sender, CNotifyRule& rule);

}  // namespace vigilo
