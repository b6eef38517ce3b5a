#include "service/service_texts.h"

#include <iomanip>
#include <locale>
#include <sstream>

namespace vigilo {

std::string DateLine(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  std::ostringstream out;
  out.imbue(std::locale::classic());  // English day and month names
  out << std::put_time(&local, "%A, %B %d %Y %H:%M\r\n");
  return out.str();
}

}  // namespace vigilo
