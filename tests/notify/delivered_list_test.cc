// How the outbox lets go of delivered messages: the delivered list that
// stands for a removal a crash may still have cut off, the spare files that
// new messages are written over, and the checks that keep a spare's old text
// or a file cut short from passing for a message.
#include "notify/delivered_list.h"

#include <stdlib.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/format.h"
#include "data/log_stream.h"
#include "notify/mail_sender.h"
#include "notify/outbox.h"
#include "tests/support/smtp_sink.h"
#include "tests/support/test_installation.h"

namespace vigilo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> Names(const std::string& directory, const std::string& suffix) {
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(directory)) {
    const std::string name = item.path().filename().string();
    if (name.size() >= suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      names.push_back(name);
    }
  }
  return names;
}

OutboxEntry Entry(long long record) {
  OutboxEntry entry;
  entry.rule_id = 3;
  entry.record = record;
  entry.table_id = "0\\ORVIK\\Proj\\Bugs";
  entry.subject = Format("record %lld", record);
  entry.recipients = "SMTP:ann@example.org";
  entry.body = Format("Closed\r\nrecord %lld\r\n", record);
  return entry;
}

std::vector<long long> Records(const std::vector<OutboxEntry>& entries) {
  std::vector<long long> records;
  for (const OutboxEntry& entry : entries) records.push_back(entry.record);
  return records;
}

class OutboxFilesTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.path() + "/" + name; }

  testing::TempDir dir_;
};

TEST_F(OutboxFilesTest, EntriesTheDeliveredListNamesAreGoneAndTheNextStartRemovesTheirFiles) {
  OutboxEntry a = Entry(1), b = Entry(2);
  std::string error;
  {
    Outbox outbox(dir_.path());
    ASSERT_TRUE(outbox.Add(a, &error)) << error;
    ASSERT_TRUE(outbox.Add(b, &error)) << error;
  }
  // An engine killed after noting a as delivered, before its file was
  // removed, and while it was noting b (the line was cut short).
  WriteText(Path(kDeliveredListFile), a.id + "\n" + b.id.substr(0, 5));
  Outbox outbox(dir_.path());
  EXPECT_THAT(Records(outbox.List()), ElementsAre(2));
  EXPECT_FALSE(outbox.Find(a.id));
  EXPECT_TRUE(outbox.Find(b.id));

  Outbox next_start(dir_.path());
  next_start.Settle();
  EXPECT_FALSE(std::filesystem::exists(outbox.PathOf(a)));
  EXPECT_TRUE(std::filesystem::exists(outbox.PathOf(b)));
  EXPECT_FALSE(std::filesystem::exists(Path(kDeliveredListFile)));
  EXPECT_THAT(Records(next_start.List()), ElementsAre(2));
}

TEST_F(OutboxFilesTest, ReadersFollowTheDeliveredListAsItGrowsAndWhenItIsMadeAnew) {
  Outbox engine(dir_.path()), reader(dir_.path());
  std::vector<OutboxEntry> entries;
  std::string error;
  for (long long record = 1; record <= 4; ++record) {
    entries.push_back(Entry(record));
    ASSERT_TRUE(engine.Add(entries.back(), &error)) << error;
  }
  EXPECT_THAT(Records(reader.List()), ElementsAre(1, 2, 3, 4));
  ASSERT_TRUE(engine.Retire(entries[0], &error)) << error;
  EXPECT_THAT(Records(engine.List()), ElementsAre(2, 3, 4));
  // Known to the engine without reading the list again.
  ASSERT_TRUE(engine.Retire(entries[1], &error)) << error;
  EXPECT_THAT(Records(engine.List()), ElementsAre(3, 4));
  EXPECT_THAT(Records(reader.List()), ElementsAre(3, 4));
  // A line still being written names nothing until it is whole.
  const std::string list = Path(kDeliveredListFile);
  std::ofstream(list, std::ios::app) << entries[2].id.substr(0, 5);
  EXPECT_THAT(Records(reader.List()), ElementsAre(3, 4));
  std::ofstream(list, std::ios::app) << entries[2].id.substr(5) << "\n";
  EXPECT_THAT(Records(reader.List()), ElementsAre(4));
  // Made anew in the same file, longer than before: only what it names now.
  WriteText(list, entries[3].id + "\n" + entries[3].id + "\n" + entries[3].id + "\n" +
                      entries[3].id + "\n");
  EXPECT_THAT(Records(reader.List()), ElementsAre(1, 2, 3));
}

