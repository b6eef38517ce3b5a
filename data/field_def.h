// CFieldDef: one field of a project table as the table INI file defines it in
// a "Field" line: name, label, type, width, choice list and the members the
// defect-management product keeps for its own forms.
//
// The field type drives condition and value translation and the message text
// of notifications: 0 text, 1/7/11 numeric (11 holds seconds since 1970),
// 3 date, 4 memo, 5 list, 9 user, 12 date-time. A CFieldDef is a plain value;
// the table's field list owns its definitions.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace vigilo {

class CFieldDef {
 public:
  // Field types the system interprets.
  static constexpr int kText = 0;
  static constexpr int kNumber = 1;
  static constexpr int kFloat = 2;
  static constexpr int kDate = 3;
  static constexpr int kMemo = 4;
  static constexpr int kList = 5;
  static constexpr int kNumber7 = 7;
  static constexpr int kUser = 9;
  static constexpr int kSeconds = 11;
  static constexpr int kDateTime = 12;
  // Left out of report columns and of the rule manager's field lists.
  static constexpr int kHiddenType = 13;

  // Flag bits: the change history records the field's changes; update rules
  // leave the field alone.
  static constexpr int kHistoryFlag = 0x200;
  static constexpr int kNoUpdateFlag = 0x2000;
  // The bits that choose how a date-time value is shown: date, time or both.
  static constexpr int kDateTimeShownMask = 0x1800;
  static constexpr int kShowDate = 0x800;
  static constexpr int kShowTime = 0x1000;

  // With no line: name "NoName" and the label equal to the name. With a line
  // (the text after the first "=" of a "Field" line): the members it holds;
  // missing or empty fields keep their defaults.
  explicit CFieldDef(int sequence, std::optional<std::string_view> line = std::nullopt);

  bool IsNumeric() const { return type == kNumber || type == kNumber7 || type == kSeconds; }
  bool IsMemo() const { return type == kMemo; }
  bool HasHistoryFlag() const { return (flags & kHistoryFlag) != 0; }

  int sequence = 0;                    // position of the "Field" line, from 1
  std::string name = "NoName";         // field 1
  std::string label;                   // field 2
  int type = 0;                        // field 3
  uint32_t width = 64;                 // field 4
  int decimals = 0;                    // field 5
  std::string attribute_text;          // field 6, "|...|" when it holds a comma
  int attribute_number = 0;            // field 7
  std::vector<std::string> choices;    // field 8, each item followed by "|"
  int layout[4] = {100, 100, 100, 24};  // fields 9 to 12
  int flags = 1;                       // field 13, number part
  std::vector<std::string> secondary;  // field 13, "(" items each with "|" ")"
  std::string extra1;                  // field 14, length-prefixed
  std::string extra2;                  // field 15, length-prefixed
  std::string lookup;                  // field 16
  std::string extra3;                  // field 17
  std::string extra4;                  // field 18, length-prefixed
  std::string word1;                   // field 19, first word (at most 15 chars)
  std::string word2;                   // field 19, second word (at most 15 chars)

 private:
  void Parse(std::string_view line);
};

// The definition line of a field (the text after "="): 19 fields, each
// followed by a comma, in the form the parser reads back.
std::string FieldDefLine(const CFieldDef& field);

// Writes FieldDefLine and a line end to the stream.
void WriteFieldDef(std::ostream& out, const CFieldDef& field);

// The field of a list whose name equals name exactly (letter case counts), or
// nullptr.
const CFieldDef* FindField(const std::vector<CFieldDef>& fields, std::string_view name);

}  // namespace vigilo
