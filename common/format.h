// Printf-style formatting into std::string.
//
// The system's messages, log lines and SQL templates are printf templates; this
// helper fills them without fixed buffers, so a template in the code reads the
// same as the behaviour it implements. Note that on Linux "%ld" takes a long:
// callers pass 32-bit values through static_cast<long>.
#pragma once

#include <cstdarg>
#include <string>

namespace vigilo {

// Returns the template filled with the arguments; never truncates.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The va_list form, for wrappers that take their own arguments.
std::string FormatV(const char* fmt, va_list args);

}  // namespace vigilo
