// The Select Query Type dialog: whether a new rule condition is composed in
// the Query Builder or written as a free SQL query.
#pragma once

namespace vigilo {

inline constexpr const char* kQueryTypeTitle = "Select Query Type";
inline constexpr const char* kQueryTypePrompt = "Select the type of Query :";
inline constexpr const char* kVisualQueryBuilderOption = "&Visual Query Builder";
inline constexpr const char* kSqlQueryOption = "&SQL Query";

}  // namespace vigilo
