// The filter box over a dialog's long lists (users, groups, fields): which
// entries stay in sight while a text is typed. Hidden entries keep their
// selection, so a filter never changes what OK stores.
#pragma once

#include <string_view>

namespace vigilo {

// Our own: the filter box's label and the accessible name of its list.
inline constexpr const char* kFilterLabel = "F&ilter:";
inline constexpr const char* kFilterPlaceholder = "Type part of a name";

// True when the entry holds the filter text, letter case ignored; an empty
// filter keeps every entry.
bool MatchesFilter(std::string_view entry, std::string_view filter);

}  // namespace vigilo
