#include "tools/demo/demo_installation.h"

#include "common/format.h"

namespace vigilo::demo {

namespace {

// Change times of the demo's history rows: early November 2026, an hour apart.
constexpr long long kHistoryStart = 1793520000;
constexpr long long kHour = 3600;

// Quotes a path for /bin/sh.
std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted + "'";
}

TableDescription BugsTable() {
  TableDescription bugs;
  bugs.name = "Bugs";
  bugs.form_names = {"Bug Report", "Bug Summary"};
  bugs.fields = {
      {"Title", kFieldText, 60, {}, kFlagDefault, false, "Title"},
      {"Status", kFieldList, 10, {"Open", "Fixed", "Closed", "Reopened"}, kFlagDefault, true,
       "Status"},
      {"Priority", kFieldNumber, 4, {}, kFlagDefault, true, "Priority"},
      {"Owner", kFieldUser, 20, {}, kFlagDefault, true, "Owner"},
      {"Reporter", kFieldUser, 20, {}, kFlagDefault, false, "Reported by"},
      {"Created", kFieldDate, 0, {}, kFlagDefault, false, "Created on"},
      {"Resolution", kFieldText, 40, {}, kFlagDefault, false, "Resolution"},
      {"Descript", kFieldMemo, 0, {}, kFlagDefault, false, "Description"},
  };
  struct Row {
    long id;
    const char *title, *status, *priority, *owner, *reporter, *created, *description;
  };
  const Row rows[] = {
      {1, "Crash when saving an empty report", "Open", "1", "ann", "sysop", "20261102",
       "Saving a report without rows ends the program."},
      {2, "Login screen ignores caps lock", "Open", "3", "bob", "carl", "20261103",
       "No warning is shown while caps lock is on."},
      {3, "Export to CSV drops the last row", "Fixed", "2", "erin", "dave", "20261103",
       "The last record of a project is missing from the export."},
      {4, "Search is slow on large projects", "Closed", "2", "ann", "bob", "20261104",
       "Searching 50,000 records takes a minute."},
      {5, "Typo in the About box", "Closed", "5", "bob", "ann", "20261105",
       "\"Copyrigth\" should read \"Copyright\"."},
      {6, "Printer setup dialog freezes", "Reopened", "1", "carl", "erin", "20261105",
       "The dialog stops answering when no printer is installed."},
      {7, "Date picker starts weeks on Sunday", "Open", "2", "dave", "sysop", "20261106",
       "The week should start on the locale's first day."},
      {8, "Attachments over 2 MB are refused", "Fixed", "4", "erin", "bob", "20261107",
       "The size limit should be 20 MB."},
  };
  for (const Row& row : rows) {
    bugs.records.push_back({row.id,
                            Format("Entered by %s on %s.", row.reporter, row.created),
                            {{"Title", row.title},
                             {"Status", row.status},
                             {"Priority", row.priority},
                             {"Owner", row.owner},
                             {"Reporter", row.reporter},
                             {"Created", row.created},
                             {"Descript", row.description}},
                            "",
                            ""});
  }
  long long t = kHistoryStart;
  bugs.history = {
      {2, t += kHour, "sysop", "Owner", "ann", "bob"},
      {3, t += kHour, "erin", "Status", "Open", "Fixed"},
      {4, t += kHour, "ann", "Status", "Open", "Closed"},
      {5, t += kHour, "bob", "Status", "Open", "Fixed"},
      {5, t += kHour, "ann", "Status", "Fixed", "Closed"},
      {8, t += kHour, "bob", "Priority", "2", "4"},
      {8, t += kHour, "erin", "Status", "Open", "Fixed"},
  };
  bugs.mail_report = {"Title", "Status", "Priority", "Owner", "Resolution"};
  return bugs;
}

TableDescription TasksTable() {
  TableDescription tasks;
  tasks.name = "Tasks";
  tasks.form_names = {"Task"};
  tasks.fields = {
      {"Title", kFieldText, 60, {}, kFlagDefault, false, "Title"},
      {"State", kFieldList, 10, {"New", "Active", "Done"}, kFlagDefault, true, "State"},
      {"Assignee", kFieldUser, 20, {}, kFlagDefault, true, "Assigned to"},
      {"Due", kFieldDate, 0, {}, kFlagDefault, false, "Due date"},
      {"Effort", kFieldNumber, 4, {}, kFlagDefault, false, "Effort (days)"},
      {"Notes", kFieldMemo, 0, {}, kFlagDefault, false, "Notes"},
  };
  struct Row {
    long id;
    const char *title, *state, *assignee, *due, *effort;
  };
  const Row rows[] = {
      {1, "Write the release notes", "Active", "ann", "20261215", "3"},
      {2, "Update the installation guide", "New", "bob", "20261220", "2"},
      {3, "Review the help pages", "Active", "erin", "20261218", "4"},
      {4, "Plan the spring release", "Done", "sysop", "20261130", "1"},
  };
  for (const Row& row : rows) {
    tasks.records.push_back({row.id,
                             "Task created by sysop.",
                             {{"Title", row.title},
                              {"State", row.state},
                              {"Assignee", row.assignee},
                              {"Due", row.due},
                              {"Effort", row.effort}},
                             "",
                             ""});
  }
  long long t = kHistoryStart + 20 * kHour;
  tasks.history = {
      {1, t += kHour, "ann", "State", "New", "Active"},
      {3, t += kHour, "erin", "State", "New", "Active"},
      {4, t += kHour, "sysop", "State", "Active", "Done"},
  };
  // No report file: notifications of this table show every field.
  return tasks;
}

}  // namespace

