/* The mail-system provider interface: five C entry points and two records.
 *
 * The rule service and the rule manager load libvgmapi.so at run time and bind
 * MAPILogon, MAPIResolveName, MAPISendMail, MAPIFreeBuffer and MAPILogoff by
 * name. A session is opened with a profile and its password, names are
 * resolved to recipients through the provider's address book, and a message
 * with its recipients is handed over for delivery. Every entry point returns
 * VGMAPI_OK (0) on success and one of the named VGMAPI_E_ codes otherwise; the
 * optional VgMapiLastError gives the text of the calling thread's last failure.
 *
 * The provider is configured by mapi.ini (see platform/mapi/README.md): it is
 * read from the file named by VIGILO_MAPI_INI, else from $VIGILO_HOME/mapi.ini,
 * else from mapi.ini in the directory of the running program.
 */
#ifndef VIGILO_PLATFORM_MAPI_VGMAPI_H_
#define VIGILO_PLATFORM_MAPI_VGMAPI_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* How the programs find the provider. */
#define VGMAPI_LIBRARY_FILE "libvgmapi.so"
#define VGMAPI_LIBRARY_ENV "VIGILO_MAPI_LIBRARY"
#define VGMAPI_INI_ENV "VIGILO_MAPI_INI"

/* Result codes. */
#define VGMAPI_OK 0
#define VGMAPI_E_FAILURE 1           /* internal failure, out of memory */
#define VGMAPI_E_BAD_ARGUMENT 2      /* a required pointer is null */
#define VGMAPI_E_NO_CONFIG 3         /* mapi.ini missing or unreadable */
#define VGMAPI_E_LOGON_FAILURE 4     /* unknown profile or wrong password */
#define VGMAPI_E_INVALID_SESSION 5   /* session 0, logged off or never issued */
#define VGMAPI_E_UNKNOWN_RECIPIENT 6 /* a name or address that cannot be resolved */
#define VGMAPI_E_NO_RECIPIENTS 7     /* a message without TO, CC or BCC recipient */
#define VGMAPI_E_ATTACHMENTS 8       /* attachments are not supported */
#define VGMAPI_E_DELIVERY_FAILURE 9  /* the delivery command or SMTP server failed */
#define VGMAPI_E_INVALID_BUFFER 10   /* MAPIFreeBuffer of memory not handed out here */

/* Recipient classes. */
#define MAPI_ORIG 0
#define MAPI_TO 1
#define MAPI_CC 2
#define MAPI_BCC 3

/* MAPILogon flag the programs pass: every logon opens a new session anyway. */
#define VGMAPI_LOGON_NEW_SESSION 0x8

typedef uintptr_t MapiSessionHandle; /* 0 is never a valid session */

/* One recipient (or the originator). */
typedef struct MapiRecipDesc {
  uint32_t reserved;      /* 0 */
  uint32_t recip_class;   /* MAPI_ORIG, MAPI_TO, MAPI_CC or MAPI_BCC */
  const char* name;       /* display name */
  const char* address;    /* mail address, possibly with a "CCMAIL:" or "SMTP:" prefix */
  uint32_t entry_id_size; /* bytes at entry_id */
  const void* entry_id;   /* provider's identifier of a resolved recipient */
} MapiRecipDesc;

/* One message. Text fields may be null (read as empty). */
typedef struct MapiMessage {
  uint32_t reserved;             /* 0 */
  const char* subject;
  const char* note_text;         /* body; "\r\n" or "\n" line ends */
  const char* message_type;      /* null: an ordinary message */
  const char* date_received;     /* null when sending */
  const char* conversation_id;   /* null */
  uint32_t flags;                /* 0 */
  const MapiRecipDesc* originator; /* null: the sender configured in mapi.ini */
  uint32_t recip_count;
  const MapiRecipDesc* recips;
  uint32_t file_count;           /* must be 0 */
  const void* files;             /* must be null */
} MapiMessage;

/* Opens a session for a profile of mapi.ini whose password matches exactly.
 * ui_param, flags and reserved are accepted and ignored. On success stores a
 * non-zero handle in *session. Failures: VGMAPI_E_NO_CONFIG,
 * VGMAPI_E_LOGON_FAILURE, VGMAPI_E_BAD_ARGUMENT (session null). */
uint32_t MAPILogon(uintptr_t ui_param, const char* profile, const char* password,
                   uint32_t flags, uint32_t reserved, MapiSessionHandle* session);

/* Resolves one name. A name holding "@" resolves to itself; any other name is
 * looked up in the address book (without regard to case). session may be 0,
 * in which case mapi.ini is read for this call. On success *recipient points
 * to a recipient of class MAPI_TO that the caller releases with
 * MAPIFreeBuffer. Failures: VGMAPI_E_UNKNOWN_RECIPIENT, VGMAPI_E_NO_CONFIG,
 * VGMAPI_E_INVALID_SESSION, VGMAPI_E_BAD_ARGUMENT. */
uint32_t MAPIResolveName(MapiSessionHandle session, uintptr_t ui_param,
                         const char* name, uint32_t flags, uint32_t reserved,
                         MapiRecipDesc** recipient);

/* Delivers a message through the session's delivery (command or SMTP URL).
 * Each TO, CC and BCC recipient's address (its name when the address is
 * empty) is used: a "CCMAIL:" or "SMTP:" prefix is removed; what holds "@" is
 * a mail address, anything else goes through the address book. If any
 * recipient cannot be turned into an address, nothing is sent
 * (VGMAPI_E_UNKNOWN_RECIPIENT). Other failures: VGMAPI_E_INVALID_SESSION,
 * VGMAPI_E_NO_RECIPIENTS, VGMAPI_E_ATTACHMENTS, VGMAPI_E_DELIVERY_FAILURE. */
uint32_t MAPISendMail(MapiSessionHandle session, uintptr_t ui_param,
                      const MapiMessage* message, uint32_t flags, uint32_t reserved);

/* Releases memory handed out by MAPIResolveName. Null is accepted. A pointer
 * not handed out (or already released) gives VGMAPI_E_INVALID_BUFFER and is
 * left alone. */
uint32_t MAPIFreeBuffer(void* buffer);

/* Ends a session. Failure: VGMAPI_E_INVALID_SESSION. */
uint32_t MAPILogoff(MapiSessionHandle session, uintptr_t ui_param, uint32_t flags,
                    uint32_t reserved);

/* Optional sixth entry point: the text of the calling thread's last failure
 * (empty after a success). Valid until the thread's next call. */
const char* VgMapiLastError(void);

/* Function pointer types for binding with dlsym. */
typedef uint32_t (*MapiLogonFn)(uintptr_t, const char*, const char*, uint32_t,
                                uint32_t, MapiSessionHandle*);
typedef uint32_t (*MapiResolveNameFn)(MapiSessionHandle, uintptr_t, const char*,
                                      uint32_t, uint32_t, MapiRecipDesc**);
typedef uint32_t (*MapiSendMailFn)(MapiSessionHandle, uintptr_t, const MapiMessage*,
                                   uint32_t, uint32_t);
typedef uint32_t (*MapiFreeBufferFn)(void*);
typedef uint32_t (*MapiLogoffFn)(MapiSessionHandle, uintptr_t, uint32_t, uint32_t);
typedef const char* (*MapiLastErrorFn)(void);

#ifdef __cplusplus
}
#endif

#endif /* VIGILO_PLATFORM_MAPI_VGMAPI_H_ */
