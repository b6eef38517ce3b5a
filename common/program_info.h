// What every Vigilo program tells about itself: its release for --version.
//
// One place for the release text, so the daemon, the tools, the rule manager
// and the Debian package all say the same thing.
#pragma once

namespace vigilo {

// The release of the programs ("5.0.4"), set by the build from the project
// version.
const char* VigiloVersion();

// Writes "PROGRAM (Vigilo) RELEASE" and a line end to standard output.
void PrintVersion(const char* program);

}  // namespace vigilo