TEST_F(OutboxFilesTest, OldTextUnderANewNameOrATextOfAnotherLengthIsNoEntry) {
  Outbox outbox(dir_.path());
  OutboxEntry a = Entry(1), b = Entry(2);
  std::string error;
  ASSERT_TRUE(outbox.Add(a, &error)) << error;
  ASSERT_TRUE(outbox.Add(b, &error)) << error;
  const std::string a_text = ReadText(outbox.PathOf(a));
  // A spare renamed for a new message, killed before the new text was written.
  WriteText(Path("0000000001000000000-1-1.new"), a_text);
  // New text written over a longer old one, killed before the old tail was cut.
  WriteText(outbox.PathOf(b), ReadText(outbox.PathOf(b)) + "the tail of an older message");
  // A file of an earlier version has neither an Id nor a Length line.
  WriteText(Path("0000000002000000000-1-1.msg"),
            "Vigilo-Outbox: 1\nRule: 3\nRecord: 7\nTable: 0\\ORVIK\\Proj\\Bugs\n"
            "Recipients: SMTP:ann@example.org\n\nwritten by an earlier version\r\n");

  std::vector<std::string> unreadable;
  EXPECT_THAT(Records(outbox.List(&unreadable)), ElementsAre(7, 1));
  EXPECT_EQ(unreadable.size(), 2u);
  EXPECT_FALSE(outbox.Find("0000000001000000000-1-1"));
  // At a tick's start such ".new" files are dropped: their records were never
  // flagged, so the messages are composed again.
  EXPECT_THAT(Records(outbox.List(nullptr, /*drop_cut_short=*/true)), ElementsAre(7, 1));
  EXPECT_FALSE(std::filesystem::exists(Path("0000000001000000000-1-1.new")));
  EXPECT_FALSE(std::filesystem::exists(outbox.PathOf(b)));
  EXPECT_EQ(ReadText(outbox.PathOf(a)), a_text);
}

class DeliveredListTest : public ::testing::Test {
 protected:
  DeliveredListTest() : log_([this] { return install_.server_dir() + "/vglog.ini"; }) {
#ifdef VIGILO_SMTP_PLUGIN_PATH
    setenv(VGSMTP_LIBRARY_ENV, VIGILO_SMTP_PLUGIN_PATH, 1);
#endif
  }
  ~DeliveredListTest() override { unsetenv(VGSMTP_LIBRARY_ENV); }

  CMailSender& Start(int port) {
    install_.SetMailKey("SMTP Mail", Format("1,0,127.0.0.1:%d,<>vigilo@example.org,", port));
    sender_.reset();
    CMailSender::Options options;
    options.log = &log_;
    sender_ = std::make_unique<CMailSender>(std::move(options));
    sender_->InitMailSystems();
    return *sender_;
  }

  void Tick(CMailSender& sender, long long first, long long last) {
    sender.BeginTick();
    for (long long record = first; record <= last; ++record) {
      NotifyMessage message;
      message.rule_id = 3;
      message.record = record;
      message.table_id = "0\\ORVIK\\Proj\\Bugs";
      message.subject = Format("record %lld", record);
      message.body = std::string(static_cast<size_t>(record * 40), 'x') + "\r\n";
      message.recipients = "SMTP:ann@example.org";
      sender.Submit(message, [] { return true; });
    }
    sender.EndTick();
  }

