#include "platform/host/signal_control.h"

#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

namespace vigilo::host {

std::optional<uint32_t> ControlForSignal(int signal_number) {
  switch (signal_number) {
    case SIGTERM:
    case SIGINT:
      return kControlStop;
    case SIGUSR1:
      return kControlPause;
    case SIGUSR2:
      return kControlContinue;
    case SIGHUP:
      return kControlParamChange;
    default:
      return std::nullopt;
  }
}

SignalControlReader::SignalControlReader() {
  sigemptyset(&set_);
  for (int sig : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2, SIGHUP}) sigaddset(&set_, sig);
  pthread_sigmask(SIG_BLOCK, &set_, &previous_);
}

SignalControlReader::~SignalControlReader() {
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

std::optional<uint32_t> SignalControlReader::Wait(std::chrono::milliseconds timeout) {
  timespec ts;
  ts.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  ts.tv_nsec = static_cast<long>((timeout.count() % 1000) * 1000000);
  for (;;) {
    int sig = sigtimedwait(&set_, nullptr, &ts);
    if (sig >= 0) return ControlForSignal(sig);
    // EINTR: another signal interrupted the wait; the remaining time is not
    // known, so a fresh full wait is fine for a polling caller.
    if (errno != EINTR) return std::nullopt;
  }
}

bool SignalControlReader::RaiseControl(uint32_t control) {
  int sig = 0;
  switch (control) {
    case kControlStop: sig = SIGTERM; break;
    case kControlPause: sig = SIGUSR1; break;
    case kControlContinue: sig = SIGUSR2; break;
    case kControlParamChange: sig = SIGHUP; break;
    default: return false;
  }
  return kill(getpid(), sig) == 0;
}

}  // namespace vigilo::host
