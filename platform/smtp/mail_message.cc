#include "platform/smtp/mail_message.h"

#include <unistd.h>

#include <atomic>
#include <ctime>
#include <random>

#include "common/format.h"
#include "common/text.h"

namespace vigilo::mail {

namespace {

constexpr size_t kMaxLineBytes = 998;  // longest line a mail server must take

bool IsBlankChar(char c) { return c == ' ' || c == '\t'; }

std::string TrimBlanks(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlankChar(text[begin])) ++begin;
  while (end > begin && IsBlankChar(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

// Length of the UTF-8 sequence starting at text[i], or 0 when it is invalid.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  size_t length;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) length = 2;
  else if (c >= 0xE0 && c <= 0xEF) length = 3;
  else if (c >= 0xF0 && c <= 0xF4) length = 4;
  else return 0;
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

std::string Base64(std::string_view data) {
  static const char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  while (i + 2 < data.size()) {
    uint32_t v = (static_cast<unsigned char>(data[i]) << 16) |
                 (static_cast<unsigned char>(data[i + 1]) << 8) |
                 static_cast<unsigned char>(data[i + 2]);
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += kDigits[(v >> 6) & 63];
    out += kDigits[v & 63];
    i += 3;
  }
  if (i + 1 == data.size()) {
    uint32_t v = static_cast<unsigned char>(data[i]) << 16;
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == data.size()) {
    uint32_t v = (static_cast<unsigned char>(data[i]) << 16) |
                 (static_cast<unsigned char>(data[i + 1]) << 8);
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += kDigits[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

bool IsSevenBit(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool HasLongLine(std::string_view crlf_text) {
  size_t start = 0;
  while (start <= crlf_text.size()) {
    size_t end = crlf_text.find("\r\n", start);
    if (end == std::string_view::npos) end = crlf_text.size();
    if (end - start > kMaxLineBytes) return true;
    start = end + 2;
  }
  return false;
}

// RFC 5322 date in English whatever the locale, with the local zone offset.
std::string MailDate() {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  long offset_minutes = local.tm_gmtoff / 60;
  char sign = offset_minutes < 0 ? '-' : '+';
  if (offset_minutes < 0) offset_minutes = -offset_minutes;
  return Format("%s, %d %s %d %02d:%02d:%02d %c%02ld%02ld", kDays[local.tm_wday],
                local.tm_mday, kMonths[local.tm_mon], local.tm_year + 1900,
                local.tm_hour, local.tm_min, local.tm_sec, sign,
                offset_minutes / 60, offset_minutes % 60);
}

std::string HostName() {
  std::string name(256, '\0');
  if (::gethostname(name.data(), name.size() - 1) != 0) return "localhost";
  name.resize(name.find('\0'));
  return name.empty() ? "localhost" : name;
}

std::string MessageId(const std::string& from) {
  static std::atomic<unsigned> counter{0};
  std::string address = EnvelopeAddress(from);
  size_t at = address.rfind('@');
  std::string domain = at != std::string::npos && at + 1 < address.size()
                           ? address.substr(at + 1)
                           : HostName();
  // Seeded once a thread: asking the system for randomness costs more than
  // composing the rest of a message.
  thread_local std::mt19937 random{std::random_device{}()};
  return Format("<%lld.%d.%u.%08x@%s>", static_cast<long long>(std::time(nullptr)),
                static_cast<int>(::getpid()), counter.fetch_add(1),
                static_cast<unsigned>(random()), domain.c_str());
}

// Joins addresses for a header, folding before a line would pass 78 columns.
std::string AddressHeader(const char* name, const std::vector<std::string>& addresses) {
  std::string header = std::string(name) + ": ";
  size_t line_length = header.size();
  for (size_t i = 0; i < addresses.size(); ++i) {
    if (i > 0) {
      header += ",";
      ++line_length;
      if (line_length + 1 + addresses[i].size() > 78) {
        header += "\r\n";
        line_length = 0;
      }
      header += " ";
      ++line_length;
    }
    header += addresses[i];
    line_length += addresses[i].size();
  }
  return header + "\r\n";
}

}  // namespace

std::vector<std::string> SplitAddressList(std::string_view text) {
  std::vector<std::string> addresses;
  for (const std::string& piece : SplitText(text, ',')) {
    std::string address = TrimBlanks(piece);
    if (!address.empty()) addresses.push_back(std::move(address));
  }
  return addresses;
}

std::string EnvelopeAddress(std::string_view text) {
  size_t open = text.rfind('<');
  if (open != std::string_view::npos) {
    size_t close = text.find('>', open);
    if (close != std::string_view::npos) {
      return TrimBlanks(text.substr(open + 1, close - open - 1));
    }
  }
  return TrimBlanks(text);
}

bool IsSafeHeaderText(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string DetectCharset(std::string_view text) {
  if (IsSevenBit(text)) return "us-ascii";
  for (size_t i = 0; i < text.size();) {
    size_t length = Utf8SequenceLength(text, i);
    if (length == 0) return "windows-1252";
    i += length;
  }
  return "utf-8";
}

std::string NormaliseLineEnds(std::string_view body) {
  std::string out;
  out.reserve(body.size() + body.size() / 32 + 2);
  for (size_t i = 0; i < body.size(); ++i) {
    char c = body[i];
    if (c == '\r') {
      if (i + 1 < body.size() && body[i + 1] == '\n') ++i;
      out += "\r\n";
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  if (!out.empty() && (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0)) {
    out += "\r\n";
  }
  return out;
}

std::string EncodeQuotedPrintable(std::string_view body) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  size_t start = 0;
  while (start < body.size()) {
    size_t end = body.find("\r\n", start);
    bool has_break = end != std::string_view::npos;
    if (!has_break) end = body.size();
    std::string_view line = body.substr(start, end - start);
    size_t column = 0;
    for (size_t i = 0; i < line.size(); ++i) {
      unsigned char c = static_cast<unsigned char>(line[i]);
      bool last = i + 1 == line.size();
      std::string piece;
      if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last)) {
        piece = static_cast<char>(c);
      } else {
        piece = {'=', kHex[c >> 4], kHex[c & 15]};
      }
      // Soft break so that no encoded line passes 76 characters.
      if (column + piece.size() > 75) {
        out += "=\r\n";
        column = 0;
      }
      out += piece;
      column += piece.size();
    }
    if (has_break) out += "\r\n";
    start = end + 2;
  }
  return out;
}

std::string EncodeSubject(std::string_view subject) {
  std::string text(subject);
  for (char& c : text) {
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  }
  std::string charset = DetectCharset(text);
  if (charset == "us-ascii" && text.size() <= 900 && text.find("=?") == std::string::npos) {
    return text;
  }
  // Encoded words of at most 45 raw bytes stay within 75 characters; UTF-8
  // sequences are never split between two words.
  bool utf8 = charset == "utf-8";
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    size_t end = i;
    while (end < text.size()) {
      size_t length = utf8 ? Utf8SequenceLength(text, end) : 1;
      if (length == 0) length = 1;
      if (end + length - i > 45) break;
      end += length;
    }
    if (!out.empty()) out += "\r\n ";
    out += "=?" + charset + "?B?" + Base64(std::string_view(text).substr(i, end - i)) + "?=";
    i = end;
  }
  return out;
}

std::string ComposeMessage(const OutgoingMail& mail) {
  std::string body = NormaliseLineEnds(mail.body);
  std::string charset = DetectCharset(body);
  std::string encoding;
  if (HasLongLine(body)) {
    encoding = "quoted-printable";
    body = EncodeQuotedPrintable(body);
  } else {
    encoding = charset == "us-ascii" ? "7bit" : "8bit";
  }

  std::string message;
  message.reserve(body.size() + 512);
  message += "From: " + mail.from + "\r\n";
  if (!mail.to.empty()) message += AddressHeader("To", mail.to);
  if (!mail.cc.empty()) message += AddressHeader("Cc", mail.cc);
  message += "Subject: " + EncodeSubject(mail.subject) + "\r\n";
  message += "Date: " + MailDate() + "\r\n";
  message += "Message-ID: " + MessageId(mail.from) + "\r\n";
  message += "MIME-Version: 1.0\r\n";
  message += "Content-Type: text/plain; charset=" + charset + "\r\n";
  message += "Content-Transfer-Encoding: " + encoding + "\r\n";
  message += "\r\n";
  message += body;
  return message;
}

std::string ToUnixLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

}  // namespace vigilo::mail
