// The rule service's fixed run-log texts shared by the host and the engine.
#pragma once

#include <ctime>
#include <string>

namespace vigilo {

// Written by the host at start and by the engine at initialisation; the
// writers add "\r\n", so an empty line follows.
inline constexpr const char kVersionLine[] = "Vigilo Service Version 5.0-4 Build (100)\r\n";
inline constexpr const char kStartLine[] = "Starting Vigilo Service....";
inline constexpr const char kServiceName[] = "Vigilo Service";

// The local time as "%A, %B %d %Y %H:%M\r\n" (English day and month names).
std::string DateLine(std::time_t when);

}  // namespace vigilo
