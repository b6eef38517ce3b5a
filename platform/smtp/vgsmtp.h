/* The SMTP mail library interface: three C entry points and a ten-field record.
 *
 * The programs load libvgsmtp.so at run time and bind SmtpOpenSession,
 * SmtpSendMail and SmtpCloseSession by name. After SmtpOpenSession, one
 * SmtpSendMail delivers one message to every address of the record's
 * recipient field through the SMTP server it names; SmtpCloseSession ends the
 * session. Each call returns VGSMTP_OK (0) or a named VGSMTP_E_ code, and the
 * optional SmtpLastError gives the text of the calling thread's last failure,
 * so a caller can write one log line per failed delivery.
 *
 * Time-outs: connecting is bounded by VIGILO_SMTP_CONNECT_TIMEOUT (seconds,
 * default 5) and a whole delivery by VIGILO_SMTP_TIMEOUT (seconds, default
 * 30); both are read when the session opens.
 *
 * Texts the library returns name the server as host:port, never with the
 * credentials a server URL may hold.
 */
#ifndef VIGILO_PLATFORM_SMTP_VGSMTP_H_
#define VIGILO_PLATFORM_SMTP_VGSMTP_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VGSMTP_LIBRARY_FILE "libvgsmtp.so"
#define VGSMTP_LIBRARY_ENV "VIGILO_SMTP_LIBRARY"

/* Result codes. */
#define VGSMTP_OK 0
#define VGSMTP_E_NO_SESSION 1   /* SmtpSendMail without an open session */
#define VGSMTP_E_BAD_MESSAGE 2  /* null record, no server, sender or recipient, unknown body format */
#define VGSMTP_E_CONNECT 3      /* server name unknown or connection refused */
#define VGSMTP_E_TIMEOUT 4      /* connect or delivery time-out reached */
#define VGSMTP_E_REJECTED 5     /* the server refused the sender, a recipient or the data */
#define VGSMTP_E_TRANSFER 6     /* the connection broke or another transport failure */
#define VGSMTP_E_INTERNAL 7     /* out of memory, transport library failure */
#define VGSMTP_E_SECURITY 8     /* TLS unavailable or refused (certificate), AUTH refused,
                                   credentials that would cross an unencrypted session */

/* Field 10: the body is plain text. */
#define VGSMTP_BODY_PLAIN_TEXT 1

/* SmtpSecurity.mode */
#define VGSMTP_SECURITY_STARTTLS 0 /* STARTTLS when offered; required with a user */
#define VGSMTP_SECURITY_TLS 1      /* implicit TLS (port 465 unless the server names one) */
#define VGSMTP_SECURITY_NONE 2     /* no TLS; with a user only to a server on this machine */

/* How the session reaches its server. Certificates are always verified. */
typedef struct SmtpSecurity {
  int32_t mode;          /* VGSMTP_SECURITY_ */
  const char* user;      /* null or empty: no AUTH (unless the server URL holds one) */
  const char* password;
  const char* ca_file;   /* null or empty: the system's certificates */
} SmtpSecurity;

/* The ten-field message record; every field is pointer-sized. */
typedef struct SmtpMessage {
  const char* server;       /* 1: "host", "host:port" (port 25 by default) or an smtp:// URL */
  const char* sender;       /* 2: "addr" or "Name <addr>" */
  const char* recipients;   /* 3: addresses joined by "," (blanks around each ignored) */
  uintptr_t reserved4;      /* 4: 0 */
  uintptr_t reserved5;      /* 5: 0 */
  const char* subject;      /* 6: may be null */
  const char* body;         /* 7: "\r\n" or "\n" line ends; may be null */
  uintptr_t reserved8;      /* 8: 0 */
  uintptr_t reserved9;      /* 9: 0 */
  uintptr_t body_format;    /* 10: VGSMTP_BODY_PLAIN_TEXT */
} SmtpMessage;

/* Opens the session (idempotent). Failure: VGSMTP_E_INTERNAL. */
int32_t SmtpOpenSession(void);

/* Delivers one message to every recipient the server accepts. Recipients the
 * server refuses are left out and listed by SmtpRefusedRecipients; the call
 * fails (VGSMTP_E_REJECTED) only when every recipient was refused or the
 * server refused the sender or the data. */
int32_t SmtpSendMail(const SmtpMessage* message);

/* Ends the session and its connection (idempotent). Leaves SmtpLastError as
 * it was, so the text of a failed send can be read after closing. */
int32_t SmtpCloseSession(void);

/* Optional: sets how later sends of this process reach the server (copied;
 * by default STARTTLS when offered, no AUTH unless the server URL holds
 * credentials). Credentials, from here or from the URL, are only sent over
 * TLS, or with VGSMTP_SECURITY_NONE to a server on this machine. Failure:
 * VGSMTP_E_BAD_MESSAGE for an unknown mode. */
int32_t SmtpSetSecurity(const SmtpSecurity* security);

/* Optional: the text of the calling thread's last failure; SmtpOpenSession
 * and SmtpSendMail reset it to empty. Valid until the thread's next call. */
const char* SmtpLastError(void);

/* Optional: the recipients the server refused in the calling thread's last
 * SmtpSendMail, one line each, "CODE address reply" (CODE the server's
 * three-digit reply code: 4xx refuses for now, 5xx for good); empty when none.
 * Valid until the thread's next call. */
const char* SmtpRefusedRecipients(void);

/* Optional: the server's last reply code in the calling thread's last
 * SmtpSendMail (0 when the server never answered, as after a refused
 * connection or a time-out). */
int32_t SmtpLastReplyCode(void);

typedef int32_t (*SmtpOpenSessionFn)(void);
typedef int32_t (*SmtpSendMailFn)(const SmtpMessage*);
typedef int32_t (*SmtpCloseSessionFn)(void);
typedef const char* (*SmtpLastErrorFn)(void);
typedef const char* (*SmtpRefusedRecipientsFn)(void);
typedef int32_t (*SmtpLastReplyCodeFn)(void);
typedef int32_t (*SmtpSetSecurityFn)(const SmtpSecurity*);

#ifdef __cplusplus
}
#endif

#endif /* VIGILO_PLATFORM_SMTP_VGSMTP_H_ */
