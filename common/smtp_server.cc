#include "common/smtp_server.h"

#include <arpa/inet.h>

#include "common/text.h"

namespace vigilo {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecoded(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool ReadPort(std::string_view text, int* port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  *port = value;
  return true;
}

}  // namespace

std::optional<SmtpServerAddress> ParseSmtpServer(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  for (char c : text) {
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f) return std::nullopt;
  }
  SmtpServerAddress server;
  std::string_view authority = text;
  size_t scheme_end = text.find("://");
  if (scheme_end != std::string_view::npos) {
    server.scheme = ToLower(text.substr(0, scheme_end));
    if (server.scheme != "smtp" && server.scheme != "smtps") return std::nullopt;
    authority = text.substr(scheme_end + 3);
    size_t path = authority.find_first_of("/?#");
    if (path != std::string_view::npos) {
      server.path = std::string(authority.substr(path));
      authority = authority.substr(0, path);
    }
  }
  size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    std::string_view userinfo = authority.substr(0, at);
    authority = authority.substr(at + 1);
    size_t colon = userinfo.find(':');
    server.user = PercentDecoded(userinfo.substr(0, colon));
    if (colon != std::string_view::npos) {
      server.password = PercentDecoded(userinfo.substr(colon + 1));
    }
    server.has_credentials = true;
  }
  if (authority.empty()) return std::nullopt;
  if (authority.front() == '[') {
    size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    server.host = std::string(authority.substr(0, close + 1));
    std::string_view rest = authority.substr(close + 1);
    if (!rest.empty() && (rest.front() != ':' || !ReadPort(rest.substr(1), &server.port))) {
      return std::nullopt;
    }
  } else {
    size_t colon = authority.find(':');
    if (colon != std::string_view::npos &&
        authority.find(':', colon + 1) != std::string_view::npos) {
      // More than one colon without brackets is a bare IPv6 address.
      server.host = "[" + std::string(authority) + "]";
    } else {
      server.host = std::string(authority.substr(0, colon));
      if (colon != std::string_view::npos && !ReadPort(authority.substr(colon + 1), &server.port)) {
        return std::nullopt;
      }
    }
  }
  if (server.host.empty() || server.host == "[]") return std::nullopt;
  return server;
}

int EffectiveSmtpPort(const SmtpServerAddress& server, bool implicit_tls) {
  if (server.port != 0) return server.port;
  return implicit_tls || server.scheme == "smtps" ? 465 : 25;
}

std::string SmtpServerDisplayName(std::string_view text, bool implicit_tls) {
  std::optional<SmtpServerAddress> server = ParseSmtpServer(text);
  if (!server) return "(unreadable server setting)";
  return server->host + ":" + std::to_string(EffectiveSmtpPort(*server, implicit_tls));
}

std::string WithoutUrlCredentials(std::string_view text) {
  std::string out;
  size_t from = 0;
  for (size_t scheme = text.find("://"); scheme != std::string_view::npos;
       scheme = text.find("://", from)) {
    const size_t authority = scheme + 3;
    size_t end = text.find_first_of("/?# \t\r\n\"'<>", authority);
    if (end == std::string_view::npos) end = text.size();
    const size_t at = text.substr(authority, end - authority).rfind('@');
    out.append(text.substr(from, authority - from));
    from = at == std::string_view::npos ? authority : authority + at + 1;
  }
  out.append(text.substr(from));
  return out;
}

bool IsLoopbackHost(std::string_view host) {
  if (EqualsNoCase(host, "localhost") || EqualsNoCase(host, "localhost.")) return true;
  std::string bare(host);
  if (bare.size() >= 2 && bare.front() == '[' && bare.back() == ']') {
    bare = bare.substr(1, bare.size() - 2);
  }
  in_addr v4{};
  if (inet_pton(AF_INET, bare.c_str(), &v4) == 1) {
    return (ntohl(v4.s_addr) >> 24) == 127;
  }
  in6_addr v6{};
  if (inet_pton(AF_INET6, bare.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
  return false;
}

}  // namespace vigilo
