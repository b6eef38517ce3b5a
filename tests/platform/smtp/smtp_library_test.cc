// The SMTP library loaded as the programs load it, delivering to a real SMTP
// server on 127.0.0.1.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/format.h"
#include "platform/loader/mail_plugins.h"
#include "tests/support/smtp_sink.h"

namespace vigilo {
namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

class SmtpLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv(VGSMTP_LIBRARY_ENV, VGSMTP_PLUGIN_PATH, 1);
    plugin_ = LoadSmtpPlugin("");
    ::unsetenv(VGSMTP_LIBRARY_ENV);
    ASSERT_TRUE(plugin_.load.ok()) << plugin_.load.error;
  }
  void TearDown() override {
    if (plugin_.close_session != nullptr) plugin_.close_session();
    ::unsetenv("VIGILO_SMTP_TIMEOUT");
    ::unsetenv("VIGILO_SMTP_CONNECT_TIMEOUT");
  }

  // The record as the mail sender fills it.
  static SmtpMessage Record(const std::string& server, const std::string& recipients,
                            const std::string& subject, const std::string& body) {
    static std::string texts[5];
    texts[0] = server;
    texts[1] = "vigilo@orvik.test";
    texts[2] = recipients;
    texts[3] = subject;
    texts[4] = body;
    return {texts[0].c_str(), texts[1].c_str(), texts[2].c_str(), 0, 0,
            texts[3].c_str(), texts[4].c_str(), 0, 0, VGSMTP_BODY_PLAIN_TEXT};
  }

  int32_t Send(const SmtpMessage& record) {
    EXPECT_EQ(plugin_.open_session(), VGSMTP_OK);
    int32_t result = plugin_.send_mail(&record);
    EXPECT_EQ(plugin_.close_session(), VGSMTP_OK);
    return result;
  }

  SmtpPlugin plugin_;
};

TEST(SmtpRecordTest, TenPointerSizedFields) {
  EXPECT_EQ(sizeof(SmtpMessage), 10 * sizeof(void*));
  EXPECT_EQ(offsetof(SmtpMessage, subject), 5 * sizeof(void*));
  EXPECT_EQ(offsetof(SmtpMessage, body_format), 9 * sizeof(void*));
}

TEST_F(SmtpLibraryTest, TwoRecipientsGetOneMessageWithSubjectAndBodyIntact) {
  test::SmtpSink sink;
  std::string subject = "VIGILO Rule# 7 , Record# 42 of Bugs \xe2\x80\x93 r\xc3\xa9solu";
  std::string body =
      "Title : \xc3\x9c" "berlauf im Z\xc3\xa4hler\r\n"
      ".\r\n"
      "..two dots\r\n"
      ".leading dot\r\n"
      "\r\n"
      "Status : Closed\r\n";
  ASSERT_EQ(Send(Record(sink.host_port(), "ann@orvik.test,bob@orvik.test", subject, body)),
            VGSMTP_OK)
      << plugin_.last_error();
  EXPECT_STREQ(plugin_.last_error(), "");

  std::vector<test::ReceivedMail> mails = sink.Messages();
  ASSERT_EQ(mails.size(), 1u);
  const test::ReceivedMail& mail = mails[0];
  EXPECT_EQ(mail.sender, "vigilo@orvik.test");
  EXPECT_EQ(mail.recipients, (std::vector<std::string>{"ann@orvik.test", "bob@orvik.test"}));
  EXPECT_EQ(mail.subject, subject);
  EXPECT_EQ(mail.body, body);
  EXPECT_EQ(mail.RawBody(), body);
  EXPECT_EQ(mail.Header("From"), "vigilo@orvik.test");
  EXPECT_EQ(mail.Header("To"), "ann@orvik.test, bob@orvik.test");
  EXPECT_EQ(mail.Header("Content-Type"), "text/plain; charset=utf-8");
  EXPECT_EQ(mail.Header("MIME-Version"), "1.0");
  EXPECT_FALSE(mail.Header("Date").empty());
  EXPECT_NE(mail.Header("Message-ID").find("@orvik.test>"), std::string::npos);
}

