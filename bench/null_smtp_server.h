// An SMTP server on 127.0.0.1 for the mail benchmarks that accepts every
// command and message and keeps nothing, so that what a benchmark times is
// the client, not the server: each connection is served by its own thread,
// reading in large blocks and answering each command line as it arrives
// (pipelined commands included), a message's data read up to its ending dot.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vigilo {

class NullSmtpServer {
 public:
  NullSmtpServer() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 16) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("null SMTP server: cannot listen");
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
  }
  ~NullSmtpServer() {
    stopping_ = true;
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    acceptor_.join();
    {
      // A client that keeps its connection open must not hold the exit up.
      std::lock_guard<std::mutex> lock(mutex_);
      for (int fd : open_) shutdown(fd, SHUT_RDWR);
    }
    for (std::thread& t : sessions_) t.join();
  }
  NullSmtpServer(const NullSmtpServer&) = delete;
  NullSmtpServer& operator=(const NullSmtpServer&) = delete;

  std::string host_port() const { return "127.0.0.1:" + std::to_string(port_); }
  long messages() const { return messages_; }

 private:
  void Accept() {
    while (!stopping_) {
      const int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        open_.push_back(fd);
      }
      sessions_.emplace_back([this, fd] { Serve(fd); });
    }
  }

  void Serve(int fd) {
    Send(fd, "220 null ESMTP\r\n");
    std::string pending;
    std::string replies;
    bool in_data = false;
    char block[65536];
    for (;;) {
      const ssize_t got = read(fd, block, sizeof(block));
      if (got <= 0) break;
      pending.append(block, static_cast<size_t>(got));
      size_t at = 0;
      bool quit = false;
      for (;;) {
        if (in_data) {
          // The data ends with a line holding a single dot.
          const size_t end = pending.find("\r\n.\r\n", at > 2 ? at - 2 : 0);
          if (end == std::string::npos) {
            at = pending.size() > 4 ? pending.size() - 4 : at;
            break;
          }
          at = end + 5;
          in_data = false;
          ++messages_;
          replies += "250 OK\r\n";
          continue;
        }
        const size_t end = pending.find("\r\n", at);
        if (end == std::string::npos) break;
        const std::string_view line(pending.data() + at, end - at);
        at = end + 2;
        if (Starts(line, "EHLO")) {
          replies += "250-null\r\n250-PIPELINING\r\n250 8BITMIME\r\n";
        } else if (Starts(line, "DATA")) {
          replies += "354 go on\r\n";
          in_data = true;
          // The data may begin right away with the blank line before a dot.
          if (pending.compare(at, 3, ".\r\n") == 0) {
            at += 3;
            in_data = false;
            ++messages_;
            replies += "250 OK\r\n";
          }
        } else if (Starts(line, "QUIT")) {
          replies += "221 bye\r\n";
          quit = true;
          break;
        } else {
          replies += "250 OK\r\n";
        }
      }
      pending.erase(0, at);
      if (!replies.empty()) Send(fd, replies);
      replies.clear();
      if (quit) break;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase(open_, fd);
    close(fd);
  }

  static bool Starts(std::string_view line, std::string_view word) {
    if (line.size() < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
      if ((line[i] & ~0x20) != word[i]) return false;
    }
    return true;
  }
  static void Send(int fd, std::string_view text) {
    while (!text.empty()) {
      const ssize_t sent = write(fd, text.data(), text.size());
      if (sent <= 0) return;
      text.remove_prefix(static_cast<size_t>(sent));
    }
  }

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<long> messages_{0};
  std::thread acceptor_;
  std::vector<std::thread> sessions_;
  std::mutex mutex_;
  std::vector<int> open_;  // the sessions' sockets
};

}  // namespace vigilo
