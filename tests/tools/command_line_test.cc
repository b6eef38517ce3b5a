// The command line every installed program shares: -h/--help describes the
// options on standard output with status 0, --version names the release, and
// an option that lacks its argument or a missing operand is a usage error
// (status 2) that says what is missing, never "unknown argument".
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct ProgramRun {
  int status = -1;
  std::string out;  // standard output and standard error together
};

// Runs the program with the arguments (each single-quoted for the shell).
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args) {
  std::string command = "'" + program + "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  command += " 2>&1 </dev/null";
  ProgramRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.out.append(buffer.data(), n);
  int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

struct Program {
  const char* name;
  const char* path;
  // Arguments that leave an option or operand missing, with the text the
  // complaint must hold.
  std::vector<std::pair<std::vector<std::string>, std::string>> missing;
};

std::vector<Program> Programs() {
  std::vector<Program> programs;
#ifdef VIGILO_VGSERVICE_PROGRAM
  programs.push_back({"vgservice", VIGILO_VGSERVICE_PROGRAM,
                      {{{"--home"}, "--home needs a directory"}}});
#endif
#ifdef VIGILO_VGDBF_PROGRAM
  programs.push_back({"vgdbf", VIGILO_VGDBF_PROGRAM,
                      {{{}, "no command given"},
                       {{"dump"}, "dump needs a FILE"},
                       {{"dump", "x.dbf", "--filter"}, "--filter needs an xBase expression"}}});
#endif
#ifdef VIGILO_VGLOGIN_PROGRAM
  programs.push_back({"vglogin", VIGILO_VGLOGIN_PROGRAM,
                      {{{}, "no command given"},
                       {{"encode", "jsmith"}, "encode takes USER PASSWORD"},
                       {{"frobnicate"}, "unknown command 'frobnicate'"}}});
#endif
#ifdef VIGILO_VGSQL_PROGRAM
  programs.push_back({"vgsql", VIGILO_VGSQL_PROGRAM,
                      {{{}, "no CONNECTION-STRING given"},
                       {{"--dbase"}, "--dbase needs a DIR and a STATEMENT"},
                       {{"DSN=x"}, "no STATEMENT given"}}});
#endif
#ifdef VIGILO_VGRULES_PROGRAM
  programs.push_back({"vgrules", VIGILO_VGRULES_PROGRAM,
                      {{{}, "a command is needed"},
                       {{"--home"}, "--home needs a directory"},
                       {{"show"}, "show needs a rule id"},
                       {{"add", "--kind"}, "--kind needs a value"}}});
#endif
#ifdef VIGILO_VGDEMO_PROGRAM
  programs.push_back({"vgdemo", VIGILO_VGDEMO_PROGRAM,
                      {{{}, "no DIR given"}, {{"/tmp/x", "--smtp"}, "--smtp needs HOST:PORT"}}});
#endif
  return programs;
}

TEST(CommandLineTest, EveryProgramDescribesItsOptionsOnHelp) {
  for (const Program& program : Programs()) {
    for (const char* option : {"-h", "--help"}) {
      ProgramRun run = RunProgram(program.path, {option});
      EXPECT_EQ(run.status, 0) << program.name << " " << option;
      EXPECT_NE(run.out.find(program.name), std::string::npos) << program.name << ": " << run.out;
      EXPECT_NE(run.out.find("--version"), std::string::npos) << program.name << ": " << run.out;
    }
  }
}

TEST(CommandLineTest, EveryProgramNamesItsRelease) {
  for (const Program& program : Programs()) {
    ProgramRun run = RunProgram(program.path, {"--version"});
    EXPECT_EQ(run.status, 0) << program.name;
    EXPECT_EQ(run.out, std::string(program.name) + " (Vigilo) " VIGILO_VERSION_TEXT "\n");
  }
}

TEST(CommandLineTest, MissingArgumentIsAUsageErrorThatSaysWhatIsMissing) {
  for (const Program& program : Programs()) {
    for (const auto& [args, complaint] : program.missing) {
      ProgramRun run = RunProgram(program.path, args);
      EXPECT_EQ(run.status, 2) << program.name << ": " << run.out;
      EXPECT_NE(run.out.find(complaint), std::string::npos)
          << program.name << " should say \"" << complaint << "\", said: " << run.out;
    }
  }
}

TEST(CommandLineTest, ServiceHelpNamesEveryEnvironmentVariable) {
#ifdef VIGILO_VGSERVICE_PROGRAM
  ProgramRun run = RunProgram(VIGILO_VGSERVICE_PROGRAM, {"--help"});
  for (const char* variable : {"VIGILO_HOME", "VIGILO_MAPI_LIBRARY", "VIGILO_SMTP_LIBRARY",
                               "VIGILO_MAPI_INI", "VIGILO_SHORTDATE", "NOTIFY_SOCKET"}) {
    EXPECT_NE(run.out.find(variable), std::string::npos) << variable;
  }
#else
  GTEST_SKIP() << "vgservice not built";
#endif
}

}  // namespace
