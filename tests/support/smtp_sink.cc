#include "tests/support/smtp_sink.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "common/text.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace vigilo::test {

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The sink removes the directory itself when it stops.
std::string MakeTempDir() {
  testing::TempDir dir;
  dir.Keep();
  return dir.path();
}

}  // namespace

std::string ReceivedMail::Header(const std::string& name) const {
  size_t end = data.find("\r\n\r\n");
  std::string headers = data.substr(0, end == std::string::npos ? data.size() : end + 2);
  std::string value;
  bool in_header = false;
  size_t start = 0;
  while (start < headers.size()) {
    size_t line_end = headers.find("\r\n", start);
    if (line_end == std::string::npos) line_end = headers.size();
    std::string line = headers.substr(start, line_end - start);
    start = line_end + 2;
    if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {
      if (in_header) value += line;
      continue;
    }
    if (in_header) break;
    size_t colon = line.find(':');
    if (colon != std::string::npos && EqualsNoCase(line.substr(0, colon), name)) {
      in_header = true;
      value = Trimmed(line.substr(colon + 1));
    }
  }
  return value;
}

std::string ReceivedMail::RawBody() const {
  size_t end = data.find("\r\n\r\n");
  return end == std::string::npos ? "" : data.substr(end + 4);
}

TestCertificate MakeTestCertificate(const std::string& dir) {
  TestCertificate certificate{dir + "/cert.pem", dir + "/key.pem"};
  const std::string command =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
      "-addext subjectAltName=IP:127.0.0.1,DNS:localhost -keyout '" + certificate.key_file +
      "' -out '" + certificate.cert_file + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) throw std::runtime_error("openssl req failed");
  return certificate;
}

SmtpSink::SmtpSink(int port, bool store) : SmtpSink(SmtpSinkOptions{port, store}) {}

std::string SmtpSink::AuthLog() const { return ReadFile(fs::path(dir_) / "auth.log"); }

SmtpSink::SmtpSink(const SmtpSinkOptions& options) : dir_(MakeTempDir()) {
  const std::string port_text = std::to_string(options.port);
  std::vector<std::string> extra;
  const std::string files = options.certificate.cert_file + "," + options.certificate.key_file;
  if (options.tls == SmtpSinkOptions::Tls::kStartTls) extra.push_back("starttls=" + files);
  if (options.tls == SmtpSinkOptions::Tls::kImplicit) extra.push_back("tls=" + files);
  if (!options.auth_user.empty()) {
    extra.push_back("auth=" + options.auth_user + "," + options.auth_password);
  }
  std::string script = std::string(VIGILO_TEST_SUPPORT_DIR) + "/smtp_sink.py";
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[0], 0);
  std::vector<const char*> argv = {"/usr/bin/python3", script.c_str(), dir_.c_str(),
                                   port_text.c_str(), options.store ? "store" : "discard"};
  for (const std::string& option : extra) argv.push_back(option.c_str());
  argv.push_back(nullptr);
  int error = ::posix_spawn(&pid_, argv[0], &actions, nullptr,
                            const_cast<char* const*>(argv.data()), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_fds[0]);
  stdin_fd_ = pipe_fds[1];
  if (error != 0) {
    pid_ = -1;
    fs::remove_all(dir_);
    throw std::runtime_error("cannot start " + script);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline) {
    std::string port = ReadFile(fs::path(dir_) / "port");
    if (!port.empty()) {
      port_ = std::atoi(port.c_str());
      return;
    }
    int status;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Stop();
  throw std::runtime_error("the SMTP sink did not start (is python3-aiosmtpd installed?)");
}

SmtpSink::~SmtpSink() { Stop(); }

void SmtpSink::Stop() {
  if (stdin_fd_ >= 0) ::close(stdin_fd_);
  stdin_fd_ = -1;
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  std::error_code ignored;
  if (!dir_.empty()) fs::remove_all(dir_, ignored);
  dir_.clear();
}

std::string SmtpSink::host_port() const { return "127.0.0.1:" + std::to_string(port_); }

std::string SmtpSink::url() const { return "smtp://" + host_port(); }

std::string SmtpSink::WriteMsmtpConfig(const std::string& path) const {
  {
    std::ofstream rc(path, std::ios::trunc);
    rc << "defaults\nauth off\ntls off\n\naccount default\nhost 127.0.0.1\n"
       << "port " << port_ << "\nfrom vigilo@localhost\n";
  }
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  return "msmtp -C " + path + " -t";
}

size_t SmtpSink::Count() const {
  size_t count = 0;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    if (entry.path().extension() == ".envelope") ++count;
  }
  return count;
}

std::vector<ReceivedMail> SmtpSink::Messages() const {
  std::vector<fs::path> envelopes;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    if (entry.path().extension() == ".envelope") envelopes.push_back(entry.path());
  }
  std::sort(envelopes.begin(), envelopes.end());
  std::vector<ReceivedMail> mails;
  for (const fs::path& envelope : envelopes) {
    ReceivedMail mail;
    std::istringstream lines(ReadFile(envelope));
    std::string line;
    while (std::getline(lines, line)) {
      auto inside = [&line](size_t from) {
        return line.substr(from, line.size() - from - 1);  // drop the final ">"
      };
      if (line.rfind("MAIL FROM:<", 0) == 0) mail.sender = inside(11);
      if (line.rfind("RCPT TO:<", 0) == 0) mail.recipients.push_back(inside(9));
    }
    fs::path base = envelope;
    mail.data = ReadFile(base.replace_extension(".eml"));
    mail.subject = ReadFile(base.replace_extension(".subject"));
    mail.body = ReadFile(base.replace_extension(".body"));
    mails.push_back(std::move(mail));
  }
  return mails;
}

std::vector<ReceivedMail> SmtpSink::WaitForMessages(size_t count,
                                                    std::chrono::milliseconds timeout) const {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    std::vector<ReceivedMail> mails = Messages();
    if (mails.size() >= count || std::chrono::steady_clock::now() >= deadline) return mails;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int UnusedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

}  // namespace vigilo::test
