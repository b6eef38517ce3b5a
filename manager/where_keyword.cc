#include "manager/where_keyword.h"

#include <algorithm>

#include "common/text.h"

namespace vigilo {
namespace {

bool Before(const std::string& a, const std::string& b) {
  std::string la = ToLower(a);
  std::string lb = ToLower(b);
  return la != lb ? la < lb : a < b;
}

}  // namespace

KeywordCondLogic::KeywordCondLogic(const Clause& clause, std::string caption, Prompts& prompts)
    : caption_(std::move(caption)), option_(SearchOptionOf(clause.values)), prompts_(prompts) {
  const std::string& value = clause.values;
  if (option_ == SearchOption::kNone || value.empty()) return;
  char join = value.find('&') != std::string::npos ? '&' : ',';
  for (std::string keyword : SplitNonEmpty(value, join)) {
    if (keyword.front() == '*') keyword.erase(0, 1);
    if (!keyword.empty() && keyword.back() == '*') keyword.pop_back();
    if (!keyword.empty()) keywords_.push_back(std::move(keyword));
  }
  std::stable_sort(keywords_.begin(), keywords_.end(), Before);
  wildcard_ = value.find('*') != std::string::npos;
}

void KeywordCondLogic::SetOption(SearchOption option) {
  option_ = option;
  if (option == SearchOption::kNone) {
    keywords_.clear();
    wildcard_ = false;
  }
}

std::optional<size_t> KeywordCondLogic::Add(std::string_view keyword) {
  std::string text(keyword.substr(0, kKeywordLimit));
  if (text.empty()) {
    prompts_.Beep();
    return std::nullopt;
  }
  if (text.find_first_of(kForbiddenKeywordCharacters) != std::string::npos) {
    prompts_.Message(kInvalidCharacterMessage);
    return std::nullopt;
  }
  auto at = std::upper_bound(keywords_.begin(), keywords_.end(), text, Before);
  size_t row = static_cast<size_t>(at - keywords_.begin());
  keywords_.insert(at, text);
  if (option_ == SearchOption::kNone) {
    option_ = SearchOption::kOr;
    wildcard_ = true;
  }
  return row;
}

void KeywordCondLogic::Remove(std::optional<size_t> row) {
  if (!row || *row >= keywords_.size()) {
    prompts_.Beep();
    return;
  }
  keywords_.erase(keywords_.begin() + static_cast<std::ptrdiff_t>(*row));
}

std::optional<std::string> KeywordCondLogic::Ok() {
  if (option_ == SearchOption::kNone) return std::string(kEmptyValue);
  if (keywords_.empty()) {
    prompts_.Beep();
    return std::nullopt;
  }
  std::string value;
  for (const std::string& keyword : keywords_) {
    if (!value.empty()) value += option_ == SearchOption::kAnd ? '&' : ',';
    value += wildcard_ ? "*" + keyword + "*" : keyword;
  }
  return value;
}

}  // namespace vigilo
