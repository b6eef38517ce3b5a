// Helpers of the xBase tests: running the command-line tools that check the
// files the library writes. Scratch directories and whole-file reads and
// writes come from the shared kit (tests/support/temp_dir.h).
#pragma once

#include <stdlib.h>

#include <string>

#include "tests/support/temp_dir.h"

namespace vigilo::xbase_test {

// Runs a shell command and returns its standard output; status gets the
// exit status.
inline std::string RunCommand(const std::string& command, int* status = nullptr) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
  int rc = pclose(pipe);
  if (status != nullptr) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return output;
}

inline bool HaveProgram(const std::string& name) {
  int status = 0;
  RunCommand("command -v " + name + " >/dev/null 2>&1", &status);
  return status == 0;
}

}  // namespace vigilo::xbase_test
