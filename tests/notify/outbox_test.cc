// The outbox: its files, and the mail sender's queue-flag-deliver order,
// retries and give-up, delivering through the real SMTP library of this build
// to a real SMTP server on 127.0.0.1.
#include "notify/outbox.h"

#include <fcntl.h>
#include <stdlib.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/file_system.h"
#include "common/format.h"
#include "common/ini_profile.h"
#include "data/clock.h"
#include "data/log_stream.h"
#include "data/run_log_entries.h"
#include "notify/mail_sender.h"
#include "platform/xbase/dbf_table.h"
#include "tests/notify/fake_transports.h"
#include "tests/support/test_installation.h"
#include "tests/support/smtp_sink.h"

namespace vigilo {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

TEST(OutboxEntryTest, FileTextKeepsEveryFieldAndTheBodyAsItIs) {
  OutboxEntry entry;
  entry.rule_id = 7;
  entry.record = 5000000000LL;
  entry.table_id = "0\\ORVIK\\Proj\\Bugs";
  entry.database_name = "Bugs.DBF";
  entry.subject = "VIGILO Rule# 7 , Record# 5000000000 of 0\\ORVIK\\Proj\\Bugs";
  entry.recipients = "ORVIK:ann,SMTP:bob@example.org";
  entry.body = "Closed\r\n\r\nDetailed Description\r\n\r\nTitle : x\r\n";
  entry.created = 1765200000;
  entry.attempts = 2;
  entry.next_attempt = 1765200120;
  entry.last_transport = "SMTP";
  entry.last_error = "line one\r\nline two";  // a header value stays one line
  const std::string text = SerializeOutboxEntry(entry);
  EXPECT_THAT(text, HasSubstr("\nRecipients: ORVIK:ann,SMTP:bob@example.org\n"));
  std::optional<OutboxEntry> back = ParseOutboxEntry(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->rule_id, 7);
  EXPECT_EQ(back->record, 5000000000LL);
  EXPECT_EQ(back->table_id, entry.table_id);
  EXPECT_EQ(back->subject, entry.subject);
  EXPECT_EQ(back->recipients, entry.recipients);
  EXPECT_EQ(back->body, entry.body);
  EXPECT_EQ(back->attempts, 2);
  EXPECT_EQ(back->next_attempt, 1765200120);
  EXPECT_EQ(back->last_error, "line one  line two");
  EXPECT_FALSE(ParseOutboxEntry("Subject: no header line\n\nbody"));
  EXPECT_FALSE(ParseOutboxEntry(""));
}

TEST(OutboxEntryTest, RetryDelayDoublesUpToOneHour) {
  EXPECT_EQ(RetryDelay(1, 60), 60);
  EXPECT_EQ(RetryDelay(2, 60), 120);
  EXPECT_EQ(RetryDelay(3, 60), 240);
  EXPECT_EQ(RetryDelay(7, 60), 3600);
  EXPECT_EQ(RetryDelay(40, 60), 3600);
  EXPECT_EQ(RetryDelay(5, 0), 0);
}

// The engine holds a batch's locks at once: a byte two of them share stays
// taken, as another open of the lock file (vgqueue's) sees it, until both
// let go.
TEST(OutboxLocksTest, ALockTakenTwiceStaysHeldUntilBothLetGo) {
  testing::TempDir dir;
  OutboxLocks locks(dir.path());
  auto taken_elsewhere = [&dir] {
    UniqueFd fd(Files().Open(dir.path() + "/" + kOutboxLockFile, O_RDWR | O_CLOEXEC));
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;  // l_start 0, l_len 0: every byte
    EXPECT_EQ(::fcntl(fd.get(), F_OFD_GETLK, &probe), 0);
    return probe.l_type != F_UNLCK;
  };
  OutboxLocks::Held first = locks.Lock("0001-1-1");
  OutboxLocks::Held second = locks.Lock("0001-1-1");
  ASSERT_TRUE(first.held() && second.held());
  first.Release();
  EXPECT_TRUE(taken_elsewhere());
  second.Release();
  EXPECT_FALSE(taken_elsewhere());
}

class OutboxDeliveryTest : public ::testing::Test {
 protected:
  OutboxDeliveryTest() : log_([this] { return install_.server_dir() + "/vglog.ini"; }) {
#ifdef VIGILO_SMTP_PLUGIN_PATH
    setenv(VGSMTP_LIBRARY_ENV, VIGILO_SMTP_PLUGIN_PATH, 1);
#endif
    setenv("VIGILO_SMTP_CONNECT_TIMEOUT", "2", 1);
  }
  ~OutboxDeliveryTest() override { unsetenv(VGSMTP_LIBRARY_ENV); }

