#include "data/rule_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>

#include "common/file_system.h"
#include "common/format.h"
#include "common/paths.h"
#include "common/text.h"
#include "platform/sql/database.h"
#include "platform/xbase/dbf_file_io.h"
#include "platform/xbase/dbf_query.h"

namespace vigilo {
namespace {

using Code = RuleTableStatus::Code;

// The layout. Every other place takes names, widths and tags from here.
constexpr const char* kRuleId = "RuleId";
constexpr const char* kDbType = "DbType";
constexpr const char* kDsn = "Dsn";
constexpr const char* kDbTable = "DbTable";
constexpr const char* kAction = "Action";
constexpr const char* kTarget = "Target";
constexpr const char* kValues = "Values";
constexpr const char* kCond = "Cond";
constexpr const char* kFlag = "Flag";
constexpr size_t kNumberWidth = 8;
constexpr size_t kReservedWidth = 32;

constexpr char kDriverConnection[] =
    "Driver={Microsoft dBase Driver (*.dbf)};DriverId=277;DefaultDir=%s;DSN=;";
constexpr char kLoadableRulesByKind[] =
    "SELECT * FROM %s WHERE (RESERVED1 <> '1') OR (RESERVED1 =NULL) ORDER BY DBTYPE, "
    "DSN, DBTABLE, RULEID";
constexpr char kLoadableRulesById[] =
    "SELECT * FROM %s WHERE (RESERVED1 <> '1') OR (RESERVED1 =NULL) ORDER BY RULEID";

RuleTableStatus Status(Code code, std::string message) { return {code, std::move(message)}; }

// Field positions of an open rule table. Tables written by others are read
// by name; the Reserved fields may be missing there (-1).
struct RuleColumns {
  int rule_id, db_type, dsn, db_table, action, target, values, cond, flag;
  std::array<int, 5> reserved{};

  explicit RuleColumns(const DbfTable& table)
      : rule_id(Require(table, kRuleId)),
        db_type(Require(table, kDbType)),
        dsn(Require(table, kDsn)),
        db_table(Require(table, kDbTable)),
        action(Require(table, kAction)),
        target(Require(table, kTarget)),
        values(Require(table, kValues)),
        cond(Require(table, kCond)),
        flag(Require(table, kFlag)) {
    for (size_t i = 0; i < reserved.size(); ++i) {
      reserved[i] = table.FieldIndex(Format("Reserved%zu", i + 1));
    }
  }

