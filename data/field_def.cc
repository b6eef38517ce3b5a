#include "data/field_def.h"

#include <algorithm>

#include "common/format.h"
#include "common/text.h"

namespace vigilo {

namespace {

constexpr size_t kWordLimit = 15;

// A decimal number at the start of text as strtol reads it; *end receives the
// position after it (0 when there is no number).
long ReadLength(std::string_view text, size_t* end) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  size_t sign = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = i;
  long value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (value < 100000000) value = value * 10 + (text[i] - '0');
    ++i;
  }
  if (i == digits) {
    *end = 0;
    return 0;
  }
  *end = i;
  return text[sign] == '-' ? -value : value;
}

std::string_view SafeSubstr(std::string_view text, size_t start, size_t count) {
  if (start >= text.size()) return {};
  return text.substr(start, count);
}

int ReadInt(std::string_view field) { return static_cast<int>(LeadingNumber(field)); }

std::string LengthPrefixed(const std::string& text) {
  return text.empty() ? std::string("0") : Format("%zu %s", text.size(), text.c_str());
}

}  // namespace

CFieldDef::CFieldDef(int sequence_number, std::optional<std::string_view> line)
    : sequence(sequence_number) {
  if (line) {
    Parse(*line);
  } else {
    label = name;
  }
}

void CFieldDef::Parse(std::string_view line) {
  size_t pos = 0;
  // Takes the field up to the next comma and moves past that comma.
  auto up_to_comma = [&]() {
    size_t comma = line.find(',', pos);
    std::string_view field = line.substr(pos, comma - pos);
    pos = comma + 1;
    return field;
  };

  for (int index = 0; index < 19; ++index) {
    if (pos >= line.size() || line.find(',', pos) == std::string_view::npos) return;
    std::string_view rest = line.substr(pos);
    std::string_view field;

    if (index == 5 && rest[0] == '|') {
      size_t close = rest.find('|', 1);
      if (close != std::string_view::npos) {
        attribute_text = std::string(rest.substr(1, close - 1));
        pos = std::min(line.size(), pos + close + 2);
        continue;
      }
    }
    if (index == 7 && rest[0] != ',') {
      size_t end = rest.find("|,");
      if (end != std::string_view::npos) {
        choices = SplitNonEmpty(rest.substr(0, end + 1), '|');
        pos += end + 2;
        continue;
      }
    }
    if (index == 13) {
      size_t end = 0;
      long n = ReadLength(rest, &end);
      if (n > 0) {
        size_t comma = end + static_cast<size_t>(n) + 1;
        if (end < rest.size() && rest[end] == ' ' && comma < rest.size() && rest[comma] == ',') {
          extra1 = std::string(rest.substr(end + 1, static_cast<size_t>(n)));
          pos += comma + 1;
          continue;
        }
        extra1 = std::string(up_to_comma());
      } else {
        up_to_comma();
      }
      continue;
    }
    if (index == 17) {
      size_t end = 0;
      long n = ReadLength(rest, &end);
      if (n > 0) {
        extra4 = std::string(SafeSubstr(rest, end + 1, static_cast<size_t>(n)));
        pos = std::min(line.size(), pos + end + 1 + static_cast<size_t>(n));
        if (pos < line.size() && line[pos] == ',') ++pos;
      } else {
        up_to_comma();
      }
      continue;
    }

    field = up_to_comma();
    if (field.empty()) continue;
    switch (index) {
      case 0: name = std::string(field); break;
      case 1: label = std::string(field); break;
      case 2: type = ReadInt(field); break;
      case 3: width = static_cast<uint32_t>(std::max(0, ReadInt(field))); break;
      case 4: decimals = ReadInt(field); break;
      case 5: attribute_text = std::string(field); break;
      case 6: attribute_number = ReadInt(field); break;
      case 7: choices = SplitNonEmpty(field, '|'); break;  // no closing "|"
      case 8: case 9: case 10: case 11: layout[index - 8] = ReadInt(field); break;
      case 12: {
        flags = ReadInt(field);
        size_t open = field.find('(');
        size_t close = open == std::string_view::npos ? open : field.find(')', open + 1);
        if (close != std::string_view::npos && close > open + 1) {
          secondary = SplitNonEmpty(field.substr(open + 1, close - open - 1), '|');
        }
        break;
      }
      case 14: {
        size_t end = 0;
        long n = ReadLength(field, &end);
        if (n > 0) extra2 = std::string(SafeSubstr(field, end + 1, static_cast<size_t>(n)));
        break;
      }
      case 15: lookup = std::string(field); break;
      case 16: extra3 = std::string(field); break;
      case 18: {
        std::vector<std::string> words = SplitNonEmpty(field, ' ');
        if (!words.empty()) word1 = words[0].substr(0, kWordLimit);
        if (words.size() > 1) word2 = words[1].substr(0, kWordLimit);
        break;
      }
      default: break;
    }
  }
}

std::string FieldDefLine(const CFieldDef& field) {
  std::string line;
  auto add = [&line](const std::string& text) {
    line += text;
    line += ',';
  };
  add(field.name);
  add(field.label);
  add(std::to_string(field.type));
  add(std::to_string(field.width));
  add(std::to_string(field.decimals));
  add(field.attribute_text.find(',') != std::string::npos ? "|" + field.attribute_text + "|"
                                                          : field.attribute_text);
  add(std::to_string(field.attribute_number));
  std::string choices;
  for (const std::string& item : field.choices) choices += item + "|";
  add(choices);
  for (int value : field.layout) add(std::to_string(value));
  std::string flags = std::to_string(field.flags);
  if (!field.secondary.empty()) {
    flags += "(";
    for (const std::string& item : field.secondary) flags += item + "|";
    flags += ")";
  }
  add(flags);
  add(LengthPrefixed(field.extra1));
  add(LengthPrefixed(field.extra2));
  add(field.lookup);
  add(field.extra3);
  add(LengthPrefixed(field.extra4));
  std::string words = field.word1;
  if (!field.word2.empty()) words += " " + field.word2;
  add(words);
  return line;
}

void WriteFieldDef(std::ostream& out, const CFieldDef& field) {
  out << FieldDefLine(field) << '\n';
}

const CFieldDef* FindField(const std::vector<CFieldDef>& fields, std::string_view name) {
  for (const CFieldDef& field : fields) {
    if (field.name == name) return &field;
  }
  return nullptr;
}

}  // namespace vigilo
