#include "common/format.h"

#include <cstdio>

namespace vigilo {

std::string FormatV(const char* fmt, va_list args) {
  char stack_buffer[512];
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(stack_buffer, sizeof stack_buffer, fmt, copy);
  va_end(copy);
  if (needed < 0) return std::string();
  if (static_cast<size_t>(needed) < sizeof stack_buffer) {
    return std::string(stack_buffer, static_cast<size_t>(needed));
  }
  std::string result(static_cast<size_t>(needed), '\0');
  std::vsnprintf(result.data(), result.size() + 1, fmt, args);
  return result;
}

std::string Format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string result = FormatV(fmt, args);
  va_end(args);
  return result;
}

}  // namespace vigilo
