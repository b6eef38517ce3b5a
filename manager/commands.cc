#include "manager/commands.h"

#include <array>

namespace vigilo {
namespace {

constexpr std::array<CommandText, 10> kCommands = {{
    {kSetupRulesCommand, "&Setup Rules...", "Setup Rules", "Setup Rules"},
    {kViewRulesCommand, "&View Rules...", "View Rules", "View Rules"},
    {kPrintCommand, "&Print...", "Print every rule in short form", "Print"},
    {kPrintPreviewCommand, "Print Previe&w", "Show every rule in short form as it will print", ""},
    {kOptionsCommand, "&Options...", "Set how often the rules fire", ""},
    {kExitCommand, "E&xit", "Quit Vigilo", "Exit"},
    {kHelpContentsCommand, "&Contents...", "Display Help Contents", "Help"},
    {kAboutCommand, "&About Vigilo...", "Display the program's version", "About"},
    {kStartServerCommand, "S&tart Vigilo Server", "Start Vigilo Server.", "Start Vigilo Server"},
    {kStopServerCommand, "St&op Vigilo Server", "Stop Vigilo Server.", "Stop Vigilo Server"},
}};

}  // namespace

std::span<const CommandText> MainCommands() { return kCommands; }

const CommandText* FindCommand(int id) {
  for (const CommandText& command : kCommands) {
    if (command.id == id) return &command;
  }
  return nullptr;
}

std::string_view CommandShortcut(int id) {
  switch (id) {
    case kPrintCommand: return "Ctrl+P";
    case kExitCommand: return "Ctrl+Q";
    default: return "";
  }
}

bool CommandEnabled(int id, bool server_running) {
  switch (id) {
    case kSetupRulesCommand:
    case kStartServerCommand:
      return !server_running;
    case kStopServerCommand:
      return server_running;
    default:
      return true;
  }
}

}  // namespace vigilo