  std::string OutboxDir() const { return Outbox::DirectoryOf(install_.server_dir()); }

  testing::TestInstallation install_;
  LogStream log_;
  std::unique_ptr<CMailSender> sender_;
};

std::vector<std::string> Subjects(const std::vector<test::ReceivedMail>& mail) {
  std::vector<std::string> subjects;
  for (const test::ReceivedMail& message : mail) subjects.push_back(message.subject);
  return subjects;
}

TEST_F(DeliveredListTest, NewMessagesAreWrittenOverTheFilesOfDeliveredOnesEachSentOnce) {
  test::SmtpSink sink;
  CMailSender& sender = Start(sink.port());
  // Long bodies first, so the next messages are written over longer texts.
  Tick(sender, 4, 6);
  ASSERT_EQ(sink.WaitForMessages(3).size(), 3u);
  // Between ticks only spares are left: no list, no file under a message's name.
  EXPECT_EQ(Names(OutboxDir(), kSpareSuffix).size(), 3u);
  EXPECT_EQ(Names(OutboxDir(), "").size(), 4u);  // and the lock file
  EXPECT_THAT(sender.outbox().List(), IsEmpty());

  Tick(sender, 1, 3);
  std::vector<test::ReceivedMail> mail = sink.WaitForMessages(6);
  ASSERT_EQ(mail.size(), 6u);
  EXPECT_THAT(Subjects(mail), ElementsAre("record 4", "record 5", "record 6", "record 1",
                                          "record 2", "record 3"));
  EXPECT_EQ(std::count(mail[3].body.begin(), mail[3].body.end(), 'x'), 40);
  EXPECT_EQ(Names(OutboxDir(), "").size(), 4u);  // the same files again
  EXPECT_THAT(sender.outbox().List(), IsEmpty());

  // The next start takes the spares over.
  Start(sink.port());
  Tick(*sender_, 7, 7);
  mail = sink.WaitForMessages(7);
  ASSERT_EQ(mail.size(), 7u);
  EXPECT_EQ(mail[6].subject, "record 7");
  EXPECT_EQ(Names(OutboxDir(), "").size(), 4u);
  EXPECT_EQ(sink.WaitForMessages(8, std::chrono::milliseconds(300)).size(), 7u);
}

TEST_F(DeliveredListTest, MessageDeliveredBeforeACrashIsNotSentAgain) {
  test::SmtpSink sink;
  OutboxEntry left = Entry(8), kept = Entry(9);
  std::string error;
  {
    Outbox outbox(OutboxDir());
    ASSERT_TRUE(outbox.Add(left, &error)) << error;
    ASSERT_TRUE(outbox.MarkFlagged(left, &error)) << error;
    ASSERT_TRUE(outbox.Add(kept, &error)) << error;
  }
  // The engine died after noting both as delivered: one file it was keeping
  // for a new message, and one it had begun to write over.
  WriteText(OutboxDir() + "/" + kDeliveredListFile, left.id + "\n" + kept.id + "\n");
  std::filesystem::copy_file(OutboxDir() + "/" + kept.id + ".new",
                             OutboxDir() + "/0000000001000000000-1-1.new");
  std::filesystem::remove(OutboxDir() + "/" + kept.id + ".new");

  CMailSender& sender = Start(sink.port());
  Tick(sender, 1, 1);
  const auto mail = sink.WaitForMessages(2, std::chrono::milliseconds(500));
  EXPECT_THAT(Subjects(mail), ElementsAre("record 1"));
  EXPECT_FALSE(std::filesystem::exists(OutboxDir() + "/" + left.id + ".msg"));
  EXPECT_FALSE(std::filesystem::exists(OutboxDir() + "/0000000001000000000-1-1.new"));
  EXPECT_FALSE(std::filesystem::exists(OutboxDir() + "/" + kDeliveredListFile));
  EXPECT_THAT(sender.outbox().List(), IsEmpty());
}

}  // namespace
}  // namespace vigilo
