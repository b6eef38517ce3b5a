#include "manager/list_filter.h"

#include "common/text.h"

namespace vigilo {

bool MatchesFilter(std::string_view entry, std::string_view filter) {
  return ToLower(entry).find(ToLower(filter)) != std::string::npos;
}

}  // namespace vigilo
