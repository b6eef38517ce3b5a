#include "notify/mail_settings.h"

#include <cctype>

namespace vigilo {

SmtpSetting ParseSmtpSetting(std::string_view value) {
  size_t commas[4];
  size_t from = 0;
  for (size_t& comma : commas) {
    comma = value.find(',', from);
    if (comma == std::string_view::npos) return {};
    from = comma + 1;
  }
  SmtpSetting setting;
  setting.server = std::string(value.substr(commas[1] + 1, commas[2] - commas[1] - 1))
                       .substr(0, kSmtpTextLimit);
  std::string_view sender = value.substr(commas[2] + 1, commas[3] - commas[2] - 1);
  setting.sender = sender.size() > 2 ? std::string(sender.substr(2, kSmtpTextLimit)) : "";
  return setting;
}

MailProfile ParseMailProfile(std::string_view value, const PasswordDecoder& decode) {
  MailProfile result;
  bool encoded = false;
  size_t pos = 0;
  for (int field = 1; field <= 7; ++field) {
    if (pos > value.size() || value.find(',', pos) == std::string_view::npos) break;
    if (field == 4 || field == 5) {
      size_t digits = pos;
      while (digits < value.size() && value[digits] == ' ') ++digits;
      bool negative = digits < value.size() && (value[digits] == '-' || value[digits] == '+');
      if (negative) negative = value[digits++] == '-';
      long length = 0;
      size_t end = digits;
      while (end < value.size() && std::isdigit(static_cast<unsigned char>(value[end]))) {
        length = length * 10 + (value[end] - '0');
        if (length > 1000000) length = 1000000;
        ++end;
      }
      if (negative) length = -length;
      std::string text;
      if (length > 0) {
        size_t start = end + 1;
        if (start < value.size()) text = std::string(value.substr(start, length));
        pos = start + static_cast<size_t>(length) + 1;
      } else {
        pos += 2;
      }
      if (field == 4) result.profile = text.substr(0, kProfileNameLimit);
      else result.password = text.substr(0, kProfilePasswordLimit);
    } else {
      size_t comma = value.find(',', pos);
      if (field == 7 && comma > pos) encoded = true;
      pos = comma + 1;
    }
  }
  if (encoded && decode) result.password = decode(result.password).substr(0, kProfilePasswordLimit);
  return result;
}

}  // namespace vigilo
