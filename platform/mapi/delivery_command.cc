#include "platform/mapi/delivery_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "common/file_system.h"
#include "common/format.h"

extern char** environ;

namespace vigilo::mapi {

namespace {

// Keeps SIGPIPE from this thread while writing to a command that may have
// stopped reading, and swallows one raised meanwhile.
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigset_t pending;
    sigemptyset(&pipe_set_);
    sigaddset(&pipe_set_, SIGPIPE);
    sigpending(&pending);
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_set_, &old_mask_);
  }
  ~SigpipeGuard() {
    if (!was_pending_) {
      timespec zero{0, 0};
      while (sigtimedwait(&pipe_set_, nullptr, &zero) == -1 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
  }

 private:
  sigset_t pipe_set_;
  sigset_t old_mask_;
  bool was_pending_ = false;
};

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (text.size() > 500) text.resize(500);
  return text;
}

}  // namespace

CommandOutcome RunDeliveryCommand(const std::string& command, const std::string& input,
                                  long timeout_seconds) {
  CommandOutcome outcome;
  int in_pipe[2];
  int out_pipe[2];
  if (::pipe2(in_pipe, O_CLOEXEC) != 0) {
    outcome.text = Format("cannot run \"%s\": %s", command.c_str(), std::strerror(errno));
    return outcome;
  }
  UniqueFd in_read(in_pipe[0]), in_write(in_pipe[1]);
  if (::pipe2(out_pipe, O_CLOEXEC) != 0) {
    outcome.text = Format("cannot run \"%s\": %s", command.c_str(), std::strerror(errno));
    return outcome;
  }
  UniqueFd out_read(out_pipe[0]), out_write(out_pipe[1]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_read.get(), 0);
  posix_spawn_file_actions_adddup2(&actions, out_write.get(), 1);
  posix_spawn_file_actions_adddup2(&actions, out_write.get(), 2);
  // The child starts with default SIGPIPE handling and no blocked signals,
  // whatever the calling program has set up.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t no_signals, default_signals;
  sigemptyset(&no_signals);
  sigemptyset(&default_signals);
  sigaddset(&default_signals, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &no_signals);
  posix_spawnattr_setsigdefault(&attributes, &default_signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
  pid_t pid = -1;
  int spawn_error = ::posix_spawn(&pid, "/bin/sh", &actions, &attributes,
                                  const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawn_error != 0) {
    outcome.text = Format("cannot run \"%s\": %s", command.c_str(), std::strerror(spawn_error));
    return outcome;
  }
  in_read.reset();
  out_write.reset();
  ::fcntl(in_write.get(), F_SETFL, O_NONBLOCK);

  SigpipeGuard sigpipe_guard;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  size_t written = 0;
  std::string output;
  bool timed_out = false;
  bool write_failed = false;
  if (input.empty()) in_write.reset();
  while (out_read.get() >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timed_out = true;
      break;
    }
    pollfd fds[2];
    nfds_t count = 0;
    fds[count++] = {out_read.get(), POLLIN, 0};
    if (in_write.get() >= 0) fds[count++] = {in_write.get(), POLLOUT, 0};
    int ready = ::poll(fds, count, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    if (count == 2 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t n = ::write(in_write.get(), input.data() + written, input.size() - written);
      if (n > 0) {
        written += static_cast<size_t>(n);
        if (written == input.size()) in_write.reset();
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        // The command stopped reading; its exit status tells why.
        write_failed = true;
        in_write.reset();
      }
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      char buffer[4096];
      ssize_t n = ::read(out_read.get(), buffer, sizeof buffer);
      if (n > 0) {
        if (output.size() < 65536) output.append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        out_read.reset();
      }
    }
  }
  in_write.reset();
  out_read.reset();
  if (timed_out) ::kill(pid, SIGKILL);

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timed_out) {
    outcome.text = Format("\"%s\" did not finish within %ld seconds and was stopped",
                          command.c_str(), timeout_seconds);
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && !write_failed) {
    outcome.ok = true;
  } else if (WIFEXITED(status)) {
    outcome.text = Format("\"%s\" failed with exit status %d: %s", command.c_str(),
                          WEXITSTATUS(status), OneLine(output).c_str());
  } else {
    outcome.text = Format("\"%s\" ended by signal %d: %s", command.c_str(),
                          WIFSIGNALED(status) ? WTERMSIG(status) : 0, OneLine(output).c_str());
  }
  return outcome;
}

}  // namespace vigilo::mapi
