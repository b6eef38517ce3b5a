// SignalControlReader: service controls delivered as signals, read by one
// thread with sigwait.
//
// The stand-in for a service control dispatcher: SIGTERM and SIGINT mean
// Stop, SIGUSR1 Pause, SIGUSR2 Continue, SIGHUP Reload (the parameter-change
// control: systemctl reload sends it through ExecReload). The constructor
// blocks these signals in the calling thread, so it must run before any other
// thread is created (threads inherit the mask and the signals then wait for
// the reader instead of killing the process). Not copyable; one per process.
#pragma once

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <optional>

namespace vigilo::host {

// Service control codes as the service control manager numbers them.
inline constexpr uint32_t kControlStop = 1;
inline constexpr uint32_t kControlPause = 2;
inline constexpr uint32_t kControlContinue = 3;
inline constexpr uint32_t kControlInterrogate = 4;
inline constexpr uint32_t kControlParamChange = 6;

// The control a signal stands for, or std::nullopt for other signals.
std::optional<uint32_t> ControlForSignal(int signal_number);

class SignalControlReader {
 public:
  SignalControlReader();
  ~SignalControlReader();  // restores the previous signal mask
  SignalControlReader(const SignalControlReader&) = delete;
  SignalControlReader& operator=(const SignalControlReader&) = delete;

  // Waits for the next control signal. Returns its control code, or
  // std::nullopt when the timeout passed without one.
  std::optional<uint32_t> Wait(std::chrono::milliseconds timeout);

  // Sends this process the signal for a control, so that it arrives at the
  // reader like a control from outside (kControlStop sends SIGTERM). Returns
  // false when the control has no signal or sending failed.
  static bool RaiseControl(uint32_t control);

 private:
  sigset_t set_;
  sigset_t previous_;
};

}  // namespace vigilo::host
