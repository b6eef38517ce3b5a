#include "platform/loader/mail_plugins.h"

namespace vigilo {

namespace {

template <typename Fn>
Fn OptionalFunction(const PluginLoad& load, const char* name) {
  if (load.library == nullptr) return nullptr;
  return reinterpret_cast<Fn>(load.library->Symbol(name));
}

}  // namespace

MapiPlugin LoadMapiPlugin(const std::string& program_dir) {
  MapiPlugin plugin;
  plugin.load = LoadPlugin({VGMAPI_LIBRARY_ENV, VGMAPI_LIBRARY_FILE, program_dir},
                           {"MAPILogon", "MAPIResolveName", "MAPISendMail",
                            "MAPIFreeBuffer", "MAPILogoff"});
  if (!plugin.load.ok()) return plugin;
  plugin.logon = plugin.load.Function<MapiLogonFn>(0);
  plugin.resolve_name = plugin.load.Function<MapiResolveNameFn>(1);
  plugin.send_mail = plugin.load.Function<MapiSendMailFn>(2);
  plugin.free_buffer = plugin.load.Function<MapiFreeBufferFn>(3);
  plugin.logoff = plugin.load.Function<MapiLogoffFn>(4);
  plugin.last_error = OptionalFunction<MapiLastErrorFn>(plugin.load, "VgMapiLastError");
  return plugin;
}

SmtpPlugin LoadSmtpPlugin(const std::string& program_dir) {
  SmtpPlugin plugin;
  plugin.load = LoadPlugin({VGSMTP_LIBRARY_ENV, VGSMTP_LIBRARY_FILE, program_dir},
                           {"SmtpOpenSession", "SmtpCloseSession", "SmtpSendMail"});
  if (!plugin.load.ok()) return plugin;
  plugin.open_session = plugin.load.Function<SmtpOpenSessionFn>(0);
  plugin.close_session = plugin.load.Function<SmtpCloseSessionFn>(1);
  plugin.send_mail = plugin.load.Function<SmtpSendMailFn>(2);
  plugin.last_error = OptionalFunction<SmtpLastErrorFn>(plugin.load, "SmtpLastError");
  plugin.refused_recipients =
      OptionalFunction<SmtpRefusedRecipientsFn>(plugin.load, "SmtpRefusedRecipients");
  plugin.last_reply_code =
      OptionalFunction<SmtpLastReplyCodeFn>(plugin.load, "SmtpLastReplyCode");
  plugin.set_security = OptionalFunction<SmtpSetSecurityFn>(plugin.load, "SmtpSetSecurity");
  return plugin;
}

}  // namespace vigilo