  static int Require(const DbfTable& table, const char* name) {
    int index = table.FieldIndex(name);
    if (index < 0) throw DbfError(Format("%s: no field %s", table.path().c_str(), name));
    return index;
  }
};

// A character field's text without its trailing blanks.
std::string CharText(DbfTable& table, int index) {
  if (table.Field(index).type != 'C') return table.Text(index);
  std::string_view raw = table.Raw(index);
  size_t end = raw.find_last_not_of(' ');
  return std::string(raw.substr(0, end == std::string_view::npos ? 0 : end + 1));
}

RuleRecord ReadRecord(DbfTable& t, const RuleColumns& c) {
  RuleRecord record;
  record.rule_id = static_cast<int32_t>(t.FieldLong(c.rule_id));
  record.db_type = static_cast<int32_t>(t.FieldLong(c.db_type));
  record.dsn = CharText(t, c.dsn);
  record.db_table = CharText(t, c.db_table);
  record.action = CharText(t, c.action);
  record.target = CharText(t, c.target);
  record.values = CharText(t, c.values);
  record.cond = CharText(t, c.cond);
  record.flag = static_cast<int32_t>(t.FieldLong(c.flag));
  for (size_t i = 0; i < c.reserved.size(); ++i) {
    if (c.reserved[i] >= 0) record.reserved[i] = CharText(t, c.reserved[i]);
  }
  return record;
}

// A text that would be cut by its field is refused: a cut condition or
// recipient list would make the rule act on the wrong records or people.
void PutText(DbfTable& table, int index, const std::string& value) {
  const DbfField& field = table.Field(index);
  if (field.type == 'C' && value.size() > field.width) {
    throw DbfError(Format("%s: %s is %zu characters long, field %s holds %d",
                          table.path().c_str(), field.name.c_str(), value.size(),
                          field.name.c_str(), static_cast<int>(field.width)));
  }
  table.AssignText(index, value);
}

void AppendRecord(DbfTable& t, const RuleColumns& c, const RuleRecord& record) {
  t.AppendStart();
  t.AssignLong(c.rule_id, record.rule_id);
  t.AssignLong(c.db_type, record.db_type);
  PutText(t, c.dsn, record.dsn);
  PutText(t, c.db_table, record.db_table);
  PutText(t, c.action, record.action);
  PutText(t, c.target, record.target);
  PutText(t, c.values, record.values);
  PutText(t, c.cond, record.cond);
  t.AssignLong(c.flag, record.flag);
  for (size_t i = 0; i < c.reserved.size(); ++i) {
    if (c.reserved[i] >= 0) PutText(t, c.reserved[i], record.reserved[i]);
  }
  t.AppendWrite();
}

// The record numbers of a rule id's records, found before any is changed so
// that a change cannot move the query's position.
std::vector<uint32_t> RecordsOfRule(DbfTable& table, int32_t rule_id) {
  std::vector<uint32_t> matches;
  DbfQuery query(table);
  query.SetQuery(RuleIdFilter(rule_id));
  for (bool found = query.QueryFirst(); found; found = query.QueryNext()) {
    matches.push_back(table.RecNo());
  }
  return matches;
}

std::string TemporaryPath(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  std::string dir = DirectoryPart(path);
  if (dir.empty()) dir = ".";
  return JoinPath(dir, Format(".%s.%ld.%u.tmp", NamePart(path).c_str(),
                              static_cast<long>(::getpid()), counter++));
}

// A writer killed mid-change leaves its hidden copy behind. Copies whose
// writer no longer runs and that nobody touched for a while are removed by the
// next writer; a live writer's copy (even in another process) is never touched.
void RemoveAbandonedCopies(const std::string& path) {
  namespace fs = std::filesystem;
  std::string dir = DirectoryPart(path);
  if (dir.empty()) dir = ".";
  const std::string prefix = "." + NamePart(path) + ".";
  std::error_code error;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 4, 4, ".tmp") != 0) {
      continue;
    }
    const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
    if (pid <= 0 || pid == static_cast<long>(::getpid())) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    struct stat st {};
    if (::stat(it->path().c_str(), &st) != 0 || std::time(nullptr) - st.st_mtime < 600) continue;
    Files().Unlink(it->path().string());
  }
}

// Removes the copy of a change that did not come into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (!path_.empty()) Files().Unlink(path_);
  }
  const std::string& path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  std::string path_;
};

