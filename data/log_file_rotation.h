// Generations of the run log file: vglog.ini, vglog.ini.1, vglog.ini.2, ...
//
// The service keeps the previous run's log when a start recreates the file,
// and starts a new file when the current one has grown past its limit; both
// move the existing generations one step down and drop the oldest.
#pragma once

#include <string>

namespace vigilo {

// Moves path.(keep-1) to path.keep, ..., path.1 to path.2 and path to path.1;
// what was path.keep is replaced. A missing generation is skipped. With keep
// 0 nothing moves. Returns false when path exists and could not be moved (it
// then stays where it is).
bool ShiftLogGenerations(const std::string& path, int keep);

}  // namespace vigilo
