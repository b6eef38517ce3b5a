#include "data/login_info.h"

#include <array>

#include "common/format.h"
#include "common/ini_profile.h"
#include "data/database_kind.h"

namespace vigilo {

namespace {

constexpr size_t kRowLength = 19;
constexpr size_t kRows = 5;

// The printable ASCII characters, each once, in the rows the stored passwords
// are shifted within.
constexpr std::string_view kPasswordTable =
    "[UsP>C2;\\B@9u.KZ6gT"
    "{FSm<\"&`j7IDow8^?3G"
    "Lz1 ypeV*%,_x-}W!~#"
    ")fME4Qth+J0]:q'(ORk"
    "XiArcbl=Yn/HN|d$v5a";
static_assert(kPasswordTable.size() == kRowLength * kRows);

// Shift of the character at position i is kShifts[i % 8].
constexpr std::array<size_t, 8> kShifts = {5, 5, 8, 3, 1, 4, 13, 11};

// Moves every character within its row: to the right by the shift when
// encoding, to the left when decoding.
std::optional<std::string> Shift(std::string_view text, bool encode) {
  std::string out(text);
  for (size_t i = 0; i < out.size(); ++i) {
    size_t at = kPasswordTable.find(out[i]);
    if (at == std::string_view::npos) return std::nullopt;
    size_t row = at / kRowLength;
    size_t column = at % kRowLength;
    size_t shift = kShifts[i % kShifts.size()];
    size_t moved = encode ? (column + shift) % kRowLength
                          : (column + kRowLength - shift) % kRowLength;
    out[i] = kPasswordTable[row * kRowLength + moved];
  }
  return out;
}

}  // namespace

std::optional<std::string> DecodePassword(std::string_view stored) { return Shift(stored, false); }

std::optional<std::string> EncodePassword(std::string_view plain) { return Shift(plain, true); }

std::optional<LoginInfo> ParseLoginValue(std::string_view value) {
  value = value.substr(0, kLoginValueLimit);
  std::string items[2];
  int count = 0;
  size_t pos = 0;
  while (count < 2) {
    while (pos < value.size() && value[pos] == ' ') ++pos;
    size_t digits = pos;
    size_t length = 0;
    while (pos < value.size() && value[pos] >= '0' && value[pos] <= '9') {
      length = length * 10 + static_cast<size_t>(value[pos] - '0');
      if (length > kLoginValueLimit) length = kLoginValueLimit + 1;
      ++pos;
    }
    if (pos == digits) break;  // no further length to read
    if (pos < value.size()) ++pos;  // the separator, whatever it is
    size_t end = pos;
    while (end < value.size() && end - pos < length && value[end] != '\r' && value[end] != '\n') {
      ++end;
    }
    items[count++] = std::string(value.substr(pos, end - pos));
    pos = end;
  }
  if (count == 0) return std::nullopt;
  if (items[0].size() > kLoginItemLimit || items[1].size() > kLoginItemLimit) return std::nullopt;
  std::optional<std::string> password = DecodePassword(items[1]);
  if (!password) return std::nullopt;
  return LoginInfo{items[0], *password};
}

std::optional<std::string> FormatLoginValue(std::string_view user, std::string_view password) {
  if (user.size() > kLoginItemLimit || password.size() > kLoginItemLimit) return std::nullopt;
  for (char c : user) {
    if (c < 0x20 || c > 0x7e) return std::nullopt;
  }
  std::optional<std::string> encoded = EncodePassword(password);
  if (!encoded) return std::nullopt;
  std::string value = Format("%zu %s %zu %s", user.size(), std::string(user).c_str(),
                             encoded->size(), encoded->c_str());
  // INI values lose trailing blanks; a mark after the item keeps them.
  if (!value.empty() && value.back() == ' ') value += ';';
  return value;
}

std::optional<LoginInfo> GetLoginInfo(const CServerPaths& paths, long kind,
                                      const std::optional<std::string>& server) {
  if (!server) return std::nullopt;
  std::string_view section = LoginSectionName(kind);
  if (section.empty() || server->empty()) return std::nullopt;
  std::string value = GetProfileString(paths.orvik_ini_path, section, *server, "");
  if (value.empty()) return std::nullopt;
  return ParseLoginValue(value);
}

}  // namespace vigilo