void SyncDirectory(const std::string& path) {
  std::string dir = DirectoryPart(path);
  UniqueFd fd(Files().Open(dir.empty() ? "." : dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.valid()) Files().Sync(fd.get());
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The copy's name in a message would puzzle: the fault is the table's.
std::string ReasonFor(const std::string& path, const std::string& copy, const DbfError& error) {
  std::string text = error.what();
  if (size_t at = text.find(copy); at != std::string::npos) text.replace(at, copy.size(), path);
  return text;
}

using Change = std::function<void(DbfTable&, const RuleColumns&)>;

// A missing table: a new one with the change applied, linked into place only
// if no other writer created one meanwhile (false then: try again).
bool CreateTable(const std::string& path, const Change& change, RuleTableStatus* status) {
  TemporaryFile copy(TemporaryPath(path));
  std::unique_ptr<DbfTable> table;
  try {
    table = DbfTable::Create(copy.path(), RuleTableFields(), DbfVersion::kDbase4, RuleTableTags());
  } catch (const DbfError& error) {
    *status = Status(Code::kCannotOpen, ReasonFor(path, copy.path(), error));
    return true;
  }
  try {
    change(*table, RuleColumns(*table));
    table->FlushDataFile();
    table->Close();
  } catch (const DbfError& error) {
    *status = Status(Code::kCannotWrite, ReasonFor(path, copy.path(), error));
    return true;
  }
  if (::link(copy.path().c_str(), path.c_str()) != 0) {
    if (errno == EEXIST) return false;
    *status = Status(Code::kCannotOpen, FileErrorText(path, "cannot create", errno));
    return true;
  }
  SyncDirectory(path);
  *status = {};
  return true;
}

// The change made on a copy of the locked table and renamed into place.
// False when the name no longer names the locked file (replaced while this
// writer waited for the lock): try again.
bool ReplaceLocked(const std::string& path, int fd, const Change& change,
                   RuleTableStatus* status) {
  struct stat held {};
  struct stat named {};
  if (Files().Stat(fd, &held) != 0) {
    *status = Status(Code::kCannotOpen, FileErrorText(path, "cannot read", errno));
    return true;
  }
  if (::stat(path.c_str(), &named) != 0 || !SameFile(held, named)) return false;

  RemoveAbandonedCopies(path);
  TemporaryFile copy(TemporaryPath(path));
  {
    const mode_t mode = held.st_mode & 07777;
    UniqueFd out(Files().Open(copy.path(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (!out.valid()) {
      *status = Status(Code::kCannotWrite,
                       FileErrorText(path, "cannot create the new table beside it", errno));
      return true;
    }
    // The umask may have narrowed the mode; the owner stays where root can keep it.
    (void)::fchmod(out.get(), mode);
    if (::geteuid() == 0) (void)::fchown(out.get(), held.st_uid, held.st_gid);
    std::string bytes;
    if (Files().Seek(fd, 0, SEEK_SET) != 0 || !ReadAll(fd, bytes)) {
      *status = Status(Code::kCannotOpen, FileErrorText(path, "cannot read", errno));
      return true;
    }
    if (!WriteAll(out.get(), bytes) || !out.Close()) {
      *status = Status(Code::kCannotWrite, FileErrorText(copy.path(), "cannot write", errno));
      return true;
    }
  }
  auto reason = [&](const DbfError& error) { return ReasonFor(path, copy.path(), error); };
  std::unique_ptr<DbfTable> table;
  std::unique_ptr<RuleColumns> columns;
  try {
    table = DbfTable::Open(copy.path(), true);
    columns = std::make_unique<RuleColumns>(*table);
  } catch (const DbfError& error) {
    *status = Status(Code::kDamaged, reason(error));
    return true;
  }
  try {
    change(*table, *columns);
    table->FlushDataFile();
    table->Close();
  } catch (const DbfError& error) {
    *status = Status(Code::kCannotWrite, reason(error));
    return true;
  }
  if (Files().Rename(copy.path(), path) != 0) {
    *status = Status(Code::kCannotWrite, FileErrorText(path, "cannot replace", errno));
    return true;
  }
  copy.Keep();
  SyncDirectory(path);
  *status = {};
  return true;
}

RuleTableStatus ChangeTable(const std::string& path, bool creates, const Change& change) {
  RuleTableStatus status;
  // Each round ends unless another writer replaced or created the table at
  // the same moment; a writer that keeps losing that race gives up.
  for (int round = 0; round < 1000; ++round) {
    UniqueFd fd(Files().Open(path, O_RDWR | O_CLOEXEC));
    if (!fd.valid()) {
      if (errno == ENOENT && creates) {
        if (CreateTable(path, change, &status)) return status;
        continue;
      }
      return Status(errno == ENOENT ? Code::kMissing : Code::kCannotOpen,
                    FileErrorText(path, "cannot open for writing", errno));
    }
    try {
      DbfWriteLock lock(fd.get(), path);
      if (ReplaceLocked(path, fd.get(), change, &status)) return status;
    } catch (const DbfError& error) {
      return Status(Code::kCannotOpen, error.what());
    }
  }
  return Status(Code::kCannotWrite, path + ": replaced by other writers too often, try again");
}

}  // namespace

std::vector<DbfField> RuleTableFields() {
  return {
      {kRuleId, 'N', kNumberWidth, 0},
      {kDbType, 'N', kNumberWidth, 0},
      {kDsn, 'C', kRuleDsnWidth, 0},
      {kDbTable, 'C', kRuleDbTableWidth, 0},
      {kAction, 'C', kRuleActionWidth, 0},
      {kTarget, 'C', kRuleTargetWidth, 0},
      {kValues, 'C', kRuleValuesWidth, 0},
      {kCond, 'C', kRuleCondWidth, 0},
      {kFlag, 'N', kNumberWidth, 0},
      {"Reserved1", 'C', kReservedWidth, 0},
      {"Reserved2", 'C', kReservedWidth, 0},
      {"Reserved3", 'C', kReservedWidth, 0},
      {"Reserved4", 'C', kReservedWidth, 0},
      {"Reserved5", 'C', kReservedWidth, 0},
  };
}

std::vector<std::string> RuleTableTags() { return {kRuleId, kDbTable, kAction, kTarget}; }

std::string RuleTableFilter(long kind, const std::string& dsn, const std::string& table) {
  return Format(
      "(DbType = %ld) .AND. (UPPER(Dsn) = UPPER('%s   ')) .AND. (UPPER(DbTable) = UPPER('%s    '))",
      kind, dsn.c_str(), table.c_str());
}

std::string RuleIdFilter(long rule_id) { return Format("RuleId = %ld", rule_id); }

std::string ListedRulesFilter() { return Format("(RuleId > %ld)", 0L); }

RuleTableStatus ReadRuleTable(const std::string& path, std::vector<RuleRecord>* records,
                              const std::string& filter) {
  records->clear();
  // The rule manager reads only a table it could also write (a table it may
  // not change is not offered for editing).
  if (Files().Access(path, F_OK) != 0) {
    return Status(Code::kMissing, FileErrorText(path, "cannot open", errno));
  }
  {
    UniqueFd probe(Files().Open(path, O_RDWR | O_CLOEXEC));
    if (!probe.valid()) {
      return Status(Code::kCannotOpen, FileErrorText(path, "cannot open for writing", errno));
    }
  }
  try {
    std::unique_ptr<DbfTable> table = DbfTable::Open(path, false);
    RuleColumns columns(*table);
    records->reserve(table->RecordCount());
    if (filter.empty()) {
      for (bool on = table->GoFirst(); on; on = table->Skip()) {
        records->push_back(ReadRecord(*table, columns));
      }
    } else {
      // In record order: the query then reads the file block by block.
      DbfQuery query(*table);
      query.SetQuery(filter);
      for (bool found = query.QueryFirst(); found; found = query.QueryNext()) {
        records->push_back(ReadRecord(*table, columns));
      }
    }
  } catch (const std::exception& error) {
    records->clear();
    return Status(Code::kDamaged, error.what());
  }
  return {};
}

std::string RuleTableConnection(const std::string& path) {
  return Format(kDriverConnection, DirectoryPart(path).c_str());
}

std::string LoadableRulesQuery(const std::string& path, RuleOrder order) {
  std::string table = NamePart(path);
  if (const size_t dot = table.rfind('.'); dot != std::string::npos) table.erase(dot);
  return Format(order == RuleOrder::kByKind ? kLoadableRulesByKind : kLoadableRulesById,
                table.c_str());
}

RuleRecord RuleRecordOfRow(const Recordset& rows) {
  auto text = [&rows](const char* column) {
    std::string value = rows.GetText(column);
    TrimRight(value);
    return value;
  };
  RuleRecord record;
  record.rule_id = rows.GetLong("RULEID");
  record.db_type = rows.GetLong("DBTYPE");
  record.dsn = text("DSN");
  record.db_table = text("DBTABLE");
  record.action = text("ACTION");
  record.target = text("TARGET");
  record.values = text("VALUES");
  record.cond = text("COND");
  record.flag = static_cast<int32_t>(LeadingNumber(text("FLAG")));
  return record;
}

RuleTableStatus AppendRule(const std::string& path, RuleRecord* record,
                           std::optional<int32_t> rule_id) {
  return ChangeTable(path, /*creates=*/true, [&](DbfTable& t, const RuleColumns& c) {
    if (rule_id) {
      record->rule_id = *rule_id;
    } else {
      t.SelectTag(t.TagByName(kRuleId));
      record->rule_id = t.GoLast() ? static_cast<int32_t>(t.FieldLong(c.rule_id)) + 1 : 1;
      t.SelectTag(-1);
    }
    AppendRecord(t, c, *record);
  });
}

namespace {

// Deletes the records (found before) and packs the table.
void DeleteRecords(DbfTable& t, const std::vector<uint32_t>& records) {
  for (uint32_t recno : records) {
    if (t.Read(recno)) t.DeleteRecord();
  }
  if (!records.empty()) t.PackDataFile();
}

}  // namespace

RuleTableStatus DeleteRule(const std::string& path, int32_t rule_id) {
  return ChangeTable(path, /*creates=*/false, [&](DbfTable& t, const RuleColumns&) {
    DeleteRecords(t, RecordsOfRule(t, rule_id));
  });
}

RuleTableStatus ReplaceRule(const std::string& path, int32_t rule_id, RuleRecord* record) {
  return ChangeTable(path, /*creates=*/false, [&](DbfTable& t, const RuleColumns& c) {
    const std::vector<uint32_t> old = RecordsOfRule(t, rule_id);
    if (old.empty() || !t.Read(old.front())) {
      throw DbfError(Format("%s: no rule has the id %ld", path.c_str(), static_cast<long>(rule_id)));
    }
    record->reserved = ReadRecord(t, c).reserved;
    record->rule_id = rule_id;
    DeleteRecords(t, old);
    AppendRecord(t, c, *record);
  });
}

RuleTableStatus SetRuleDisabled(const std::string& path, int32_t rule_id, bool disabled) {
  return ChangeTable(path, /*creates=*/false, [&](DbfTable& t, const RuleColumns& c) {
    if (c.reserved[0] < 0) {
      throw DbfError(Format("%s: no field Reserved1", path.c_str()));
    }
    for (uint32_t recno : RecordsOfRule(t, rule_id)) {
      if (!t.Read(recno)) continue;
      t.AssignText(c.reserved[0], disabled ? kRuleDisabledMark : "");
      t.Update();
    }
  });
}

RuleTableStatus WriteRuleTable(const std::string& path, const std::vector<RuleRecord>& records) {
  // A whole new table, put in place as any change is.
  TemporaryFile fresh(TemporaryPath(path));
  try {
    std::unique_ptr<DbfTable> table =
        DbfTable::Create(fresh.path(), RuleTableFields(), DbfVersion::kDbase4, RuleTableTags());
    RuleColumns columns(*table);
    for (const RuleRecord& record : records) AppendRecord(*table, columns, record);
    table->FlushDataFile();
    table->Close();
  } catch (const DbfError& error) {
    return Status(Code::kCannotWrite, error.what());
  }
  // Under the old table's lock, so no writer appends to a file about to go.
  UniqueFd fd(Files().Open(path, O_RDWR | O_CLOEXEC));
  std::unique_ptr<DbfWriteLock> lock;
  try {
    if (fd.valid()) lock = std::make_unique<DbfWriteLock>(fd.get(), path);
  } catch (const DbfError& error) {
    return Status(Code::kCannotOpen, error.what());
  }
  if (Files().Rename(fresh.path(), path) != 0) {
    return Status(Code::kCannotWrite, FileErrorText(path, "cannot replace", errno));
  }
  fresh.Keep();
  SyncDirectory(path);
  return {};
}

}  // namespace vigilo