  // A new engine start: a new sender on the same server directory.
  CMailSender& Start(int port) {
    install_.SetMailKey("SMTP Mail", Format("1,0,127.0.0.1:%d,<>vigilo@example.org,", port));
    sender_.reset();
    CMailSender::Options options;
    options.log = &log_;
    sender_ = std::make_unique<CMailSender>(std::move(options));
    sender_->InitMailSystems();
    return *sender_;
  }

  static NotifyMessage Message(long long record, const std::string& to) {
    NotifyMessage message;
    message.rule_id = 6;
    message.record = record;
    message.table_id = "0\\ORVIK\\Proj\\Bugs";
    message.database_name = "Bugs.DBF";
    message.subject = Format("VIGILO Rule# 6 , Record# %lld of 0\\ORVIK\\Proj\\Bugs", record);
    message.body = "body\r\n";
    message.recipients = to;
    return message;
  }

  // One tick that submits the messages, each flagged through `flags`.
  void Tick(CMailSender& sender, const std::vector<NotifyMessage>& messages = {}) {
    sender.BeginTick();
    for (const NotifyMessage& message : messages) {
      sender.Submit(message, [this, &message] {
        flags_.push_back(message.record);
        return true;
      });
    }
    sender.EndTick();
  }

  // A new engine start whose only transport is the recording one.
  CMailSender& StartRecording() {
    sender_.reset();
    CMailSender::Options options;
    options.log = &log_;
    sender_ = std::make_unique<CMailSender>(std::move(options), testing::RecordingTransports(sent_));
    sender_->InitMailSystems();
    return *sender_;
  }

  std::vector<OutboxEntry> Pending() { return sender_->outbox().List(); }

