// Delivery through the real mail plugins of this build to a real SMTP server
// on 127.0.0.1.
#include <stdlib.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/format.h"
#include "common/ini_profile.h"
#include "data/log_stream.h"
#include "notify/mail_sender.h"
#include "tests/support/test_installation.h"
#include "tests/support/smtp_sink.h"

namespace vigilo {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class SmtpDeliveryTest : public ::testing::Test {
 protected:
  SmtpDeliveryTest() : log_([this] { return install_.server_dir() + "/vglog.ini"; }) {
#ifdef VIGILO_SMTP_PLUGIN_PATH
    setenv(VGSMTP_LIBRARY_ENV, VIGILO_SMTP_PLUGIN_PATH, 1);
#endif
    setenv("VIGILO_SMTP_CONNECT_TIMEOUT", "2", 1);
  }
  ~SmtpDeliveryTest() override { unsetenv(VGSMTP_LIBRARY_ENV); }

  CMailSender& Sender(const std::string& host_port) {
    install_.SetMailKey("SMTP Mail", "1,0," + host_port + ",<>vigilo@example.org,");
    CMailSender::Options options;
    options.log = &log_;
    sender_ = std::make_unique<CMailSender>(std::move(options));
    sender_->InitMailSystems();
    return *sender_;
  }

