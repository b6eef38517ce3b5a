// The text of one INI file held as lines, for reading and editing keys.
//
// IniDocument is the in-memory half of the INI profile functions
// (common/ini_profile.h): it parses the text once, answers lookups with the
// profile rules (case-insensitive names, first match wins, trimmed values) and
// edits single lines so that the text written back differs from the text read
// only in the line changed. It does no file access.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vigilo {

class IniDocument {
 public:
  enum class LineKind { kOther, kComment, kSection, kKey };

  struct Line {
    std::string text;   // the line without its line end
    std::string eol;    // "\r\n", "\n", or "" for a last line without one
    LineKind kind = LineKind::kOther;
    std::string name;   // section or key name, trimmed
    std::string value;  // key value, trimmed (quotes kept)
  };

  explicit IniDocument(std::string_view text = "");

  // Index of the first header line naming section, if any.
  std::optional<size_t> FindSection(std::string_view section) const;
  // Index one past the last line of the section whose header is at header.
  size_t SectionEnd(size_t header) const;
  // Index of the first key line named key in the section at header, if any.
  std::optional<size_t> FindKey(size_t header, std::string_view key) const;

  // The value the profile functions return for section/key: trimmed, and
  // without enclosing quotes when it starts and ends with the same quote.
  std::optional<std::string> Value(std::string_view section, std::string_view key) const;

  // Sets key in section: replaces the first matching key line, or adds one after
  // the section's last key line, or appends a new section at the end. Names and
  // value must already be checked by CheckNames.
  void Set(std::string_view section, std::string_view key, std::string_view value);
  // Removes the first matching key line; false when there was none.
  bool Remove(std::string_view section, std::string_view key);

  // Empty when section, key and value can be written; otherwise why not.
  static std::string CheckNames(std::string_view section, std::string_view key,
                                std::string_view value);
  // Removes enclosing matching quotes ("..." or '...') from a trimmed value.
  static std::string StripQuotes(std::string_view value);

  const std::vector<Line>& lines() const { return lines_; }
  std::string Text() const;

 private:
  static Line Parse(std::string text, std::string eol);
  void Insert(size_t at, std::string text);

  std::vector<Line> lines_;
  std::string eol_ = "\n";  // line end for new lines: that of the file's first line
};

}  // namespace vigilo
