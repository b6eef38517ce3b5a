#include "manager/rule_editor.h"

#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>

#include "common/file_system.h"
#include "common/format.h"
#include "common/ini_profile.h"
#include "common/text.h"
#include "data/database_kind.h"
#include "data/server_paths.h"
#include "manager/open_project.h"
#include "manager/project_selection.h"
#include "manager/rule_editor_browsers.h"
#include "data/rule_table.h"
#include "manager/setup_rules.h"
#include "notify/orvik_tables.h"

namespace vigilo {
namespace {

using Verb = RuleEditorCommand::Verb;

bool IsRuleId(const std::string& text) {
  return !text.empty() && text.size() <= 9 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The rule-composing options and where each goes.
using TextOption = std::optional<std::string> RuleEditorCommand::*;
const std::map<std::string, TextOption>& TextOptions() {
  static const std::map<std::string, TextOption> options = {
      {"--kind", &RuleEditorCommand::kind},       {"--dsn", &RuleEditorCommand::dsn},
      {"--table", &RuleEditorCommand::table},     {"--action", &RuleEditorCommand::action},
      {"--target", &RuleEditorCommand::target},   {"--values", &RuleEditorCommand::values},
      {"--cond", &RuleEditorCommand::condition},
  };
  return options;
}

bool HasProject(const std::string& table) {
  size_t slash = table.find('\\');
  return slash != std::string::npos && slash > 0;
}

std::string ProjectOf(const std::string& table) { return table.substr(0, table.find('\\')); }

// A Project Table entry that a given PROJECT\TABLE names: the entry itself,
// letter case ignored, or an entry without its project (the client-server
// tables the dialog lists by their data file name) after the project.
bool NamesEntry(const std::string& given, const std::string& entry, const std::string& project) {
  if (EqualsNoCase(given, entry)) return true;
  return entry.find('\\') == std::string::npos && EqualsNoCase(given, project + "\\" + entry);
}

// The project name as the Open Project dialog would give it: a dBase
// project's name as morvik.ini spells it (the name of its project file), any
// other as given.
std::string ProjectName(const CServerPaths& paths, long kind, const std::string& given) {
  if (kind != kDbaseKind) return given;
  for (const std::string& key : GetProfileKeys(paths.orvik_ini_path, "Orvik Dsn")) {
    if (EqualsNoCase(key, given)) return key;
  }
  return given;
}

// The Setup Rules dialog of one installation, opened on one project table.
class Session {
 public:
  Session(std::ostream& out, std::ostream& err)
      : out_(out), prompts_(err, kRuleEditorProgram), paths_(CServerPaths::Program::kManager) {}

  StreamPrompts& prompts() { return prompts_; }
  const CServerPaths& paths() const { return paths_; }
  std::ostream& out() { return out_; }

  int Refuse(const std::string& message) {
    prompts_.Message(message, PromptIcon::kWarning);
    return 1;
  }

  // Opens the dialog for the project of table and selects the entry that
  // names it. False after the message that says why not.
  bool Open(ProjectSelection selection, const std::string& table, GivenRuleTexts given) {
    if (!HasProject(table)) {
      Refuse(Format(kNoProjectMessage, table.c_str()));
      return false;
    }
    selection_ = std::move(selection);
    selection_.project = ProjectName(paths_, selection_.Kind(), ProjectOf(table));
    // The dialogs offer the users' and groups' names as read at the rule
    // manager's start.
    FillProcessNameLists(paths_.server_dir, prompts_.AsMessageReporter());
    browsers_ = std::make_unique<CommandLineBrowsers>(paths_, prompts_, std::move(given));
    logic_ = std::make_unique<SetupRulesLogic>(paths_, selection_, prompts_, *browsers_);
    logic_->Open();
    const std::vector<std::string>& tables = logic_->state().tables;
    if (tables.empty()) return false;  // the project INI could not be opened
    for (size_t i = 0; i < tables.size(); ++i) {
      if (!NamesEntry(table, tables[i], selection_.project)) continue;
      if (static_cast<int>(i) != logic_->state().table_index) {
        logic_->TableChanged(static_cast<int>(i));
      }
      return true;
    }
    Refuse(Format(kUnknownTableMessage, table.c_str(), selection_.project.c_str()));
    return false;
  }

  SetupRulesLogic& logic() { return *logic_; }

  // Action, Target, Values, Rule Condition and Run Always as the command
  // gives them, each through the dialog's own gesture. False after a
  // refusal's message.
  bool Compose(const RuleEditorCommand& command) {
    SetupRulesLogic& logic = *logic_;
    if (command.action) {
      int index = FindIndex(logic.state().actions, *command.action);
      if (index < 0) {
        Refuse(Format(kUnknownActionMessage, command.action->c_str()));
        return false;
      }
      if (index != logic.state().action_index) logic.ActionChanged(index);
    }
    if (command.target) {
      int index = FindIndex(logic.state().targets, *command.target);
      if (index < 0) {
        Refuse(Format(kUnknownTargetMessage, command.target->c_str(),
                      logic.state().Action().c_str()));
        return false;
      }
      if (index != logic.state().target_index) logic.TargetChanged(index);
    }
    if (command.values) {
      logic.BrowseValues();
      if (browsers_->refused()) return false;
    }
    if (command.condition) {
      // Browse on an empty condition chooses the dialog by the new text and
      // sets Run Always's availability for it.
      logic.set_condition("");
      logic.BrowseCondition();
      if (browsers_->refused()) return false;
    }
    if (command.run_always && !logic.SetRunAlways(*command.run_always) && *command.run_always) {
      Refuse(kRunAlwaysRefusedMessage);
      return false;
    }
    return true;
  }

 private:
  static int FindIndex(const std::vector<std::string>& list, const std::string& text) {
    for (size_t i = 0; i < list.size(); ++i) {
      if (EqualsNoCase(list[i], text)) return static_cast<int>(i);
    }
    return -1;
  }

  std::ostream& out_;
  StreamPrompts prompts_;
  CServerPaths paths_;
  ProjectSelection selection_;
  std::unique_ptr<CommandLineBrowsers> browsers_;
  std::unique_ptr<SetupRulesLogic> logic_;
};

// The project selection of a new rule: kind and data source as the Open
// Project dialog would fill them. std::nullopt after the message.
std::optional<ProjectSelection> NewRuleSelection(Session& session,
                                                 const RuleEditorCommand& command) {
  const std::string kind = command.kind.value_or("");
  if (kind.size() != 1 || kind[0] < '0' || kind[0] > '3') {
    session.Refuse(Format(kUnknownKindMessage, kind.c_str()));
    return std::nullopt;
  }
  ProjectSelection selection;
  selection.kind = kind;
  if (selection.Kind() == kDbaseKind) {
    if (command.dsn && !EqualsNoCase(*command.dsn, kServerDirSource)) {
      session.Refuse(Format(kDbaseDataSourceMessage, command.dsn->c_str()));
      return std::nullopt;
    }
    selection.dsn = kServerDirSource;
    return selection;
  }
  if (!command.dsn || command.dsn->empty()) {
    session.Refuse(Format(kNoDataSourceMessage, selection.Kind()));
    return std::nullopt;
  }
  for (const std::string& source : MachineDataSources()) {
    if (EqualsNoCase(source, *command.dsn)) {
      selection.dsn = source;
      return selection;
    }
  }
  session.Refuse(Format(kUnknownDataSourceMessage, command.dsn->c_str()));
  return std::nullopt;
}

int Add(Session& session, const RuleEditorCommand& command) {
  std::optional<ProjectSelection> selection = NewRuleSelection(session, command);
  if (!selection) return 1;
  if (!session.Open(*selection, command.table.value_or(""),
                    {command.values.value_or(""), command.condition.value_or("")})) {
    return 1;
  }
  SetupRulesLogic& logic = session.logic();
  logic.New();
  if (!session.Compose(command) || !logic.Add()) return 1;
  session.out() << "Rule " << logic.list().row(logic.list().size() - 1).rule_id << " added\n";
  return 0;
}

// The records to list or show; std::nullopt after the message when the rule
// table exists but cannot be read, with the reason.
std::optional<std::vector<RuleRecord>> ReadForShowing(Session& session,
                                                      const std::string& filter = "") {
  const std::string& path = session.paths().rule_table_path;
  std::vector<RuleRecord> records;
  RuleTableStatus status = ReadRuleTable(path, &records, filter);
  if (status.ok() || status.code == RuleTableStatus::Code::kMissing) return records;
  session.Refuse(Format(kUnableToOpenFileMessage, path.c_str()) + "\n" + status.message);
  return std::nullopt;
}

// The first record of the rule id into *found; else the exit status of the
// refusal (no such rule, or a table that cannot be read).
int FindRule(Session& session, long rule_id, std::optional<RuleRecord>* found) {
  std::optional<std::vector<RuleRecord>> records = ReadForShowing(session, RuleIdFilter(rule_id));
  if (!records) return 1;
  if (records->empty()) return session.Refuse(Format(kUnknownRuleMessage, rule_id));
  *found = std::move(records->front());
  return 0;
}

int RefuseWrite(Session& session, const RuleTableStatus& status) {
  return session.Refuse(
      Format(kUnableToOpenFileMessage, session.paths().rule_table_path.c_str()) + "\n" +
      status.message);
}

int Replace(Session& session, const RuleEditorCommand& command) {
  std::optional<RuleRecord> stored;
  if (int status = FindRule(session, command.rule_id, &stored); status != 0) return status;
  const RuleRecord* record = &*stored;
  // The rule stays where it is; its table may be named again, and must be
  // named in full when the stored text lacks the project.
  const bool other_kind = command.kind && *command.kind != Format("%d", record->db_type);
  const bool other_dsn = command.dsn && !EqualsNoCase(*command.dsn, record->dsn);
  const bool other_table =
      command.table && !NamesEntry(*command.table, record->db_table, ProjectOf(*command.table));
  if (other_kind || other_dsn || other_table) {
    return session.Refuse(Format(kOtherTableMessage, command.rule_id, record->db_table.c_str()));
  }
  ProjectSelection selection;
  selection.kind = Format("%d", record->db_type);
  selection.dsn = record->dsn;
  const std::string table = command.table.value_or(record->db_table);
  if (!session.Open(selection, table,
                    {command.values.value_or(""), command.condition.value_or("")})) {
    return 1;
  }
  SetupRulesLogic& logic = session.logic();
  int item = -1;
  for (size_t i = 0; i < logic.list().size(); ++i) {
    if (logic.list().row(i).rule_id == command.rule_id) item = static_cast<int>(i);
  }
  if (item < 0) {
    return session.Refuse(Format(kNotListedMessage, command.rule_id, logic.state().Table().c_str()));
  }
  logic.Edit(item);
  if (!session.Compose(command) || !logic.Replace(item)) return 1;
  session.out() << "Rule " << command.rule_id << " replaced\n";
  return 0;
}

int Delete(Session& session, const RuleEditorCommand& command) {
  std::optional<RuleRecord> stored;
  if (int status = FindRule(session, command.rule_id, &stored); status != 0) return status;
  const std::string& path = session.paths().rule_table_path;
  if (RuleTableStatus status = DeleteRule(path, command.rule_id); !status.ok()) {
    return RefuseWrite(session, status);
  }
  session.out() << "Rule " << command.rule_id << " deleted\n";
  return 0;
}

int SetDisabled(Session& session, const RuleEditorCommand& command, bool disabled) {
  std::optional<RuleRecord> stored;
  if (int status = FindRule(session, command.rule_id, &stored); status != 0) return status;
  const std::string& path = session.paths().rule_table_path;
  if (RuleTableStatus status = SetRuleDisabled(path, command.rule_id, disabled); !status.ok()) {
    return RefuseWrite(session, status);
  }
  session.out() << "Rule " << command.rule_id << (disabled ? " disabled\n" : " enabled\n");
  return 0;
}

std::string FlagText(long flag) {
  std::string text = Format("%ld", flag);
  if (flag & kRuleFlagSqlCondition) text += " (SQL query)";
  if (flag & kRuleFlagRunAlways) text += " (run always)";
  return text;
}

int List(Session& session, const RuleEditorCommand& command) {
  std::optional<std::vector<RuleRecord>> records = ReadForShowing(session);
  if (!records) return 1;
  std::vector<RuleRecord> shown;
  for (RuleRecord& record : *records) {
    // As View of Rules: rules with an id above 0.
    if (record.rule_id <= 0) continue;
    if (command.table && !EqualsNoCase(record.db_table, *command.table)) continue;
    shown.push_back(std::move(record));
  }
  std::stable_sort(shown.begin(), shown.end(), [](const RuleRecord& x, const RuleRecord& y) {
    return x.db_table != y.db_table ? x.db_table < y.db_table : x.rule_id < y.rule_id;
  });
  for (const RuleRecord& r : shown) {
    session.out() << r.rule_id << '\t' << r.db_type << '\t' << ListingText(r.dsn) << '\t'
                  << ListingText(r.db_table) << '\t' << ListingText(r.action) << '\t'
                  << ListingText(r.target) << '\t' << ListingText(r.values) << '\t'
                  << ListingText(r.cond) << '\t' << r.flag << '\t'
                  << (r.disabled() ? "disabled" : "enabled") << '\n';
  }
  return 0;
}

int Show(Session& session, const RuleEditorCommand& command) {
  std::optional<std::vector<RuleRecord>> records = ReadForShowing(session);
  if (!records) return 1;
  bool found = false;
  for (const RuleRecord& r : *records) {
    if (r.rule_id != command.rule_id) continue;
    std::ostream& out = session.out();
    if (found) out << '\n';
    found = true;
    out << "Rule Id:     " << r.rule_id << '\n'
        << "Kind:        " << r.db_type << '\n'
        << "Data source: " << r.dsn << '\n'
        << "Table:       " << r.db_table << '\n'
        << "Action:      " << r.action << '\n'
        << "Target:      " << r.target << '\n'
        << "Values:      " << r.values << '\n'
        << "Condition:   " << r.cond << '\n'
        << "Flag:        " << FlagText(r.flag) << '\n'
        << "State:       " << (r.disabled() ? "disabled (Reserved1 is 1)" : "enabled") << '\n';
  }
  if (!found) return session.Refuse(Format(kUnknownRuleMessage, command.rule_id));
  return 0;
}

}  // namespace

std::string ListingText(const std::string& text) {
  std::string line;
  for (char c : text) {
    switch (c) {
      case '\t': line += "\\t"; break;
      case '\r': line += "\\r"; break;
      case '\n': line += "\\n"; break;
      default: line += c;
    }
  }
  return line;
}

std::optional<RuleEditorCommand> ParseRuleEditorCommand(const std::vector<std::string>& args,
                                                        std::string* error) {
  auto fail = [error](const std::string& text) -> std::optional<RuleEditorCommand> {
    *error = text;
    return std::nullopt;
  };
  if (args.empty()) return fail("a command is needed");
  static const std::map<std::string, Verb> verbs = {
      {"list", Verb::kList},         {"show", Verb::kShow},       {"add", Verb::kAdd},
      {"replace", Verb::kReplace},   {"delete", Verb::kDelete},   {"disable", Verb::kDisable},
      {"enable", Verb::kEnable},
  };
  auto verb = verbs.find(args[0]);
  if (verb == verbs.end()) return fail("unknown command '" + args[0] + "'");
  RuleEditorCommand command;
  command.verb = verb->second;
  size_t next = 1;
  if (command.verb != Verb::kList && command.verb != Verb::kAdd) {
    if (args.size() < 2 || !IsRuleId(args[1]) || std::atol(args[1].c_str()) <= 0) {
      return fail(args[0] + " needs a rule id (a positive number)");
    }
    command.rule_id = std::atol(args[1].c_str());
    next = 2;
  }
  const bool composes = command.verb == Verb::kAdd || command.verb == Verb::kReplace;
  for (size_t i = next; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inline_value;
    if (size_t equals = name.find('='); name.rfind("--", 0) == 0 && equals != std::string::npos) {
      inline_value = name.substr(equals + 1);
      name.erase(equals);
    }
    if (composes && (name == "--run-always" || name == "--no-run-always") && !inline_value) {
      if (command.verb == Verb::kAdd && name == "--no-run-always") {
        return fail("--no-run-always is for replace");
      }
      command.run_always = name == "--run-always";
      continue;
    }
    auto option = TextOptions().find(name);
    const bool allowed =
        option != TextOptions().end() && (composes || (command.verb == Verb::kList &&
                                                       name == "--table"));
    if (!allowed) return fail("unknown argument '" + args[i] + "' for " + args[0]);
    if (!inline_value) {
      if (i + 1 >= args.size()) return fail(name + " needs a value");
      inline_value = args[++i];
    }
    if (command.*(option->second)) return fail(name + " is given twice");
    command.*(option->second) = *inline_value;
  }
  if (command.verb == Verb::kAdd && (!command.kind || !command.table)) {
    return fail("add needs --kind and --table");
  }
  return command;
}

int RunRuleEditor(const RuleEditorCommand& command, std::ostream& out, std::ostream& err) {
  // Looking writes nothing, not even the settings' defaults; the dialog's
  // gestures write what the rule manager writes.
  const bool looks = command.verb == Verb::kList || command.verb == Verb::kShow;
  const bool written_back = DefaultsWrittenBack();
  if (looks) SetDefaultsWrittenBack(false);
  int status = 1;
  {
    Session session(out, err);
    switch (command.verb) {
      case Verb::kList: status = List(session, command); break;
      case Verb::kShow: status = Show(session, command); break;
      case Verb::kAdd: status = Add(session, command); break;
      case Verb::kReplace: status = Replace(session, command); break;
      case Verb::kDelete: status = Delete(session, command); break;
      case Verb::kDisable: status = SetDisabled(session, command, true); break;
      case Verb::kEnable: status = SetDisabled(session, command, false); break;
    }
  }
  SetDefaultsWrittenBack(written_back);
  return status;
}

}  // namespace vigilo
