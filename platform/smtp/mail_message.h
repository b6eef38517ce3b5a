// Composition of one Internet mail message for the two mail plugins.
//
// Both the SMTP library and the mail-system provider hand a subject and a
// plain-text body to a mail server or a sendmail-compatible command. This
// file turns them into the message text: From, To, Cc, Subject, Date,
// Message-ID and a MIME text/plain header naming the character set, with the
// body's line ends made CRLF. Nothing here talks to the network.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vigilo::mail {

struct OutgoingMail {
  std::string from;             // header value: "addr" or "Name <addr>"
  std::vector<std::string> to;  // header addresses
  std::vector<std::string> cc;
  std::string subject;          // any bytes; line breaks become blanks
  std::string body;             // "\r\n", "\n" or "\r" line ends
};

// Splits a comma-separated address list, trims blanks around each piece and
// drops empty pieces.
std::vector<std::string> SplitAddressList(std::string_view text);

// The address for the envelope: the text between "<" and ">" when present,
// else the whole text, trimmed.
std::string EnvelopeAddress(std::string_view text);

// True when the text can stand in a header or an SMTP command: no line break,
// no NUL.
bool IsSafeHeaderText(std::string_view text);

// "us-ascii" for 7-bit text, "utf-8" for valid UTF-8, else "windows-1252"
// (the single-byte texts that older databases hold).
std::string DetectCharset(std::string_view text);

// The body with every line end ("\r\n", lone "\n", lone "\r") made "\r\n" and
// a final "\r\n" added when missing (an empty body stays empty).
std::string NormaliseLineEnds(std::string_view body);

// Quoted-printable encoding of a body whose line ends are "\r\n".
std::string EncodeQuotedPrintable(std::string_view body);

// The Subject header value: as it is for short 7-bit text, else RFC 2047
// encoded words folded onto continuation lines.
std::string EncodeSubject(std::string_view subject);

// The whole message, headers and body, with "\r\n" line ends. The body is
// sent 7bit or 8bit as it is; only when a line passes 998 bytes it is
// quoted-printable encoded, since servers may refuse longer lines.
std::string ComposeMessage(const OutgoingMail& mail);

// The same text with "\r\n" turned into "\n", for local delivery commands.
std::string ToUnixLineEnds(std::string_view text);

}  // namespace vigilo::mail
