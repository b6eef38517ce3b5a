#include "notify/mail_sender.h"

#include <utility>

#include "common/format.h"
#include "common/ini_profile.h"
#include "common/text.h"
#include "data/log_stream.h"
#include "data/login_info.h"
#include "platform/host/message_line.h"

namespace vigilo {
namespace {

constexpr const char* kMailSection = "Mail";
// Profile keys in the order they are tried.
constexpr const char* kProfileKeys[3] = {"MAPI Mail", "MS Mail", "CC Mail"};

std::string ReadMailKey(const CServerPaths& settings, const char* key) {
  // The settings are read with a 256-character buffer: 255 characters at most.
  return GetProfileString(settings.orvik_ini_path, kMailSection, key, "").substr(0, 255);
}

}  // namespace

std::unique_ptr<CServerPaths> CMailSender::BuildSettings(const Options& options) {
  if (options.settings) return options.settings();
  return std::make_unique<CServerPaths>(options.in_process_server
                                            ? CServerPaths::Program::kManager
                                            : CServerPaths::Program::kService);
}

MapiFunctions MapiFunctionsOf(const MapiPlugin& plugin) {
  MapiFunctions functions;
  functions.logon = plugin.logon;
  functions.resolve_name = plugin.resolve_name;
  functions.send_mail = plugin.send_mail;
  functions.free_buffer = plugin.free_buffer;
  functions.logoff = plugin.logoff;
  functions.last_error = plugin.last_error;
  return functions;
}

CMailSender::CMailSender(Options options)
    : options_(std::move(options)),
      settings_(BuildSettings(options_)),
      membership_(MembershipTablePath(settings_->server_dir)) {}

CMailSender::~CMailSender() = default;

bool CMailSender::InitMailSystems() {
  std::string smtp_value = ReadMailKey(*settings_, "SMTP Mail");
  if (!smtp_value.empty()) {
    SmtpSetting setting = ParseSmtpSetting(smtp_value);
    smtp_server_ = setting.server;
    smtp_sender_ = setting.sender;
    SmtpLoader loader = options_.smtp_loader ? options_.smtp_loader : LoadSmtpPlugin;
    // The library stays loaded even when an entry point is missing.
    smtp_ = std::make_unique<SmtpPlugin>(loader(settings_->program_dir));
    // A setting that names no server or no sender leaves SMTP off.
    smtp_ready_ = smtp_->load.ok() && smtp_->open_session && smtp_->send_mail &&
                          smtp_->close_session && !smtp_server_.empty() &&
                          !smtp_sender_.empty()
                      ? 1
                      : 0;
    if (smtp_ready_) {
      if (options_.in_process_server) return true;
      mail_ready_ = true;
    }
  }
  for (int index = 0; index < 3; ++index) {
    if (LogonProfile(kProfileKeys[index], index)) break;
  }
  return true;
}

bool CMailSender::LogonProfile(const char* key, int index) {
  std::string value = ReadMailKey(*settings_, key);
  if (value.empty()) return false;
  PasswordDecoder decode = options_.decode_password;
  if (!decode) {
    // A password that does not decode is tried as it is stored.
    decode = [](std::string_view stored) {
      return DecodePassword(stored).value_or(std::string(stored));
    };
  }
  profiles_[index] = ParseMailProfile(value, decode);
  if (options_.mapi.logon == nullptr) return false;
  MapiSessionHandle session = 0;
  uint32_t result = options_.mapi.logon(0, profiles_[index].profile.c_str(),
                                        profiles_[index].password.c_str(),
                                        VGMAPI_LOGON_NEW_SESSION, 0, &session);
  if (result != VGMAPI_OK) return false;
  session_ = session;
  mail_ready_ = true;
  if (!options_.in_process_server) session_flag_ = 1;
  return true;
}

void CMailSender::LogoffMapi() {
  if (session_flag_ && options_.mapi.logoff != nullptr) options_.mapi.logoff(session_, 0, 0, 0);
  session_flag_ = 0;
}

void CMailSender::Dispatch(const std::string& body, const std::string& recipients,
                           const std::string& subject,
                           const std::vector<std::string>* record_list,
                           const std::string& database_name) {
  std::vector<std::string> internal, smtp, mapi;
  for (std::string piece : SplitText(recipients, ',')) {
    if (piece.size() > kRecipientLimit) piece.resize(kRecipientLimit);
    if (piece.find("ORVIK:") != std::string::npos) {
      internal.push_back(std::move(piece));
    } else if (piece.find("SMTP:") != std::string::npos) {
      smtp.push_back(std::move(piece));
    } else if (piece.find(':') != std::string::npos) {
      SendMapiDirect(piece, subject, body);
    } else if (!piece.empty()) {
      // An empty piece could never be resolved; it is dropped here.
      mapi.push_back(std::move(piece));
    }
  }
  if (!internal.empty()) PostInternalMail(internal, record_list, database_name);
  if (smtp_ready_ && !smtp.empty()) SendSmtp(smtp, subject, body);
  if (!mapi.empty()) {
    std::vector<std::string> resolved, unresolved;
    SendMapiResolved(mapi, subject, body, resolved, unresolved);
  }
}

bool CMailSender::SendMapiResolved(const std::vector<std::string>& names,
                                   const std::string& subject, const std::string& body,
                                   std::vector<std::string>& resolved,
                                   std::vector<std::string>& unresolved) {
  if (options_.mapi.resolve_name == nullptr) {
    unresolved.insert(unresolved.end(), names.begin(), names.end());
    return true;
  }
  std::vector<MapiRecipDesc*> returned;
  std::vector<MapiRecipDesc> descriptors;
  for (const std::string& name : names) {
    std::string cut = name.substr(0, kRecipientLimit);
    MapiRecipDesc* recipient = nullptr;
    if (options_.mapi.resolve_name(0, 0, cut.c_str(), 0, 0, &recipient) == VGMAPI_OK &&
        recipient != nullptr) {
      returned.push_back(recipient);
      MapiRecipDesc descriptor = *recipient;
      descriptor.recip_class = MAPI_TO;
      descriptors.push_back(descriptor);
      resolved.push_back(name);
    } else {
      unresolved.push_back(name);
    }
  }
  // A message without recipients cannot be delivered and is not handed over.
  if (mail_ready_) {
    for (size_t first = 0; first < descriptors.size(); first += kMapiRecipientLimit) {
      size_t count = std::min(kMapiRecipientLimit, descriptors.size() - first);
      SendMapiMessage({descriptors.begin() + first, descriptors.begin() + first + count},
                      subject, body);
    }
  }
  if (options_.mapi.free_buffer != nullptr) {
    for (MapiRecipDesc* recipient : returned) options_.mapi.free_buffer(recipient);
  }
  return true;
}

bool CMailSender::SendMapiDirect(const std::string& address, const std::string& subject,
                                 const std::string& body) {
  MapiRecipDesc recipient{};
  recipient.recip_class = MAPI_TO;
  recipient.name = address.c_str();
  recipient.address = address.c_str();
  if (mail_ready_) SendMapiMessage({recipient}, subject, body);
  return true;
}

void CMailSender::SendMapiMessage(const std::vector<MapiRecipDesc>& recipients,
                                  const std::string& subject, const std::string& body) {
  if (options_.mapi.send_mail == nullptr) return;
  MapiMessage message{};
  message.subject = subject.c_str();
  message.note_text = body.c_str();
  message.recip_count = static_cast<uint32_t>(recipients.size());
  message.recips = recipients.empty() ? nullptr : recipients.data();
  uint32_t result = options_.mapi.send_mail(session_, 0, &message, 0, 0);
  if (result == VGMAPI_OK) return;
  std::string error = options_.mapi.last_error ? options_.mapi.last_error() : "";
  if (error.empty()) error = Format("error %u", result);
  std::string names;
  for (const MapiRecipDesc& recipient : recipients) {
    if (!names.empty()) names += ',';
    names += recipient.name ? recipient.name : "";
  }
  LogDeliveryFailure("MAPI", Format("%s (to %s)", error.c_str(), names.c_str()));
}

bool CMailSender::SendSmtp(const std::vector<std::string>& addresses, const std::string& subject,
                           const std::string& body) {
  std::string to;
  for (const std::string& address : addresses) {
    size_t colon = address.find(':');
    if (colon == std::string::npos) continue;
    if (!to.empty()) to += ',';
    to += Trimmed(address.substr(colon + 1));
  }
  if (!smtp_ || !smtp_ready_) return true;
  SmtpMessage message{};
  message.server = smtp_server_.c_str();
  message.sender = smtp_sender_.c_str();
  message.recipients = to.c_str();
  message.subject = subject.c_str();
  message.body = body.c_str();
  message.body_format = VGSMTP_BODY_PLAIN_TEXT;
  int32_t result = smtp_->open_session();
  if (result == VGSMTP_OK) result = smtp_->send_mail(&message);
  if (result != VGSMTP_OK) {
    std::string error = smtp_->last_error ? smtp_->last_error() : "";
    if (error.empty()) error = Format("error %d", result);
    LogDeliveryFailure("SMTP", Format("%s (to %s)", error.c_str(), to.c_str()));
  }
  smtp_->close_session();
  return true;
}

void CMailSender::LogDeliveryFailure(const char* transport, const std::string& error) {
  if (options_.log == nullptr) return;
  options_.log->Write(Format(kDeliveryFailedLine, transport, host::OneLine(error).c_str()));
}

}  // namespace vigilo
