// The command-line rule editor (vgrules): rules listed, shown, added,
// replaced, deleted, disabled and enabled on a server without a display.
//
// Add and Replace are the Setup Rules dialog driven by the command: the
// project's table list, the Action and Target lists, the Browse dialogs' OK
// (through CommandLineBrowsers), the completeness and width checks, the rule
// ids, the flags and the rule-table writes are the dialog's own, and so are
// its messages, which go to the error stream. Delete writes what the dialog's
// Delete writes. Disable and enable set Reserved1, which the dialogs never
// touch and the service reads: "1" keeps a rule from being loaded.
//
// The rule table is written through data/rule_table, as the rule manager
// writes it: a running service may read it meanwhile and sees the old rules
// or the new ones; it takes changes at its next start or reload.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vigilo {

inline constexpr const char* kRuleEditorProgram = "vgrules";

inline constexpr const char* kUnknownKindMessage =
    "Unknown database kind %s: 0 (dBase), 1 (SQL Server), 2 (Oracle) or 3 (Sybase)!";
inline constexpr const char* kDbaseDataSourceMessage =
    "The data source of a dBase project is SERVERDIR, not %s!";
inline constexpr const char* kNoDataSourceMessage = "A kind %ld project needs --dsn!";
inline constexpr const char* kUnknownDataSourceMessage = "Unknown data source %s!";
inline constexpr const char* kNoProjectMessage = "%s names no project: give PROJECT\\TABLE!";
inline constexpr const char* kUnknownTableMessage = "%s is not a table of project %s!";
inline constexpr const char* kUnknownActionMessage = "Unknown action %s: Notify or Update!";
inline constexpr const char* kUnknownTargetMessage = "%s is not a target of %s rules!";
inline constexpr const char* kRunAlwaysRefusedMessage =
    "Run Always cannot be set for a Query Builder condition of a dBase project!";
inline constexpr const char* kUnknownRuleMessage = "No rule has the id %ld!";
inline constexpr const char* kOtherTableMessage =
    "Rule %ld belongs to %s: replace keeps a rule in its table!";
inline constexpr const char* kNotListedMessage = "Rule %ld is not listed for %s!";

struct RuleEditorCommand {
  enum class Verb { kList, kShow, kAdd, kReplace, kDelete, kDisable, kEnable };
  Verb verb = Verb::kList;
  long rule_id = 0;  // show, replace, delete, disable, enable
  std::optional<std::string> kind;
  std::optional<std::string> dsn;
  std::optional<std::string> table;  // PROJECT\TABLE; list: the table to list
  std::optional<std::string> action;
  std::optional<std::string> target;
  std::optional<std::string> values;
  std::optional<std::string> condition;
  std::optional<bool> run_always;  // --run-always / --no-run-always
};

// The command of the words after the program name (and after --home, which
// the program takes itself). std::nullopt on wrong usage, with *error saying
// what is wrong.
std::optional<RuleEditorCommand> ParseRuleEditorCommand(const std::vector<std::string>& args,
                                                        std::string* error);

// Runs the command on the installation of the program directory (as the
// rule service finds it). Returns the exit status: 0 done, 1 refused or
// failed (the messages are on err). What a command did goes to out.
int RunRuleEditor(const RuleEditorCommand& command, std::ostream& out, std::ostream& err);

// A text on one line of the listing: tab, carriage return and line feed
// written as \t, \r and \n.
std::string ListingText(const std::string& text);

}  // namespace vigilo
