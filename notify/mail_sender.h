// CMailSender: the one object through which notifications are delivered. It
// reads the product's mail settings, opens the mail systems configured there
// (the SMTP library it loads itself; the mail-system provider whose functions
// its owner hands it), resolves rule recipients through the user, group and
// membership tables, and delivers each message by the prefix of each address:
// "ORVIK:" rows into the internal mail table, "SMTP:" through the SMTP library,
// other prefixed addresses ("CCMAIL:") directly and bare names after name
// resolution through the provider.
//
// Delivery is fire-and-forget for the caller; every failed delivery is written
// to the run log as one line (kDeliveryFailedLine). Created once per engine
// start and owned by the worker; used on one thread only. The owner calls
// LogoffMapi() before it releases the provider library.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/server_paths.h"
#include "notify/mail_settings.h"
#include "notify/orvik_tables.h"
#include "notify/user_record.h"
#include "platform/loader/mail_plugins.h"

namespace vigilo {

class CNotifyRule;
class LogStream;

// One run-log line per failed delivery: transport ("SMTP", "MAPI", "ORVIK")
// and the transport's error text.
inline constexpr const char* kDeliveryFailedLine = "Mail delivery failed (%s) : %s \r\n";

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
  // Updates the row of (record number, recipient) or inserts it. Returns
  // false when the row could not be written (a run-log line says why).
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
  static std::unique_ptr<CServerPaths> BuildSettings(const Options& options);
  // Sends one provider message; a failure becomes one run-log line.
  void SendMapiMessage(const std::vector<MapiRecipDesc>& recipients, const std::string& subject,
                       const std::string& body);
  bool LogonProfile(const char* key, int index);
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
};

// Fills the rule's recipients when it is loaded: for "Group" the members of
// the groups, for other targets except "Field" the names themselves, turned
// into addresses (each kept once, in order; the list stays absent when none
// resolve). For "Field" the field-name list instead: Values + "," (at most 255
// characters) split at every ",", each piece kept, also an empty one.
void ResolveRuleRecipients(CMailSender& sender, CNotifyRule& rule);

}  // namespace vigilo
