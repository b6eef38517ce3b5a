#include "data/name_lists.h"

namespace vigilo {

std::vector<std::string>& UserNameList() {
  static std::vector<std::string> names;
  return names;
}

std::vector<std::string>& GroupNameList() {
  static std::vector<std::string> names;
  return names;
}

}  // namespace vigilo
