// Typed bindings of the two mail plugins for the programs that load them.
//
// The engine initialisation loads the mail-system provider (its five entry
// points are all required: without them the engine does not start) and the
// mail sender loads the SMTP library (without it SMTP is off). These helpers
// run LoadPlugin with each plugin's search order and hand back typed function
// pointers next to the load result. The pointers are valid while the struct's
// load.library lives; keep the struct for as long as the functions are used.
#pragma once

#include <string>

#include "platform/loader/plugin_library.h"
#include "platform/mapi/vgmapi.h"
#include "platform/smtp/vgsmtp.h"

namespace vigilo {

struct MapiPlugin {
  PluginLoad load;  // look at load.status first
  MapiLogonFn logon = nullptr;
  MapiResolveNameFn resolve_name = nullptr;
  MapiSendMailFn send_mail = nullptr;
  MapiFreeBufferFn free_buffer = nullptr;
  MapiLogoffFn logoff = nullptr;
  MapiLastErrorFn last_error = nullptr;  // optional; null when absent
};

struct SmtpPlugin {
  PluginLoad load;
  SmtpOpenSessionFn open_session = nullptr;
  SmtpSendMailFn send_mail = nullptr;
  SmtpCloseSessionFn close_session = nullptr;
  SmtpLastErrorFn last_error = nullptr;  // optional; null when absent
  SmtpRefusedRecipientsFn refused_recipients = nullptr;  // optional
  SmtpLastReplyCodeFn last_reply_code = nullptr;         // optional
  SmtpSetSecurityFn set_security = nullptr;              // optional
};

// Searches VIGILO_MAPI_LIBRARY, program_dir/libvgmapi.so, the installed plugin
// directory; binds "MAPILogon", "MAPIResolveName", "MAPISendMail",
// "MAPIFreeBuffer", "MAPILogoff" (and VgMapiLastError when present).
[[nodiscard]] MapiPlugin LoadMapiPlugin(const std::string& program_dir);

// Searches VIGILO_SMTP_LIBRARY, program_dir/libvgsmtp.so, the installed plugin
// directory; binds "SmtpOpenSession", "SmtpCloseSession", "SmtpSendMail" (and
// SmtpLastError, SmtpRefusedRecipients, SmtpLastReplyCode and SmtpSetSecurity when present).
[[nodiscard]] SmtpPlugin LoadSmtpPlugin(const std::string& program_dir);

}  // namespace vigilo
