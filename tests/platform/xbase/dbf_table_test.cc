#include "platform/xbase/dbf_table.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "common/file_system.h"
#include "tests/platform/xbase/xbase_test_util.h"

namespace vigilo {
namespace {

using testing::ReadText;
using testing::TempDir;
using testing::WriteText;

std::vector<DbfField> EveryType() {
  return {{"Name", 'C', 12, 0},  {"Count", 'N', 8, 0}, {"Price", 'N', 10, 2},
          {"Ratio", 'F', 12, 4}, {"Due", 'D', 8, 0},   {"Done", 'L', 1, 0},
          {"Notes", 'M', 10, 0}};
}

void AppendRow(DbfTable& table, const std::string& name, long count, double price,
               const std::string& due, bool done, const std::string& notes) {
  table.AppendStart();
  table.AssignText(0, name);
  table.AssignLong(1, count);
  table.AssignNumber(2, price);
  table.AssignNumber(3, price / 4);
  table.AssignText(4, due);
  table.AssignLogical(5, done);
  table.AssignText(6, notes);
  table.AppendWrite();
}

class DbfVersionTest : public ::testing::TestWithParam<DbfVersion> {};

TEST_P(DbfVersionTest, WritesAndRereadsEveryFieldType) {
  TempDir dir;
  std::string path = dir.File("every.dbf");
  std::string long_memo(1500, 'm');
  long_memo += "\r\nend";
  {
    auto table = DbfTable::Create(path, EveryType(), GetParam());
    AppendRow(*table, "alpha", 42, 12.5, "20240229", true, "first memo");
    AppendRow(*table, "a name longer than twelve", -7, -0.25, "19991231", false, long_memo);
    AppendRow(*table, "", 0, 0, "", false, "");
    table->Close();
  }
  auto table = DbfTable::Open(path, false);
  EXPECT_EQ(table->version_byte(), GetParam() == DbfVersion::kDbase4 ? 0x8B : 0x83);
  EXPECT_EQ(table->version(), GetParam());
  ASSERT_EQ(table->RecordCount(), 3u);
  ASSERT_EQ(table->FieldCount(), 7);
  EXPECT_EQ(table->Field(2), (DbfField{"Price", 'N', 10, 2}));
  EXPECT_EQ(table->Field(6), (DbfField{"Notes", 'M', 10, 0}));

  ASSERT_TRUE(table->Read(1));
  EXPECT_EQ(table->FieldText(0), "alpha       ");
  EXPECT_EQ(table->Text(0), "alpha");
  EXPECT_EQ(table->Raw(1), "      42");
  EXPECT_EQ(table->FieldLong(1), 42);
  EXPECT_EQ(table->Raw(2), "     12.50");
  EXPECT_DOUBLE_EQ(*table->Number(3), 3.125);
  EXPECT_EQ(table->Raw(4), "20240229");
  EXPECT_EQ(table->Logical(5), true);
  EXPECT_EQ(table->Memo(6), "first memo");
  EXPECT_FALSE(table->IsDeleted());

  ASSERT_TRUE(table->Read(2));
  EXPECT_EQ(table->Text(0), "a name longe");
  EXPECT_EQ(table->FieldLong(1), -7);
  EXPECT_DOUBLE_EQ(*table->Number(2), -0.25);
  EXPECT_EQ(table->Logical(5), false);
  EXPECT_EQ(table->Text(6), long_memo);

  ASSERT_TRUE(table->Read(3));
  EXPECT_EQ(table->Raw(0), std::string(12, ' '));
  EXPECT_EQ(table->Number(2), 0.0);
  EXPECT_EQ(table->Raw(4), "        ");
  EXPECT_EQ(table->Raw(6), std::string(10, ' '));
  EXPECT_EQ(table->Memo(6), "");
  EXPECT_FALSE(table->Read(4));
  EXPECT_EQ(table->RecNo(), 0u);

  // The bytes other dBase readers rely on.
  std::string bytes = ReadText(path);
  size_t header = 32 + 32 * 7 + 1;
  EXPECT_EQ(table->header_length(), header);
  EXPECT_EQ(table->record_length(), 1 + 12 + 8 + 10 + 12 + 8 + 1 + 10);
  EXPECT_EQ(bytes[header - 1], '\x0D');
  EXPECT_EQ(bytes.size(), header + 3 * table->record_length() + 1);
  EXPECT_EQ(bytes.back(), '\x1A');
  EXPECT_EQ(bytes.substr(32, 6), std::string("Name\0\0", 6));
  EXPECT_EQ(bytes[32 + 11], 'C');
  EXPECT_EQ(bytes[32 + 16], 12);
}

TEST_P(DbfVersionTest, MemoBlocksFollowTheChosenLayout) {
  TempDir dir;
  std::string path = dir.File("memo.dbf");
  {
    auto table = DbfTable::Create(path, {{"Notes", 'M', 10, 0}}, GetParam());
    table->AppendStart();
    table->AssignText(0, "hello");
    table->AppendWrite();
  }
  std::string dbt = ReadText(dir.File("memo.dbt"));
  ASSERT_EQ(dbt.size(), 1024u);
  EXPECT_EQ(dbt[0], 2);  // next free block
  if (GetParam() == DbfVersion::kDbase4) {
    EXPECT_EQ(dbt.substr(512, 8), std::string("\xFF\xFF\x08\x00\x0D\x00\x00\x00", 8));
    EXPECT_EQ(dbt.substr(520, 5), "hello");
  } else {
    EXPECT_EQ(dbt.substr(512, 7), "hello\x1A\x1A");
  }
}

INSTANTIATE_TEST_SUITE_P(BothLayouts, DbfVersionTest,
                         ::testing::Values(DbfVersion::kDbase3, DbfVersion::kDbase4));

TEST(DbfTableTest, TableWithoutMemoIsVersion3AndHasNoDbt) {
  TempDir dir;
  auto table = DbfTable::Create(dir.File("plain.dbf"), {{"Id", 'N', 4, 0}});
  EXPECT_EQ(table->version_byte(), 0x03);
  EXPECT_FALSE(std::filesystem::exists(dir.File("plain.dbt")));
}

TEST(DbfTableTest, UpdatesFieldsOfARecordInPlace) {
  TempDir dir;
  std::string path = dir.File("upd.dbf");
  {
    auto table = DbfTable::Create(path, EveryType());
    AppendRow(*table, "one", 1, 1, "20200101", false, "old memo");
    AppendRow(*table, "two", 2, 2, "20200102", false, "second");
  }
  {
    auto table = DbfTable::Open(path, true);
    ASSERT_TRUE(table->Read(1));
    table->AssignText(0, "uno");
    table->AssignText(1, " 11 ");
    table->AssignText(6, "new memo");
    table->AssignBlank(4);
    ASSERT_TRUE(table->Read(2));  // moving writes the pending change
    table->AssignLong(1, 22);
    table->FlushDataFile();
    EXPECT_EQ(table->RecordCount(), 2u);
  }
  auto table = DbfTable::Open(path, false);
  ASSERT_TRUE(table->Read(1));
  EXPECT_EQ(table->Text(0), "uno");
  EXPECT_EQ(table->FieldLong(1), 11);
  EXPECT_EQ(table->Text(4), "");
  EXPECT_EQ(table->Memo(6), "new memo");
  ASSERT_TRUE(table->Read(2));
  EXPECT_EQ(table->FieldLong(1), 22);
  EXPECT_EQ(table->Memo(6), "second");
}

TEST(DbfTableTest, MovingAwayDropsAStartedAppendWithItsMemo) {
  TempDir dir;
  auto table = DbfTable::Create(dir.File("drop.dbf"), EveryType());
  AppendRow(*table, "kept", 1, 1, "20200101", false, "kept memo");
  table->AppendStart();
  table->AssignText(0, "dropped");
  table->AssignText(6, "dropped memo");
  ASSERT_TRUE(table->Read(1));
  table->AssignText(0, "changed");
  table->Update();
  EXPECT_EQ(table->RecordCount(), 1u);
  ASSERT_TRUE(table->Read(1));
  EXPECT_EQ(table->Text(0), "changed");
  EXPECT_EQ(table->Memo(6), "kept memo");
}

TEST(DbfTableTest, DeletedRecordsAreSkippedAndPackedAway) {
  TempDir dir;
  std::string path = dir.File("del.dbf");
  auto table = DbfTable::Create(path, {{"Id", 'N', 4, 0}, {"Name", 'C', 5, 0}});
  for (int i = 1; i <= 5; ++i) {
    table->AppendStart();
    table->AssignLong(0, i);
    table->AssignText(1, "n" + std::to_string(i));
    table->AppendWrite();
  }
  ASSERT_TRUE(table->Read(1));
  table->DeleteRecord();
  ASSERT_TRUE(table->Read(4));
  table->DeleteRecord();
  ASSERT_TRUE(table->Read(5));
  table->DeleteRecord();
  table->RecallRecord();

  std::vector<long> seen;
  for (bool on = table->GoFirst(); on; on = table->Skip()) seen.push_back(table->FieldLong(0));
  EXPECT_EQ(seen, (std::vector<long>{2, 3, 5}));
  table->ShowDeleted(true);
  seen.clear();
  for (bool on = table->GoLast(); on; on = table->Skip(-1)) seen.push_back(table->FieldLong(0));
  EXPECT_EQ(seen, (std::vector<long>{5, 4, 3, 2, 1}));
  EXPECT_EQ(table->RecordCount(), 5u);

  table->PackDataFile();
  EXPECT_EQ(table->RecordCount(), 3u);
  EXPECT_EQ(table->RecNo(), 0u);
  table->Close();

  auto reread = DbfTable::Open(path, false);
  ASSERT_EQ(reread->RecordCount(), 3u);
  seen.clear();
  for (bool on = reread->GoFirst(); on; on = reread->Skip()) {
    EXPECT_FALSE(reread->IsDeleted());
    seen.push_back(reread->FieldLong(0));
  }
  EXPECT_EQ(seen, (std::vector<long>{2, 3, 5}));
  std::string bytes = ReadText(path);
  EXPECT_EQ(bytes.size(), reread->header_length() + 3u * reread->record_length() + 1);
  EXPECT_EQ(bytes.back(), '\x1A');
}

TEST(DbfTableTest, PackKeepsEveryRecordOfALargeTable) {
  TempDir dir;
  std::string path = dir.File("big.dbf");
  auto table = DbfTable::Create(path, {{"Id", 'N', 7, 0}, {"Pad", 'C', 200, 0}});
  for (int i = 1; i <= 5000; ++i) {
    table->AppendStart();
    table->AssignLong(0, i);
    table->AssignText(1, std::string(200, char('a' + i % 26)));
    table->AppendWrite();
    if (i % 3 == 0) table->DeleteRecord();
  }
  table->PackDataFile();
  ASSERT_EQ(table->RecordCount(), 3334u);
  long expected = 1;
  for (bool on = table->GoFirst(); on; on = table->Skip()) {
    if (expected % 3 == 0) ++expected;
    ASSERT_EQ(table->FieldLong(0), expected);
    ASSERT_EQ(table->Raw(1)[0], char('a' + expected % 26));
    ++expected;
  }
}

TEST(DbfTableTest, TagsOrderRecordsByTheirField) {
  TempDir dir;
  auto table = DbfTable::Create(dir.File("tags.dbf"),
                                {{"RuleId", 'N', 8, 0}, {"DbTable", 'C', 10, 0},
                                 {"Due", 'D', 8, 0}, {"Notes", 'M', 10, 0}},
                                DbfVersion::kDbase4, {"RuleId", "DbTable"});
  struct Row { long id; const char* name; const char* due; };
  for (Row row : {Row{10, "b", "20240301"}, Row{-2, "a", ""}, Row{7, "c", "20231231"},
                  Row{10, "a", "20240101"}}) {
    table->AppendStart();
    table->AssignLong(0, row.id);
    table->AssignText(1, row.name);
    table->AssignText(2, row.due);
    table->AppendWrite();
  }
  auto order = [&](int tag) {
    table->SelectTag(tag);
    std::vector<uint32_t> recnos;
    for (bool on = table->GoFirst(); on; on = table->Skip()) recnos.push_back(table->RecNo());
    return recnos;
  };
  EXPECT_EQ(order(table->TagByName("ruleid")), (std::vector<uint32_t>{2, 3, 1, 4}));
  EXPECT_EQ(order(table->TagByName("DbTable")), (std::vector<uint32_t>{2, 4, 1, 3}));
  EXPECT_EQ(order(table->TagByName("Due")), (std::vector<uint32_t>{2, 3, 4, 1}));
  EXPECT_EQ(order(-1), (std::vector<uint32_t>{1, 2, 3, 4}));
  EXPECT_EQ(table->TagByName("Notes"), -1);
  EXPECT_EQ(table->TagByName("Missing"), -1);

  table->SelectTag(table->TagByName("RuleId"));
  ASSERT_TRUE(table->GoLast());
  EXPECT_EQ(table->RecNo(), 4u);
  ASSERT_TRUE(table->Skip(-2));
  EXPECT_EQ(table->RecNo(), 3u);
  ASSERT_TRUE(table->Read(1));  // direct read, then skip on in tag order
  ASSERT_TRUE(table->Skip());
  EXPECT_EQ(table->RecNo(), 4u);
  EXPECT_FALSE(table->Skip());

  EXPECT_THROW(DbfTable::Create(dir.File("bad.dbf"), {{"Notes", 'M', 10, 0}},
                                DbfVersion::kDbase4, {"Notes"}),
               DbfError);
}

TEST(DbfTableTest, RefusesValuesThatDoNotFit) {
  TempDir dir;
  std::string path = dir.File("fit.dbf");
  auto table = DbfTable::Create(path, EveryType());
  table->AppendStart();
  EXPECT_THROW(table->AssignLong(1, 123456789), DbfError);
  EXPECT_THROW(table->AssignNumber(2, 1e9), DbfError);
  EXPECT_THROW(table->AssignText(1, "12abc"), DbfError);
  EXPECT_THROW(table->AssignText(4, "2024-2-1"), DbfError);
  EXPECT_THROW(table->AssignText(5, "maybe"), DbfError);
  table->AssignText(4, "2024-02-01");
  table->AssignText(2, "3.14159");
  table->AppendWrite();
  EXPECT_EQ(table->Raw(4), "20240201");
  EXPECT_EQ(table->Raw(2), "      3.14");

  EXPECT_THROW(table->AppendWrite(), DbfError);  // no AppendStart
  table->Close();
  auto reader = DbfTable::Open(path, false);
  ASSERT_TRUE(reader->Read(1));
  try {
    reader->AssignText(0, "x");
    FAIL() << "a read-only table accepted a change";
  } catch (const DbfError& error) {
    EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find("reading only"), std::string::npos);
  }
}

TEST(DbfTableTest, RefusesInvalidFieldLists) {
  TempDir dir;
  std::string path = dir.File("bad.dbf");
  EXPECT_THROW(DbfTable::Create(path, {}), DbfError);
  EXPECT_THROW(DbfTable::Create(path, {{"ElevenChars", 'C', 5, 0}}), DbfError);
  EXPECT_THROW(DbfTable::Create(path, {{"A", 'C', 5, 0}, {"a", 'N', 5, 0}}), DbfError);
  EXPECT_THROW(DbfTable::Create(path, {{"A", 'X', 5, 0}}), DbfError);
  EXPECT_THROW(DbfTable::Create(path, {{"A", 'N', 21, 0}}), DbfError);
  EXPECT_THROW(DbfTable::Create(path, {{"A", 'N', 3, 2}}), DbfError);
  EXPECT_THROW(DbfTable::Create(path, {{"1A", 'C', 5, 0}}), DbfError);
}

TEST(DbfTableTest, SeesRecordsAnotherWriterAppends) {
  TempDir dir;
  std::string path = dir.File("shared.dbf");
  auto writer = DbfTable::Create(path, {{"Id", 'N', 6, 0}});
  auto reader = DbfTable::Open(path, false);
  auto second_writer = DbfTable::Open(path, true);
  EXPECT_EQ(reader->RecordCount(), 0u);
  for (int i = 1; i <= 3; ++i) {
    DbfTable& table = i % 2 ? *writer : *second_writer;
    table.AppendStart();
    table.AssignLong(0, i);
    EXPECT_EQ(table.AppendWrite(), static_cast<uint32_t>(i));
  }
  ASSERT_TRUE(reader->Read(3));  // past the count known at open
  EXPECT_EQ(reader->FieldLong(0), 3);
  EXPECT_EQ(reader->RecordCount(), 3u);
  std::vector<long> ids;
  for (bool on = reader->GoFirst(); on; on = reader->Skip()) ids.push_back(reader->FieldLong(0));
  EXPECT_EQ(ids, (std::vector<long>{1, 2, 3}));
}

// Tells when a caller starts waiting for a record lock.
class LockWaitWatcher : public FileSystemWrapper {
 public:
  LockWaitWatcher() : FileSystemWrapper(RealFileSystem()), scope_(*this) {}
  int RecordLock(int fd, int command, struct flock* lock) override {
    if (command == F_OFD_SETLKW || command == F_SETLKW) waiting = true;
    return FileSystemWrapper::RecordLock(fd, command, lock);
  }
  std::atomic<bool> waiting{false};

