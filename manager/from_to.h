// The FromTo dialog: a change clause's value, the field's value before and
// after the change joined by "->".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/field_def.h"
#include "manager/prompts.h"

namespace vigilo {

inline constexpr const char* kFromToTitle = "FromTo Dialog";
inline constexpr const char* kFromToLabel = "Specify the from and to value of %s";
inline constexpr const char* kChangeArrow = "->";

// The choices of a field as lists show them: each cut before "($Group$".
std::vector<std::string> ChoiceEntries(const CFieldDef* field);

class FromToLogic {
 public:
  FromToLogic(const CFieldDef* field, std::string field_label, std::string_view current,
              Prompts& prompts);

  std::string Label() const;
  const std::vector<std::string>& Entries() const { return entries_; }
  // The rows an existing "from->to" text preselects.
  std::optional<size_t> InitialFrom() const { return from_; }
  std::optional<size_t> InitialTo() const { return to_; }

  // Ok: both values are needed (else beep).
  std::optional<std::string> Ok(std::string_view from, std::string_view to);

 private:
  std::string field_label_;
  std::vector<std::string> entries_;
  std::optional<size_t> from_;
  std::optional<size_t> to_;
  Prompts& prompts_;
};

}  // namespace vigilo
