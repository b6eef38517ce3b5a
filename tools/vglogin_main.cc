// vglogin: writes and checks the database login information that morvik.ini
// holds for each database server (user name and encoded password), so an
// administrator can set up a client-server project without the product's
// setup program.
//
//   vglogin encode USER PASSWORD
//       prints the login value ("6 jsmith 8 <encoded>")
//   vglogin write INI KIND SERVER USER PASSWORD
//       stores the value as key SERVER in the section of database kind KIND
//       (1 Microsoft SQL Server, 2 Oracle, 3 Sybase) of the INI file
//   vglogin decode VALUE
//       prints the user name and the password of a login value, one a line
//   vglogin show INI KIND SERVER
//       prints the user name and password stored for a server
//
// A PASSWORD of "-" is read as one line from standard input, so it need not
// appear in the process list. Exit status: 0 on success, 1 when a value
// cannot be stored, read or decoded, 2 on a usage error.
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "common/ini_profile.h"
#include "common/program_info.h"
#include "common/text.h"
#include "data/database_kind.h"
#include "data/login_info.h"

namespace {

using namespace vigilo;

constexpr const char* kUsage =
    "usage: vglogin encode USER PASSWORD\n"
    "       vglogin write INI KIND SERVER USER PASSWORD\n"
    "       vglogin decode VALUE\n"
    "       vglogin show INI KIND SERVER\n"
    "       vglogin -h|--help | --version\n"
    "encode  prints the login value for USER and PASSWORD\n"
    "write   stores it as key SERVER in the section of KIND of INI (morvik.ini)\n"
    "decode  prints the user name and password of a login value\n"
    "show    prints the user name and password stored for SERVER in INI\n"
    "KIND is 1 (Microsoft SQL Server), 2 (Oracle) or 3 (Sybase); a PASSWORD of \"-\"\n"
    "is read from standard input. User name and password take at most 31\n"
    "printable ASCII characters each.\n"
    "Exit status: 0 done, 1 a value cannot be stored, read or decoded, 2 wrong usage.\n";

int Usage(const std::string& problem) {
  std::cerr << "vglogin: " << problem << "\n" << kUsage;
  return 2;
}

int Fail(const std::string& problem) {
  std::cerr << "vglogin: " << problem << "\n";
  return 1;
}

std::string PasswordArgument(const std::string& argument) {
  if (argument != "-") return argument;
  std::string line;
  ReadLine(std::cin, line);
  return line;
}

std::optional<std::string> SectionOf(const std::string& kind_text) {
  long kind = LeadingNumber(kind_text);
  if (kind_text != std::to_string(kind) || !IsServerKind(kind)) return std::nullopt;
  return std::string(LoginSectionName(kind));
}

int PrintLogin(const std::optional<LoginInfo>& login) {
  if (!login) return Fail("the login value cannot be read or decoded");
  std::cout << login->user << "\n" << login->password << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage("no command given");
  const std::string& command = args[0];
  if (command == "-h" || command == "--help") {
    std::cout << kUsage;
    return 0;
  }
  if (command == "--version") {
    PrintVersion("vglogin");
    return 0;
  }
  static const std::vector<std::pair<std::string, std::string>> kArguments = {
      {"encode", "USER PASSWORD"}, {"write", "INI KIND SERVER USER PASSWORD"},
      {"decode", "VALUE"}, {"show", "INI KIND SERVER"}};

  if (command == "encode" && args.size() == 3) {
    std::optional<std::string> value = FormatLoginValue(args[1], PasswordArgument(args[2]));
    if (!value) return Fail("user name or password too long or not printable ASCII");
    std::cout << *value << "\n";
    return 0;
  }
  if (command == "write" && args.size() == 6) {
    std::optional<std::string> section = SectionOf(args[2]);
    if (!section) return Usage("KIND must be 1, 2 or 3");
    if (args[3].empty()) return Usage("SERVER must not be empty");
    std::optional<std::string> value = FormatLoginValue(args[4], PasswordArgument(args[5]));
    if (!value) return Fail("user name or password too long or not printable ASCII");
    std::string error;
    if (!WriteProfileString(args[1], *section, args[3], *value, &error)) {
      return Fail("cannot write " + args[1] + ": " + error);
    }
    return 0;
  }
  if (command == "decode" && args.size() == 2) return PrintLogin(ParseLoginValue(args[1]));
  if (command == "show" && args.size() == 4) {
    std::optional<std::string> section = SectionOf(args[2]);
    if (!section) return Usage("KIND must be 1, 2 or 3");
    std::string value = GetProfileString(args[1], *section, args[3], "");
    if (value.empty()) return Fail("no login information for " + args[3] + " in " + args[1]);
    return PrintLogin(ParseLoginValue(value));
  }
  for (const auto& [name, arguments] : kArguments) {
    if (command == name) return Usage(name + " takes " + arguments);
  }
  return Usage("unknown command '" + command + "'");
}