  testing::TestInstallation install_;
  LogStream log_;
  std::unique_ptr<CMailSender> sender_;
  std::vector<long long> flags_;
  std::shared_ptr<testing::RecordingTransport::State> sent_ =
      std::make_shared<testing::RecordingTransport::State>();
};

TEST_F(OutboxDeliveryTest, OnlyRecipientsFailedForNowStayAndEachOutcomeIsObserved) {
  CMailSender& sender = StartRecording();
  std::vector<std::string> seen;
  sender.SetDeliveryObserver(
      [&seen](const OutboxEntry& entry, MessageOutcome outcome, const DeliveryReport& report) {
        std::string line = Format("%lld:%d", entry.record, static_cast<int>(outcome));
        for (const RecipientResult& result : report.results()) {
          line += Format(" %s=%d", result.address.c_str(), static_cast<int>(result.outcome));
        }
        seen.push_back(line);
      });
  sent_->outcomes = {{"SMTP:later@x.org", RecipientOutcome::kRetry},
                     {"SMTP:never@x.org", RecipientOutcome::kRefused},
                     {"ORVIK:ann", RecipientOutcome::kUnserved}};
  const std::time_t start = 1765200000;
  {
    ScopedFixedNow now(start);
    Tick(sender, {Message(12, "SMTP:now@x.org,SMTP:later@x.org,SMTP:never@x.org,ORVIK:ann")});
  }
  std::vector<OutboxEntry> pending = Pending();
  ASSERT_EQ(pending.size(), 1u);
  // No mail system served ORVIK:ann: it waits for one that does.
  EXPECT_EQ(pending[0].recipients, "ORVIK:ann,SMTP:later@x.org");
  EXPECT_EQ(pending[0].last_transport, "FAKE");
  EXPECT_EQ(pending[0].attempts, 1);
  EXPECT_GE(sent_->sessions_ended, 1);
  sent_->outcomes.clear();
  sent_->sent.clear();
  {
    ScopedFixedNow now(start + RetryDelay(1, sender.first_retry_delay()));
    Tick(sender);
  }
  EXPECT_THAT(Pending(), IsEmpty());
  ASSERT_EQ(sent_->sent.size(), 1u);
  EXPECT_EQ(sent_->sent[0].recipients, "ORVIK:ann,SMTP:later@x.org");
  EXPECT_THAT(seen, ElementsAre("12:1 ORVIK:ann=3 SMTP:now@x.org=0 SMTP:later@x.org=2 "
                                "SMTP:never@x.org=1",
                                "12:0 ORVIK:ann=0 SMTP:later@x.org=0"));
}

TEST_F(OutboxDeliveryTest, DeliveredMessageLeavesNothingInTheOutbox) {
  test::SmtpSink sink;
  CMailSender& sender = Start(sink.port());
  Tick(sender, {Message(1, "SMTP:ann@example.org"), Message(2, "SMTP:bob@example.org")});
  EXPECT_THAT(flags_, ElementsAre(1, 2));
  EXPECT_EQ(sink.WaitForMessages(2).size(), 2u);
  EXPECT_THAT(Pending(), IsEmpty());
  EXPECT_EQ(log_.Text(), "");
}

TEST_F(OutboxDeliveryTest, SmtpDownForThreeTicksThenUpDeliversEveryMessageOnce) {
  const int port = test::UnusedPort();
  std::time_t now = 1765200000;
  auto fixed = std::make_unique<ScopedFixedNow>(now);
  CMailSender& sender = Start(port);
  Tick(sender, {Message(1, "SMTP:ann@example.org,SMTP:bob@example.org"),
                Message(2, "SMTP:carl@example.org")});
  for (int tick = 2; tick <= 3; ++tick) {
    now += RetryDelay(tick - 1, sender.first_retry_delay());
    fixed.reset();  // restores the real clock before the next fix
    fixed = std::make_unique<ScopedFixedNow>(now);
    Tick(sender);
  }
  std::vector<OutboxEntry> pending = Pending();
  ASSERT_EQ(pending.size(), 2u) << log_.Text();
  EXPECT_EQ(pending[0].attempts, 3);
  EXPECT_EQ(pending[0].last_transport, "SMTP");
  EXPECT_EQ(pending[0].next_attempt, now + RetryDelay(3, sender.first_retry_delay()));
  // Behind the server that failed in each tick the other waited, not rewritten.
  EXPECT_EQ(pending[1].attempts, 0);
  EXPECT_TRUE(pending[1].flagged);
  // Before its next attempt is due a tick leaves the message alone.
  Tick(sender);
  EXPECT_EQ(Pending()[0].attempts, 3);

  test::SmtpSink sink(port);
  now += RetryDelay(3, sender.first_retry_delay());
  fixed.reset();  // restores the real clock before the next fix
  fixed = std::make_unique<ScopedFixedNow>(now);
  Tick(sender);
  Tick(sender);
  const auto mail = sink.WaitForMessages(3, std::chrono::milliseconds(1500));
  ASSERT_EQ(mail.size(), 2u);
  EXPECT_THAT(mail[0].recipients, ElementsAre("ann@example.org", "bob@example.org"));
  EXPECT_THAT(mail[1].recipients, ElementsAre("carl@example.org"));
  EXPECT_THAT(Pending(), IsEmpty());
  EXPECT_THAT(flags_, ElementsAre(1, 2));
}

TEST_F(OutboxDeliveryTest, MessagePastItsLifetimeIsGivenUpWithOneLine) {
  WriteProfileString(install_.program_dir() + "/vigtab.ini", "OPTIONS", kMailLifetimeKey, "60");
  std::time_t now = 1765200000;
  auto fixed = std::make_unique<ScopedFixedNow>(now);
  CMailSender& sender = Start(test::UnusedPort());
  EXPECT_EQ(sender.lifetime_seconds(), 3600);
  Tick(sender, {Message(2, "SMTP:ann@example.org")});
  ASSERT_EQ(Pending().size(), 1u);
  fixed.reset();  // restores the real clock before the next fix
  fixed = std::make_unique<ScopedFixedNow>(now + 3600);
  const size_t before = log_.Text().size();
  Tick(sender);
  EXPECT_THAT(Pending(), IsEmpty());
  const std::string text = log_.Text().substr(before);
  EXPECT_THAT(text, HasSubstr("Mail given up (SMTP) : Rule ID : 6 , Record# 2 : "));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;  // the failure, the give-up
  RunLogTally tally;
  RunLogJournalEntries(text, "", &tally);
  EXPECT_EQ(tally.errors, 2);  // lost mail is an error of the tick
}

TEST_F(OutboxDeliveryTest, RefusedRecipientIsNotTriedAgainAndTheOtherGetsTheMessage) {
  test::SmtpSink sink;
  CMailSender& sender = Start(sink.port());
  Tick(sender, {Message(3, "SMTP:reject@example.org,SMTP:ann@example.org")});
  const auto mail = sink.WaitForMessages(1);
  ASSERT_EQ(mail.size(), 1u);
  EXPECT_THAT(mail[0].recipients, ElementsAre("ann@example.org"));
  EXPECT_THAT(Pending(), IsEmpty());
  const std::string text = log_.Text();
  EXPECT_THAT(text, HasSubstr("Mail refused (SMTP) : SMTP:reject@example.org , Rule ID : 6 , "
                              "Record# 3 : 550 5.1.1 No such user here \r\n"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
}

TEST_F(OutboxDeliveryTest, EntryLeftUnflaggedByACrashGetsItsFlagNotASecondMessage) {
  test::SmtpSink sink;
  // The engine died after queueing the message, before the flag.
  OutboxEntry left;
  left.rule_id = 6;
  left.record = 4;
  left.table_id = "0\\ORVIK\\Proj\\Bugs";
  left.subject = "left behind";
  left.recipients = "SMTP:ann@example.org";
  left.body = "b";
  std::string error;
  ASSERT_TRUE(Outbox(Outbox::DirectoryOf(install_.server_dir())).Add(left, &error)) << error;

  CMailSender& sender = Start(sink.port());
  sender.WatchTable(left.table_id);
  sender.BeginTick();
  // Not delivered before its record is known to be flagged.
  EXPECT_TRUE(sink.WaitForMessages(1, std::chrono::milliseconds(300)).empty());
  std::vector<std::pair<int32_t, long long>> ensured;
  // A flag that cannot be written keeps it waiting.
  sender.ReconcileUnflagged("0\\ORVIK\\Other", [](int32_t) { return true; },
                            [&](int32_t, long long) { return true; });
  sender.ReconcileUnflagged(left.table_id, [](int32_t) { return true; },
                            [&](int32_t rule, long long record) {
                              ensured.emplace_back(rule, record);
                              return false;
                            });
  sender.EndTick();
  ASSERT_EQ(Pending().size(), 1u);
  EXPECT_FALSE(Pending()[0].flagged);

  sender.BeginTick();
  sender.ReconcileUnflagged(left.table_id, [](int32_t) { return true; },
                            [&](int32_t rule, long long record) {
                              ensured.emplace_back(rule, record);
                              return true;
                            });
  sender.EndTick();
  EXPECT_THAT(ensured, ElementsAre(std::make_pair(6, 4LL), std::make_pair(6, 4LL)));
  const auto mail = sink.WaitForMessages(2, std::chrono::milliseconds(1000));
  ASSERT_EQ(mail.size(), 1u);
  EXPECT_EQ(mail[0].subject, "left behind");
  EXPECT_THAT(Pending(), IsEmpty());
}

TEST_F(OutboxDeliveryTest, EntryLeftUnflaggedForATableNoLongerWatchedIsDelivered) {
  test::SmtpSink sink;
  OutboxEntry left;
  left.rule_id = 9;
  left.record = 4;
  left.table_id = "0\\ORVIK\\Proj\\Gone";
  left.subject = "of a table without rules now";
  left.recipients = "SMTP:ann@example.org";
  std::string error;
  ASSERT_TRUE(Outbox(Outbox::DirectoryOf(install_.server_dir())).Add(left, &error)) << error;
  CMailSender& sender = Start(sink.port());
  sender.WatchTable("0\\ORVIK\\Proj\\Bugs");
  Tick(sender);
  const auto mail = sink.WaitForMessages(1);
  ASSERT_EQ(mail.size(), 1u);
  EXPECT_EQ(mail[0].subject, "of a table without rules now");
  EXPECT_THAT(Pending(), IsEmpty());
}

TEST_F(OutboxDeliveryTest, OutboxThatCannotBeWrittenSendsAndFlagsNothing) {
  test::SmtpSink sink;
  // The outbox's place is taken by a file: no entry can be written there.
  std::ofstream(Outbox::DirectoryOf(install_.server_dir())) << "not a directory";
  CMailSender& sender = Start(sink.port());
  Tick(sender, {Message(5, "SMTP:ann@example.org")});
  EXPECT_THAT(flags_, IsEmpty());
  EXPECT_THAT(log_.Text(), HasSubstr("Mail not queued : Rule ID : 6 , Record# 5 : "));
  EXPECT_TRUE(sink.WaitForMessages(1, std::chrono::milliseconds(300)).empty());

  std::filesystem::remove(Outbox::DirectoryOf(install_.server_dir()));
  Tick(sender, {Message(5, "SMTP:ann@example.org")});
  EXPECT_THAT(flags_, ElementsAre(5));
  EXPECT_EQ(sink.WaitForMessages(1).size(), 1u);
}

TEST_F(OutboxDeliveryTest, SmtpRecipientsWithSmtpOffStayQueuedWithOneErrorLinePerMessage) {
  CMailSender::Options options;
  options.log = &log_;
  sender_ = std::make_unique<CMailSender>(std::move(options));  // no "SMTP Mail" key
  sender_->InitMailSystems();
  ASSERT_FALSE(sender_->systems().smtp_ready());
  Tick(*sender_, {Message(1, "SMTP:ann@example.org,SMTP:bob@example.org"),
                  Message(2, "SMTP:ann@example.org")});
  const std::string text = log_.Text();
  EXPECT_EQ(text,
            "Mail delivery failed (SMTP) : no mail system serves "
            "SMTP:ann@example.org,SMTP:bob@example.org (SMTP is not set up) , Rule ID : 6 , "
            "Record# 1 , kept in the outbox \r\n"
            "Mail delivery failed (SMTP) : no mail system serves SMTP:ann@example.org (SMTP is "
            "not set up) , Rule ID : 6 , Record# 2 , kept in the outbox \r\n");
  RunLogTally tally;
  RunLogJournalEntries(text, "", &tally);
  EXPECT_EQ(tally.errors, 2);  // the tick's exit status says so
  std::vector<OutboxEntry> pending = Pending();
  ASSERT_EQ(pending.size(), 2u);
  EXPECT_EQ(pending[0].last_error, "SMTP is not set up");
}

TEST_F(OutboxDeliveryTest, InternalMailRowThatCannotBeWrittenIsWrittenAtALaterTick) {
  WriteProfileString(install_.program_dir() + "/vigtab.ini", "OPTIONS", kMailRetryDelayKey, "0");
  test::SmtpSink sink;
  CMailSender& sender = Start(sink.port());
  // No ORVKPOST yet: the row fails, the SMTP recipient is served at once.
  Tick(sender, {Message(9, "ORVIK:ann,SMTP:bob@example.org")});
  EXPECT_EQ(sink.WaitForMessages(1).size(), 1u);
  std::vector<OutboxEntry> pending = Pending();
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].recipients, "ORVIK:ann");
  EXPECT_EQ(pending[0].last_transport, "ORVIK");

  install_.WriteInternalMailTable();
  Tick(sender);
  EXPECT_THAT(Pending(), IsEmpty());
  auto table = DbfTable::Open(install_.server_dir() + "/ORVKPOST.dbf", false);
  ASSERT_TRUE(table->GoFirst());
  EXPECT_EQ(table->Text(1), "ann");
  EXPECT_EQ(table->FieldLong(5), 9);
  EXPECT_EQ(table->Text(6), "Bugs.DBF");
  EXPECT_FALSE(table->Skip());
  // The SMTP recipient was not sent the message again.
  EXPECT_EQ(sink.WaitForMessages(2, std::chrono::milliseconds(300)).size(), 1u);
}

// A disk with no room left: every write fails as a full disk does.
class FullDisk : public FileSystemWrapper {
 public:
  FullDisk() : FileSystemWrapper(RealFileSystem()) {}
  ssize_t Write(int, const void*, size_t) override {
    errno = ENOSPC;
    return -1;
  }
};

TEST_F(OutboxDeliveryTest, FullDiskQueuesFlagsAndSendsNothingAndLeavesNoFileBehind) {
  test::SmtpSink sink;
  CMailSender& sender = Start(sink.port());
  {
    FullDisk full;
    ScopedFileSystem scoped(full);
    Tick(sender, {Message(7, "SMTP:ann@example.org"), Message(8, "SMTP:ann@example.org")});
  }
  EXPECT_THAT(flags_, IsEmpty());
  EXPECT_THAT(log_.Text(), HasSubstr("Mail not queued : Rule ID : 6 , Record# 8 : "));
  EXPECT_THAT(log_.Text(), HasSubstr("No space left on device"));
  // Nothing but the empty file whose bytes are the messages' locks.
  for (const auto& item :
       std::filesystem::directory_iterator(Outbox::DirectoryOf(install_.server_dir()))) {
    EXPECT_EQ(item.path().filename(), kOutboxLockFile);
    EXPECT_EQ(item.file_size(), 0u);
  }
  EXPECT_TRUE(sink.WaitForMessages(1, std::chrono::milliseconds(300)).empty());

  // Space is back: the next tick composes them again, and each goes out once.
  Tick(sender, {Message(7, "SMTP:ann@example.org"), Message(8, "SMTP:ann@example.org")});
  EXPECT_THAT(flags_, ElementsAre(7, 8));
  EXPECT_EQ(sink.WaitForMessages(3, std::chrono::milliseconds(800)).size(), 2u);
}

}  // namespace
TEST_F(OutboxDeliveryTest, TickDeliversAtMostItsLimitAndTheRestAtTheNextTicksEachOnce) {
  WriteProfileString(install_.program_dir() + "/vigtab.ini", "OPTIONS", kMailTickLimitKey, "5");
  CMailSender& sender = StartRecording();
  ASSERT_EQ(sender.tick_limit(), 5);
  std::vector<NotifyMessage> messages;
  for (long long record = 1; record <= 12; ++record) {
    messages.push_back(Message(record, "SMTP:ann@example.org"));
  }
  Tick(sender, messages);
  EXPECT_EQ(flags_.size(), 12u);
  std::vector<size_t> sent_after;
  sent_after.push_back(sent_->sent.size());
  for (int tick = 0; tick < 3; ++tick) {
    Tick(sender);
    sent_after.push_back(sent_->sent.size());
  }
  EXPECT_THAT(sent_after, ElementsAre(5, 10, 12, 12));
  std::vector<long long> records;
  for (const auto& sent : sent_->sent) records.push_back(sent.record);
  EXPECT_THAT(records, ElementsAre(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12));
  EXPECT_THAT(Pending(), IsEmpty());
}

