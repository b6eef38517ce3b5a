#include "notify/user_record.h"

#include "common/text.h"

namespace vigilo {

std::string UserRecordLine(const UserRecord& record) {
  std::string line;
  line += record.login_name.value_or("");
  line += '|';
  line += record.password.value_or("");
  line += '|';
  line += std::to_string(record.mail_type);
  line += '|';
  line += record.mail_address;
  line += '|';
  return line;
}

UserRecord ParseUserRecordLine(std::string_view line) {
  UserRecord record;
  size_t start = 0;
  for (int field = 0; field < 4; ++field) {
    size_t bar = line.find('|', start);
    if (bar == std::string_view::npos) break;
    std::string_view text = line.substr(start, bar - start);
    start = bar + 1;
    if (text.empty()) continue;
    switch (field) {
      case 0: record.login_name = std::string(text); break;
      case 1: record.password = std::string(text); break;
      case 2: record.mail_type = static_cast<int32_t>(LeadingNumber(text)); break;
      case 3: record.mail_address = std::string(text.substr(0, kMailAddressLimit)); break;
    }
  }
  return record;
}

std::optional<std::string> AddressForMailType(int32_t mail_type, std::string_view address) {
  switch (mail_type) {
    case 0: return "ORVIK:" + std::string(address);
    case 1:
    case 4: return std::string(address);
    case 2: return "CCMAIL:" + std::string(address);
    case 3: return std::nullopt;
    default: return "SMTP:" + std::string(address);
  }
}

}  // namespace vigilo