InstallationDescription DemoInstallationDescription(const DemoOptions& options,
                                      const std::string& program_dir) {
  InstallationDescription description;
  description.firing_interval = 5;
  description.program_files = options.program_files;
  description.projects = {{"Demo", "", {BugsTable(), TasksTable()}}};

  description.users = {
      // The product keeps a weighted sum of the password's character codes;
      // this is the sum of kDemoSysopPassword, so the rule manager lets the
      // supervisor in with it.
      {"sysop", kDemoSysopPasswordSum, 0, "sysop", "System Operator"},
      {"ann", "ann", 0, "ann", "Ann Internal"},
      {"bob", "bob", 1, "Bob Mapi", "Bob Mapi"},
      {"carl", "carl", 2, "carl@ccmail.demo", "Carl Ccmail"},
      {"dave", "dave", 3, "dave", "Dave Nomail"},
      {"erin", "erin", 5, "erin@demo.example", "Erin Smtp"},
  };
  description.groups = {
      {"Developers", {"ann", "bob", "erin"}, "Everyone who fixes bugs"},
      {"Support", {"carl", "dave"}, "First-line support"},
  };

  // The data source the rule manager stores with rules of a dBase project, so
  // its Setup Rules dialog lists the demo's rules under their tables.
  const std::string dbase = "SERVERDIR";
  description.rules = {
      {1, 0, dbase, "Demo\\Bugs", "Update", "Field", "Resolution=Awaiting verification",
       "(Status is (Fixed)) .AND.(Priority is (1-3))", 0, ""},
      {2, 0, dbase, "Demo\\Bugs", "Update", "Field", "Resolution=Closed without a fix;Priority=5",
       "(Status is (Open -> Closed))", 0, ""},
      {3, 0, dbase, "Demo\\Bugs", "Notify", "User", "ann,bob,carl,dave,erin",
       "(Status is (Open,Reopened)) .AND.(Priority is (1))", 0, ""},
      {4, 0, dbase, "Demo\\Tasks", "Notify", "Group", "Developers", "(State is (Active))", 0,
       ""},
      {5, 0, dbase, "Demo\\Bugs", "Notify", "Field", "Owner",
       "(Status is (Open)) .AND.(Owner is .NOT.(dave))", 0, ""},
      {6, 0, dbase, "Demo\\Bugs", "Notify", "Address", "qa-lead@demo.example",
       "(Status is (Closed)) .AND.(ChngHist->ChngTo is (Closed))", 0, ""},
      {7, 0, dbase, "Demo\\Tasks", "Notify", "User", "sysop", "(State is (Done))", 0, "1"},
      {8, 0, dbase, "Demo\\Tasks", "Notify", "User", "sysop", "(State is (New))", 0, ""},
  };

  MailDescription& mail = description.mail;
  mail.smtp_server = options.smtp_server;
  mail.mapi_profile = "Vigilo";
  mail.mapi_password = "demo";
  mail.address_book = {{"Bob Mapi", "bob@demo.example"}};
  if (!options.smtp_server.empty()) {
    mail.delivery_smtp_url = "smtp://" + options.smtp_server;
  } else {
    mail.delivery_command = "cat >> " + ShellQuoted(program_dir + "/" + kDemoMapiOutbox);
  }
  return description;
}

}  // namespace vigilo::demo