  testing::TestInstallation install_;
  LogStream log_;
  std::unique_ptr<CMailSender> sender_;
};

TEST_F(SmtpDeliveryTest, TwoSmtpAddressesArriveAsOneMessage) {
  test::SmtpSink sink;
  CMailSender& sender = Sender(sink.host_port());
  ASSERT_TRUE(sender.systems().smtp_ready());
  sender.Dispatch("Audit line\r\n\r\nDetailed Description of the record\r\n",
                  "SMTP:ann@example.org,SMTP: bob@example.org", "VIGILO Rule# 3 , Record# 12 of x",
                  nullptr, "BUGS.DBF");
  std::vector<test::ReceivedMail> mail = sink.WaitForMessages(1);
  ASSERT_EQ(mail.size(), 1u);
  EXPECT_EQ(mail[0].sender, "vigilo@example.org");
  EXPECT_THAT(mail[0].recipients, ElementsAre("ann@example.org", "bob@example.org"));
  EXPECT_EQ(mail[0].subject, "VIGILO Rule# 3 , Record# 12 of x");
  EXPECT_THAT(mail[0].body, HasSubstr("Detailed Description of the record"));
  EXPECT_EQ(log_.Text(), "");
}

TEST_F(SmtpDeliveryTest, ServerDownLeavesExactlyOneRunLogLine) {
  CMailSender& sender = Sender(Format("127.0.0.1:%d", test::UnusedPort()));
  ASSERT_TRUE(sender.systems().smtp_ready());
  sender.Dispatch("body", "SMTP:ann@example.org", "subject", nullptr, "BUGS.DBF");
  std::string text = log_.Text();
  EXPECT_THAT(text, StartsWith("Mail delivery failed (SMTP) : "));
  EXPECT_THAT(text, HasSubstr("ann@example.org"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
  EXPECT_EQ(text.substr(text.size() - 3), " \r\n");
}

TEST_F(SmtpDeliveryTest, RefusedRecipientGetsOneLineAndTheOtherTheMessage) {
  test::SmtpSink sink;
  CMailSender& sender = Sender(sink.host_port());
  sender.Dispatch("body", "SMTP:reject@example.org,SMTP:ann@example.org", "subject", nullptr, "");
  std::string text = log_.Text();
  EXPECT_THAT(text, StartsWith("Mail refused (SMTP) : SMTP:reject@example.org , "));
  EXPECT_THAT(text, HasSubstr("550"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
  std::vector<test::ReceivedMail> mail = sink.WaitForMessages(1);
  ASSERT_EQ(mail.size(), 1u);
  EXPECT_THAT(mail[0].recipients, ElementsAre("ann@example.org"));
}

class MapiDeliveryTest : public ::testing::Test {
 protected:
  MapiDeliveryTest() : log_([this] { return install_.server_dir() + "/vglog.ini"; }) {
#ifdef VIGILO_MAPI_PLUGIN_PATH
    setenv(VGMAPI_LIBRARY_ENV, VIGILO_MAPI_PLUGIN_PATH, 1);
#endif
    ini_ = install_.program_dir() + "/mapi.ini";
    setenv(VGMAPI_INI_ENV, ini_.c_str(), 1);
    setenv("VIGILO_SMTP_CONNECT_TIMEOUT", "2", 1);
    WriteProfileString(ini_, "Profiles", "Vigilo", "secret");
    WriteProfileString(ini_, "Address Book", "John Smith", "john@example.org");
    WriteProfileString(ini_, "Delivery", "From", "Vigilo <vigilo@example.org>");
    install_.SetMailKey("MAPI Mail", "x,y,z,6:Vigilo,6:secret,");
  }
  ~MapiDeliveryTest() override {
    unsetenv(VGMAPI_LIBRARY_ENV);
    unsetenv(VGMAPI_INI_ENV);
  }

  CMailSender& Sender(const std::string& smtp_url) {
    WriteProfileString(ini_, "Delivery", "SmtpUrl", smtp_url);
    plugin_ = std::make_unique<MapiPlugin>(LoadMapiPlugin(install_.program_dir()));
    EXPECT_TRUE(plugin_->load.ok()) << plugin_->load.error;
    CMailSender::Options options;
    options.log = &log_;
    options.mapi = MapiFunctionsOf(*plugin_);
    options.smtp_loader = [](const std::string&) { return SmtpPlugin{}; };
    sender_ = std::make_unique<CMailSender>(std::move(options));
    sender_->InitMailSystems();
    return *sender_;
  }

  void TearDown() override {
    if (sender_) sender_->LogoffMapi();
    sender_.reset();
    plugin_.reset();
  }

  testing::TestInstallation install_;
  LogStream log_;
  std::string ini_;
  std::unique_ptr<MapiPlugin> plugin_;
  std::unique_ptr<CMailSender> sender_;
};

TEST_F(MapiDeliveryTest, DirectAddressArrivesFirstThenTheResolvedNames) {
  test::SmtpSink sink;
  CMailSender& sender = Sender(sink.url());
  ASSERT_TRUE(sender.systems().session_open());
  sender.Dispatch("body", "John Smith,CCMAIL:carl@example.org,Nobody Known,ann@example.org",
                  "subject", nullptr, "");
  std::vector<test::ReceivedMail> mail = sink.WaitForMessages(2);
  ASSERT_EQ(mail.size(), 2u);
  EXPECT_THAT(mail[0].recipients, ElementsAre("carl@example.org"));
  EXPECT_THAT(mail[1].recipients, ElementsAre("john@example.org", "ann@example.org"));
  EXPECT_EQ(mail[1].subject, "subject");
  EXPECT_EQ(log_.Text(), "");
}

TEST_F(MapiDeliveryTest, ServerDownLeavesOneRunLogLinePerMessage) {
  CMailSender& sender = Sender(Format("smtp://127.0.0.1:%d", test::UnusedPort()));
  ASSERT_TRUE(sender.systems().session_open());
  sender.Dispatch("body", "John Smith", "subject", nullptr, "");
  std::string text = log_.Text();
  EXPECT_THAT(text, StartsWith("Mail delivery failed (MAPI) : "));
  EXPECT_THAT(text, HasSubstr("(to John Smith)"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
}

TEST_F(MapiDeliveryTest, ProviderMessagesWaitInTheOutboxUntilTheServerIsBack) {
  const int port = test::UnusedPort();
  WriteProfileString(install_.program_dir() + "/vigtab.ini", "OPTIONS", kMailRetryDelayKey, "0");
  CMailSender& sender = Sender(Format("smtp://127.0.0.1:%d", port));
  NotifyMessage message;
  message.rule_id = 3;
  message.record = 12;
  message.table_id = "0\\ORVIK\\Proj\\Bugs";
  message.subject = "VIGILO Rule# 3 , Record# 12 of 0\\ORVIK\\Proj\\Bugs";
  message.body = "body";
  message.recipients = "John Smith,CCMAIL:carl@example.org";
  sender.BeginTick();
  sender.Submit(message, [] { return true; });
  sender.EndTick();
  std::vector<OutboxEntry> pending = sender.outbox().List();
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].last_transport, "MAPI");
  EXPECT_EQ(pending[0].recipients, "CCMAIL:carl@example.org,John Smith");

  test::SmtpSink sink(port);
  sender.BeginTick();
  sender.EndTick();
  std::vector<test::ReceivedMail> mail = sink.WaitForMessages(2);
  ASSERT_EQ(mail.size(), 2u);
  EXPECT_THAT(mail[0].recipients, ElementsAre("carl@example.org"));
  EXPECT_THAT(mail[1].recipients, ElementsAre("john@example.org"));
  EXPECT_TRUE(sender.outbox().List().empty());
}

}  // namespace
}  // namespace vigilo