 private:
  ScopedFileSystem scope_;
};

TEST(DbfTableTest, AppendWaitsForAnotherWritersLock) {
  TempDir dir;
  std::string path = dir.File("locked.dbf");
  auto table = DbfTable::Create(path, {{"Id", 'N', 6, 0}});
  int fd = ::open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0);

  LockWaitWatcher watcher;
  std::atomic<bool> done{false};
  std::thread appender([&] {
    table->AppendStart();
    table->AssignLong(0, 1);
    table->AppendWrite();
    done = true;
  });
  while (!watcher.waiting) std::this_thread::yield();
  EXPECT_FALSE(done.load());
  lock.l_type = F_UNLCK;
  ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0);
  appender.join();
  EXPECT_TRUE(done.load());
  ::close(fd);
  EXPECT_EQ(table->RecordCount(), 1u);
}

TEST(DbfTableTest, OpensATableThatAnnouncesAProductionIndex) {
  TempDir dir;
  std::string path = dir.File("mdx.dbf");
  DbfTable::Create(path, {{"Id", 'N', 6, 0}})->Close();
  std::string bytes = ReadText(path);
  bytes[28] = 1;
  WriteText(path, bytes);
  auto table = DbfTable::Open(path, true);
  EXPECT_TRUE(table->announces_production_index());
  table->SelectTag(table->TagByName("ID"));
  EXPECT_FALSE(table->GoFirst());
}

TEST(DbfTableTest, FindsFieldsWithoutRegardToCaseAndMemoFilesInEitherCase) {
  TempDir dir;
  std::string path = dir.File("CASE.DBF");
  {
    auto table = DbfTable::Create(path, {{"GrpName", 'C', 10, 0}, {"Notes", 'M', 10, 0}},
                                  DbfVersion::kDbase3);
    table->AppendStart();
    table->AssignText(1, "memo");
    table->AppendWrite();
  }
  EXPECT_TRUE(std::filesystem::exists(dir.File("CASE.DBT")));
  auto table = DbfTable::Open(path, false);
  EXPECT_EQ(table->FieldIndex("grpname"), 0);
  EXPECT_EQ(table->FieldIndex(" GRPNAME "), 0);
  EXPECT_EQ(table->FieldIndex("Grp"), -1);
  ASSERT_TRUE(table->Read(1));
  EXPECT_EQ(table->Memo(1), "memo");
}

}  // namespace
}  // namespace vigilo
