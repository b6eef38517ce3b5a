#include "platform/smtp/mail_message.h"

#include <gtest/gtest.h>

#include "platform/smtp/smtp_client.h"

namespace vigilo::mail {
namespace {

TEST(MailMessageTest, LineEndsBecomeCrlfAndTheLastLineIsEnded) {
  EXPECT_EQ(NormaliseLineEnds(""), "");
  EXPECT_EQ(NormaliseLineEnds("a"), "a\r\n");
  EXPECT_EQ(NormaliseLineEnds("a\r\nb\nc\rd\r\n"), "a\r\nb\r\nc\r\nd\r\n");
  EXPECT_EQ(NormaliseLineEnds("\n\n"), "\r\n\r\n");
  EXPECT_EQ(ToUnixLineEnds("a\r\nb\r\n"), "a\nb\n");
}

TEST(MailMessageTest, CharsetFollowsTheBytes) {
  EXPECT_EQ(DetectCharset("plain"), "us-ascii");
  EXPECT_EQ(DetectCharset("r\xc3\xa9solu \xe2\x80\x93"), "utf-8");
  EXPECT_EQ(DetectCharset("r\xe9solu"), "windows-1252");
  EXPECT_EQ(DetectCharset("\xc3"), "windows-1252");  // cut sequence
}

TEST(MailMessageTest, SubjectEncodingKeepsShortAsciiAndSplitsOnCharacters) {
  EXPECT_EQ(EncodeSubject("VIGILO Rule# 1 , Record# 2 of Bugs"),
            "VIGILO Rule# 1 , Record# 2 of Bugs");
  std::string long_utf8;
  for (int i = 0; i < 40; ++i) long_utf8 += "\xc3\xa9";  // 80 bytes of é
  std::string encoded = EncodeSubject(long_utf8);
  // Two words of at most 75 characters, neither splitting a character.
  size_t fold = encoded.find("\r\n ");
  ASSERT_NE(fold, std::string::npos);
  EXPECT_LE(fold, 75u);
  EXPECT_EQ(encoded.substr(0, 10), "=?utf-8?B?");
  EXPECT_EQ(encoded.find("\r\n", fold + 1), std::string::npos);
  EXPECT_EQ(EncodeSubject("a\r\nb").find('\n'), std::string::npos);
}

TEST(MailMessageTest, QuotedPrintableKeepsLinesShort) {
  std::string encoded = EncodeQuotedPrintable(std::string(200, 'a') + "=\xe9 \r\nend\r\n");
  size_t start = 0;
  while (start < encoded.size()) {
    size_t end = encoded.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    EXPECT_LE(end - start, 76u);
    start = end + 2;
  }
  EXPECT_NE(encoded.find("=3D=E9=20\r\nend\r\n"), std::string::npos);
}

TEST(MailMessageTest, AddressesAreSplitAndUnwrapped) {
  EXPECT_EQ(SplitAddressList(" a@x ,, b@y,"), (std::vector<std::string>{"a@x", "b@y"}));
  EXPECT_EQ(EnvelopeAddress("Vigilo Service <vigilo@x.test>"), "vigilo@x.test");
  EXPECT_EQ(EnvelopeAddress(" vigilo@x.test "), "vigilo@x.test");
}

TEST(SmtpClientTest, ServerTextBecomesUrl) {
  EXPECT_EQ(SmtpUrlForServer("mail.orvik.test"), "smtp://mail.orvik.test:25");
  EXPECT_EQ(SmtpUrlForServer(" 127.0.0.1:2525 "), "smtp://127.0.0.1:2525");
  EXPECT_EQ(SmtpUrlForServer("[::1]:2525"), "smtp://[::1]:2525");
  EXPECT_EQ(SmtpUrlForServer("::1"), "smtp://[::1]:25");
  EXPECT_EQ(SmtpUrlForServer("smtps://mail.orvik.test"), "smtps://mail.orvik.test");
  EXPECT_EQ(SmtpUrlForServer(""), "");
  EXPECT_EQ(SmtpUrlForServer("host\r\nname"), "");
}

TEST(SmtpClientTest, CurlCodesTranslateToOurs) {
  EXPECT_TRUE(TranslateCurlCode(CURLE_OK, "", "smtp://h:25").ok());
  EXPECT_EQ(TranslateCurlCode(CURLE_COULDNT_CONNECT, "", "u").failure, SmtpFailure::kConnect);
  EXPECT_EQ(TranslateCurlCode(CURLE_COULDNT_RESOLVE_HOST, "", "u").failure,
            SmtpFailure::kConnect);
  EXPECT_EQ(TranslateCurlCode(CURLE_OPERATION_TIMEDOUT, "", "u").failure,
            SmtpFailure::kTimeout);
  SmtpOutcome rejected = TranslateCurlCode(CURLE_SEND_ERROR, "RCPT failed: 550", "smtp://h:25");
  EXPECT_EQ(rejected.failure, SmtpFailure::kRejected);
  EXPECT_EQ(rejected.text, "SMTP delivery to smtp://h:25 failed: RCPT failed: 550");
  EXPECT_EQ(TranslateCurlCode(CURLE_RECV_ERROR, "", "u").failure, SmtpFailure::kTransfer);
}

}  // namespace
}  // namespace vigilo::mail
