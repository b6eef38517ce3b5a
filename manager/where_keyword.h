// The Where Condition dialog of text and every other field: keywords the
// field must hold, any of them ("Or keywords") or all of them ("And
// keywords"), each matched anywhere in the text when Wildcard Search wraps it
// in "*".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/condition.h"
#include "manager/prompts.h"
#include "manager/where_condition.h"

namespace vigilo {

inline constexpr const char* kKeywordLabel = "&Keyword:";
inline constexpr const char* kAddKeywordButton = "A&dd ->";
inline constexpr const char* kKeywordsLabel = "List of Keyword&s:";
inline constexpr const char* kRemoveKeywordButton = "Remove";
inline constexpr const char* kWildcardCheck = "&Wildcard Search";
inline constexpr const char* kSearchOptionLabel = "Search option:";
inline constexpr const char* kNoneKeywordsOption = "{none}";
inline constexpr const char* kOrKeywordsOption = "O&r keywords";
inline constexpr const char* kAndKeywordsOption = "&And keywords";
inline constexpr int kKeywordHelpTopic = 626;
inline constexpr int kKeywordLimit = 32;
// The characters that would break the value text or its translation.
inline constexpr std::string_view kForbiddenKeywordCharacters = ",&\"'*!";
inline constexpr const char* kInvalidCharacterMessage = "Invalid character entered!";

class KeywordCondLogic {
 public:
  KeywordCondLogic(const Clause& clause, std::string caption, Prompts& prompts);

  const std::string& Label() const { return caption_; }
  // In alphabetical order (letter case ignored).
  const std::vector<std::string>& Keywords() const { return keywords_; }
  bool wildcard() const { return wildcard_; }
  SearchOption option() const { return option_; }
  void SetWildcard(bool on) { wildcard_ = on; }
  void SetOption(SearchOption option);

  // Add ->: beep for an empty keyword, the invalid-character message for one
  // holding a forbidden character; otherwise its row in the list (to be
  // selected). Adding while "{none}" is chosen chooses "Or keywords" and
  // Wildcard Search.
  std::optional<size_t> Add(std::string_view keyword);
  // Remove: the selected keyword; beep without one.
  void Remove(std::optional<size_t> row);

  // Ok: the value text; std::nullopt (beep) for an empty list.
  std::optional<std::string> Ok();

 private:
  std::string caption_;
  std::vector<std::string> keywords_;
  bool wildcard_ = false;
  SearchOption option_;
  Prompts& prompts_;
};

}  // namespace vigilo