TEST_F(OutboxDeliveryTest, DamagedFilesAreQuarantinedWithOneErrorLineEachAndComposedAgain) {
  CMailSender& sender = StartRecording();
  Outbox& outbox = sender.outbox();
  OutboxEntry kept;
  kept.rule_id = 6;
  kept.record = 9;
  kept.table_id = "0\\ORVIK\\Proj\\Bugs";
  kept.body = "body";
  kept.recipients = "SMTP:ann@example.org";
  std::string error;
  ASSERT_TRUE(outbox.Add(kept, &error) && outbox.MarkFlagged(kept, &error)) << error;
  std::string text;
  ASSERT_TRUE(ReadFile(outbox.PathOf(kept), text));
  auto write = [&outbox](const std::string& name, const std::string& content) {
    std::ofstream(outbox.directory() + "/" + name, std::ios::binary) << content;
  };
  OutboxEntry cut = kept;
  cut.id = "1000000000000000001-1-1";
  cut.record = 1;
  std::string cut_text = SerializeOutboxEntry(cut);
  write(cut.id + ".msg", cut_text.substr(0, cut_text.size() - 2));
  OutboxEntry huge = kept;
  huge.id = "1000000000000000002-1-1";
  huge.record = 2;
  std::string huge_text = SerializeOutboxEntry(huge);
  huge_text.replace(huge_text.find("Length: 4"), 9, "Length: 100000000000000000000");
  write(huge.id + ".msg", huge_text);
  write("1000000000000000003-1-1.msg", "");
  write("1000000000000000004-1-1.msg", std::string("\x93\x01\xff\n\n\0garbage", 13));
  write("1000000000000000005-1-1.msg", text);  // a copy: its Id names the kept one
  // Spares a crash left taken but unwritten (cut to nothing, or NUL bytes)
  // are no damage: removed without a word, their records composed again.
  write("1000000000000000006-1-1.new", "");
  write("1000000000000000007-1-1.new", std::string(300, '\0'));

  Tick(sender);
  const std::string log = log_.Text();
  RunLogTally tally;
  RunLogJournalEntries(log, "", &tally);
  EXPECT_EQ(tally.errors, 5) << log;
  EXPECT_THAT(log, HasSubstr("1000000000000000001-1-1.msg (its body is not of the length its "
                             "header says) : moved to "));
  EXPECT_THAT(log, HasSubstr("Rule ID : 6 , Record# 2 , the message is composed again"));
  EXPECT_THAT(log, HasSubstr("1000000000000000003-1-1.msg (the file is empty)"));
  EXPECT_THAT(log, HasSubstr("Rule ID : 6 , Record# 9 , a copy of another message"));
  EXPECT_EQ(outbox.QuarantinedNames().size(), 5u);
  EXPECT_FALSE(std::filesystem::exists(outbox.directory() + "/1000000000000000007-1-1.new"));
  EXPECT_THAT(sender.TakeRecordsToComposeAgain(kept.table_id),
              ElementsAre(std::make_pair(6, 1LL), std::make_pair(6, 2LL)));
  ASSERT_EQ(sent_->sent.size(), 1u);  // the kept message, once
  EXPECT_EQ(sent_->sent[0].record, 9);
  Tick(sender);
  EXPECT_EQ(log_.Text(), log);  // said once
}

}  // namespace vigilo
