// A real SMTP server on 127.0.0.1 for tests that deliver mail.
//
// SmtpSink starts tests/support/smtp_sink.py (aiosmtpd under /usr/bin/python3)
// on a free port with a temporary directory of its own, waits until it
// listens, and stops it and removes the directory on destruction. Every
// message that arrives is kept with its envelope, its data as received, and
// the subject and body as decoded by Python's mail parser, so tests can check
// both the wire form and the meaning. Recipients whose local part begins with
// "reject" are refused (550), for tests of delivery failures. Construction throws std::runtime_error
// when the server cannot be started.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace vigilo::test {

// A self-signed certificate for 127.0.0.1, made by openssl into dir (cert.pem,
// key.pem) for a sink that speaks TLS. Throws std::runtime_error on failure.
struct TestCertificate {
  std::string cert_file;
  std::string key_file;
};
TestCertificate MakeTestCertificate(const std::string& dir);

// How a sink behaves beyond accepting mail.
struct SmtpSinkOptions {
  int port = 0;        // 0: a free port of its own choosing
  bool store = true;   // false: accept and throw away
  enum class Tls { kNone, kStartTls, kImplicit };
  Tls tls = Tls::kNone;
  TestCertificate certificate;  // needed with tls
  // Set: AUTH required before MAIL (taken in clear only when TLS is not offered).
  std::string auth_user;
  std::string auth_password;
};

struct ReceivedMail {
  std::string sender;                   // envelope MAIL FROM
  std::vector<std::string> recipients;  // envelope RCPT TO, in order
  std::string data;                     // message as received, "\r\n" line ends
  std::string subject;                  // decoded Subject, UTF-8
  std::string body;                     // decoded body, UTF-8

  // Value of the first header of that name (without regard to case), with
  // folded lines joined; "" when absent.
  std::string Header(const std::string& name) const;
  // The part of data after the blank line that ends the headers.
  std::string RawBody() const;
};

class SmtpSink {
 public:
  // port 0: a free port of its own choosing; otherwise that port (a test
  // that brings a server "back up" where the engine expects it). store false:
  // messages are accepted and thrown away (Messages() stays empty), for
  // benchmarks that time the client.
  explicit SmtpSink(int port = 0, bool store = true);
  explicit SmtpSink(const SmtpSinkOptions& options);
  ~SmtpSink();
  SmtpSink(const SmtpSink&) = delete;
  SmtpSink& operator=(const SmtpSink&) = delete;

  int port() const { return port_; }
  std::string host_port() const;  // "127.0.0.1:PORT"
  std::string url() const;        // "smtp://127.0.0.1:PORT"

  // Writes an msmtp configuration file relaying to this sink (no
  // authentication, no TLS, owner-only permissions as msmtp requires) and
  // returns the sendmail-compatible command that uses it: "msmtp -C PATH -t".
  std::string WriteMsmtpConfig(const std::string& path) const;

  // Every AUTH attempt so far, one line each: "tls|plain USER ok|refused\n".
  std::string AuthLog() const;

  // How many messages were stored so far (cheaper than Messages()).
  size_t Count() const;
  // Every message stored so far, in arrival order.
  std::vector<ReceivedMail> Messages() const;
  // Waits until at least count messages arrived or the time is up; returns
  // what arrived.
  std::vector<ReceivedMail> WaitForMessages(
      size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

 private:
  void Stop();

  std::string dir_;
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  int port_ = 0;
};

// A TCP port on 127.0.0.1 where nothing listens (bound and released again).
int UnusedPort();

}  // namespace vigilo::test