TEST_F(SmtpLibraryTest, TenThousandLineBodyArrivesWhole) {
  test::SmtpSink sink;
  std::string body;
  for (int i = 0; i < 10000; ++i) {
    body += i % 100 == 0 ? std::string(".") : Format("line %05d of the report", i);
    body += "\r\n";
  }
  ASSERT_EQ(Send(Record(sink.host_port(), "ann@orvik.test", "long", body)), VGSMTP_OK)
      << plugin_.last_error();
  std::vector<test::ReceivedMail> mails = sink.Messages();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].RawBody(), body);
}

TEST_F(SmtpLibraryTest, BareLineFeedsTravelAsCrlf) {
  test::SmtpSink sink;
  ASSERT_EQ(Send(Record(sink.host_port(), " ann@orvik.test , ", "lf", "one\ntwo\n.\nend")),
            VGSMTP_OK)
      << plugin_.last_error();
  std::vector<test::ReceivedMail> mails = sink.Messages();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].recipients, std::vector<std::string>{"ann@orvik.test"});
  EXPECT_EQ(mails[0].RawBody(), "one\r\ntwo\r\n.\r\nend\r\n");
}

TEST_F(SmtpLibraryTest, SingleByteTextAndOverlongLinesAreEncodedFaithfully) {
  test::SmtpSink sink;
  std::string long_line(3000, 'x');
  std::string body = "Caf\xe9 ferm\xe9\r\n" + long_line + "\r\n";
  ASSERT_EQ(Send(Record(sink.host_port(), "ann@orvik.test", "Caf\xe9", body)), VGSMTP_OK)
      << plugin_.last_error();
  std::vector<test::ReceivedMail> mails = sink.Messages();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].Header("Content-Type"), "text/plain; charset=windows-1252");
  EXPECT_EQ(mails[0].Header("Content-Transfer-Encoding"), "quoted-printable");
  EXPECT_EQ(mails[0].subject, "Caf\xc3\xa9");
  EXPECT_EQ(mails[0].body, "Caf\xc3\xa9 ferm\xc3\xa9\r\n" + long_line + "\r\n");
}

TEST_F(SmtpLibraryTest, OneSessionDeliversSeveralMessages) {
  test::SmtpSink sink;
  ASSERT_EQ(plugin_.open_session(), VGSMTP_OK);
  for (int i = 0; i < 3; ++i) {
    SmtpMessage record = Record(sink.host_port(), "ann@orvik.test", Format("n%d", i), "x");
    ASSERT_EQ(plugin_.send_mail(&record), VGSMTP_OK) << plugin_.last_error();
  }
  std::vector<test::ReceivedMail> mails = sink.Messages();
  ASSERT_EQ(mails.size(), 3u);
  EXPECT_EQ(mails[2].subject, "n2");
}

TEST_F(SmtpLibraryTest, ServerThatIsDownGivesConnectError) {
  std::string server = Format("127.0.0.1:%d", test::UnusedPort());
  EXPECT_EQ(Send(Record(server, "ann@orvik.test", "s", "b")), VGSMTP_E_CONNECT);
  std::string error = plugin_.last_error();
  EXPECT_NE(error.find("to " + server + " failed"), std::string::npos) << error;
}

TEST_F(SmtpLibraryTest, RefusedRecipientIsLeftOutAndTheOthersReceiveTheMessage) {
  test::SmtpSink sink;
  EXPECT_EQ(Send(Record(sink.host_port(), "ann@orvik.test,rejected@orvik.test", "s", "b")),
            VGSMTP_OK);
  ASSERT_NE(plugin_.refused_recipients, nullptr);
  EXPECT_EQ(std::string(plugin_.refused_recipients()),
            "550 rejected@orvik.test 550 5.1.1 No such user here\n");
  const auto mails = sink.WaitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].recipients, std::vector<std::string>{"ann@orvik.test"});
}

TEST_F(SmtpLibraryTest, MessageWhoseEveryRecipientIsRefusedFailsWithTheServersCode) {
  test::SmtpSink sink;
  EXPECT_EQ(Send(Record(sink.host_port(), "reject1@orvik.test,rejected@orvik.test", "s", "b")),
            VGSMTP_E_REJECTED);
  std::string error = plugin_.last_error();
  EXPECT_NE(error.find("550"), std::string::npos) << error;
  ASSERT_NE(plugin_.last_reply_code, nullptr);
  EXPECT_EQ(plugin_.last_reply_code(), 550);
  EXPECT_EQ(SplitLines(plugin_.refused_recipients()).size(), 2u);
  EXPECT_TRUE(sink.Messages().empty());
}

