#include "data/log_file_rotation.h"

#include <cerrno>

#include "common/file_system.h"

namespace vigilo {

bool ShiftLogGenerations(const std::string& path, int keep) {
  if (keep <= 0) return true;
  for (int generation = keep - 1; generation >= 1; --generation) {
    const std::string older = path + "." + std::to_string(generation);
    // A gap in the generations is no failure: it only means fewer runs so far.
    Files().Rename(older, path + "." + std::to_string(generation + 1));
  }
  if (Files().Rename(path, path + ".1") == 0) return true;
  return errno == ENOENT;
}

}  // namespace vigilo
