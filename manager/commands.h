// The commands of the rule manager's main window: their identifiers, menu
// texts, status-bar prompts and tool tips, and when each is enabled.
//
// The main window builds one action per command from this table, so the texts
// and enable rules live in one place that tests can read without a display.
#pragma once

#include <span>
#include <string_view>

namespace vigilo {

enum CommandId : int {
  kSetupRulesCommand = 32771,
  kStartServerCommand = 32779,
  kStopServerCommand = 32780,
  kViewRulesCommand = 32781,
  kHelpContentsCommand = 32784,
  kOptionsCommand = 32787,
  kPrintCommand = 57607,
  kPrintDirectCommand = 57608,
  kPrintPreviewCommand = 57609,
  kAboutCommand = 57664,
  kExitCommand = 57665,
};

struct CommandText {
  int id;
  std::string_view menu_text;      // with its "&" mnemonic
  std::string_view status_prompt;  // shown in the status bar while pointed at
  std::string_view tool_tip;       // shown over a toolbar button; may be empty
};

// Every command of the main window, in no particular order.
std::span<const CommandText> MainCommands();
// The entry of a command; null for an unknown id.
const CommandText* FindCommand(int id);

// Toolbar buttons, left to right.
inline constexpr int kToolbarCommands[] = {kSetupRulesCommand, kViewRulesCommand,
                                           kHelpContentsCommand};

// Whether a command can be chosen: Setup Rules and Start Vigilo Server only
// while the in-process server is stopped, Stop Vigilo Server only while it
// runs; every other command always.
bool CommandEnabled(int id, bool server_running);

// The keys of the commands that have one, as a desktop user expects them;
// empty for the others. F1 opens the help of whichever window is active.
std::string_view CommandShortcut(int id);

inline constexpr const char* kIdleStatusText = "Ready";
// The status bar: the message pane, and after it the pane the in-process
// server writes its state into, empty until it first starts or stops. (The
// keyboard lock panes are gone: they never followed the keys.)
inline constexpr const char* kStatusPaneName = "Status";
inline constexpr const char* kServerPaneName = "Server state";

// About box.
inline constexpr const char* kAboutTitle = "About Morvane Vigilo";
inline constexpr const char* kAboutVersion = "Morvane Vigilo Version 5.0-4";


}  // namespace vigilo
