// ServiceStatus and StatusReporter: the service's state as a service control
// manager sees it, and the channel that reports it.
//
// The status record keeps the seven words the service reports (type, state,
// controls accepted, exit codes, check point, wait hint). A StatusReporter
// sends a record to whoever supervises the process; SdNotifyReporter tells
// systemd through sd_notify, tests inject their own to watch the states.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vigilo::host {

// Service states, numbered as the service control manager numbers them.
inline constexpr uint32_t kServiceStopped = 1;
inline constexpr uint32_t kServiceStartPending = 2;
inline constexpr uint32_t kServiceStopPending = 3;
inline constexpr uint32_t kServiceRunning = 4;
inline constexpr uint32_t kServicePaused = 7;

inline constexpr uint32_t kServiceWin32 = 0x30;
inline constexpr uint32_t kAcceptStop = 1;
inline constexpr uint32_t kAcceptPauseContinue = 2;

// Where a reload (the parameter-change control) stands.
inline constexpr uint32_t kNoReload = 0;
inline constexpr uint32_t kReloading = 1;  // asked for, not yet done
inline constexpr uint32_t kReloaded = 2;   // done (or given up): ready again

struct ServiceStatus {
  uint32_t service_type = 0;
  uint32_t current_state = 0;
  uint32_t controls_accepted = 0;
  uint32_t win32_exit_code = 0;
  uint32_t service_specific_exit_code = 0;
  uint32_t check_point = 0;
  uint32_t wait_hint = 0;
  uint32_t reload = kNoReload;
  // What the service last did, for people reading its status (the last
  // tick's time and counts); empty before the first tick.
  std::string detail;
  // Why the last reload left the previous rules in force; empty when it
  // worked or there was none.
  std::string reload_failure;
};

// Name of a state for status texts ("running", "paused", ...).
const char* StateName(uint32_t state);

class StatusReporter {
 public:
  virtual ~StatusReporter() = default;
  // Reports the status. Returns false only when the report failed.
  virtual bool Report(const ServiceStatus& status) = 0;
  // Reports news that changes no state (a tick's summary in detail): no
  // readiness or reload signal goes with it. By default an ordinary report.
  virtual bool ReportProgress(const ServiceStatus& status) { return Report(status); }
};

// Reports to systemd: READY=1 on running and after a reload, RELOADING=1
// while a reload waits, STOPPING=1 on stop pending, and a STATUS= line for
// every state ("Vigilo Service running; <detail>", with "last reload failed:
// <why>" before the detail after a failed reload). Without NOTIFY_SOCKET in the environment, or
// with it empty (not started by systemd), nothing is sent and the report
// counts as done; it fails only when sd_notify returns an error. Built without
// libsystemd, it reports nothing and never fails.
class SdNotifyReporter : public StatusReporter {
 public:
  bool Report(const ServiceStatus& status) override;
  // Sends the STATUS= line alone.
  bool ReportProgress(const ServiceStatus& status) override;

  // True when built with libsystemd.
  static bool Available();

  // The sd_notify text for a status; exposed for tests.
  static std::string NotifyText(const ServiceStatus& status);
  // Its STATUS= line alone.
  static std::string StatusLine(const ServiceStatus& status);
};

// Reports to a terminal or a log file (a foreground run outside systemd):
// each report and each tick's summary as one line on the file descriptor fd,
// "vgservice: running; <detail>". Never fails.
class TextStatusReporter : public StatusReporter {
 public:
  explicit TextStatusReporter(int fd) : fd_(fd) {}
  bool Report(const ServiceStatus& status) override;

 private:
  int fd_;
};

// The reporter for wherever this process runs: SdNotifyReporter under
// systemd (NOTIFY_SOCKET set), TextStatusReporter on standard error
// otherwise.
std::unique_ptr<StatusReporter> ProcessStatusReporter();

}  // namespace vigilo::host
