#include "common/program_info.h"

#include <cstdio>

namespace vigilo {

const char* VigiloVersion() { return VIGILO_VERSION; }

void PrintVersion(const char* program) {
  std::printf("%s (Vigilo) %s\n", program, VIGILO_VERSION);
}

}  // namespace vigilo