TEST_F(SmtpLibraryTest, ServerThatNeverAnswersTimesOut) {
  // Accepts connections (the kernel's backlog does) but never greets.
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  ::setenv("VIGILO_SMTP_TIMEOUT", "1", 1);

  auto start = std::chrono::steady_clock::now();
  int32_t result =
      Send(Record(Format("127.0.0.1:%d", ntohs(address.sin_port)), "ann@orvik.test", "s", "b"));
  auto elapsed = std::chrono::steady_clock::now() - start;
  ::close(listener);
  EXPECT_EQ(result, VGSMTP_E_TIMEOUT) << plugin_.last_error();
  EXPECT_LT(elapsed, std::chrono::seconds(20));
}

// A message for one recipient goes without the per-recipient reply watch;
// a refusal still carries the server's words, and the session serves the
// next message.
TEST_F(SmtpLibraryTest, LoneRefusedRecipientKeepsTheServersWordsAndTheSessionGoesOn) {
  test::SmtpSink sink;
  EXPECT_EQ(Send(Record(sink.host_port(), "rejected@orvik.test", "s", "b")), VGSMTP_E_REJECTED);
  EXPECT_EQ(plugin_.last_reply_code(), 550);
  EXPECT_EQ(std::string(plugin_.refused_recipients()),
            "550 rejected@orvik.test 550 5.1.1 No such user here\n");
  EXPECT_EQ(Send(Record(sink.host_port(), "ann@orvik.test", "s", "b")), VGSMTP_OK);
  const auto mails = sink.WaitForMessages(1);
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].recipients, std::vector<std::string>{"ann@orvik.test"});
}

TEST_F(SmtpLibraryTest, UnusableRecordsAreRefusedWithoutSending) {
  test::SmtpSink sink;
  ASSERT_EQ(plugin_.open_session(), VGSMTP_OK);
  EXPECT_EQ(plugin_.send_mail(nullptr), VGSMTP_E_BAD_MESSAGE);

  SmtpMessage no_recipient = Record(sink.host_port(), " , ", "s", "b");
  EXPECT_EQ(plugin_.send_mail(&no_recipient), VGSMTP_E_BAD_MESSAGE);

  SmtpMessage html = Record(sink.host_port(), "ann@orvik.test", "s", "b");
  html.body_format = 2;
  EXPECT_EQ(plugin_.send_mail(&html), VGSMTP_E_BAD_MESSAGE);

  SmtpMessage no_server = Record("", "ann@orvik.test", "s", "b");
  EXPECT_EQ(plugin_.send_mail(&no_server), VGSMTP_E_BAD_MESSAGE);

  // A line break in an address would let text into the headers or commands.
  SmtpMessage injected = Record(sink.host_port(), "ann@orvik.test\r\nBcc: eve@evil.test",
                                "s", "b");
  EXPECT_EQ(plugin_.send_mail(&injected), VGSMTP_E_BAD_MESSAGE);
  EXPECT_NE(std::string(plugin_.last_error()).find("bad recipient"), std::string::npos);

  SmtpMessage fine = Record(sink.host_port(), "ann@orvik.test", "s", "b");
  fine.sender = nullptr;
  EXPECT_EQ(plugin_.send_mail(&fine), VGSMTP_E_BAD_MESSAGE);

  ASSERT_EQ(plugin_.close_session(), VGSMTP_OK);
  SmtpMessage after_close = Record(sink.host_port(), "ann@orvik.test", "s", "b");
  EXPECT_EQ(plugin_.send_mail(&after_close), VGSMTP_E_NO_SESSION);
  EXPECT_TRUE(sink.Messages().empty());
}

TEST_F(SmtpLibraryTest, SubjectLineBreaksCannotAddHeaders) {
  test::SmtpSink sink;
  ASSERT_EQ(Send(Record(sink.host_port(), "ann@orvik.test", "Hi\r\nBcc: eve@evil.test", "b")),
            VGSMTP_OK);
  std::vector<test::ReceivedMail> mails = sink.Messages();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].recipients, std::vector<std::string>{"ann@orvik.test"});
  EXPECT_EQ(mails[0].Header("Bcc"), "");
  EXPECT_EQ(mails[0].subject, "Hi  Bcc: eve@evil.test");
}

}  // namespace
}  // namespace vigilo
