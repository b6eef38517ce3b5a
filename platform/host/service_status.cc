#include "platform/host/service_status.h"

#include <unistd.h>

#include <cstdlib>

#if VIGILO_HAVE_LIBSYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace vigilo::host {

const char* StateName(uint32_t state) {
  switch (state) {
    case kServiceStopped: return "stopped";
    case kServiceStartPending: return "starting";
    case kServiceStopPending: return "stopping";
    case kServiceRunning: return "running";
    case kServicePaused: return "paused";
    default: return "unknown";
  }
}

std::string SdNotifyReporter::NotifyText(const ServiceStatus& status) {
  std::string text;
  if (status.reload == kReloading) {
    text += "RELOADING=1\n";
  } else if (status.current_state == kServiceRunning || status.reload == kReloaded) {
    text += "READY=1\n";
  }
  if (status.current_state == kServiceStopPending) text += "STOPPING=1\n";
  return text + StatusLine(status);
}

namespace {

std::string StatusText(const ServiceStatus& status) {
  std::string text = StateName(status.current_state);
  if (!status.reload_failure.empty()) text += "; last reload failed: " + status.reload_failure;
  if (!status.detail.empty()) text += "; " + status.detail;
  return text;
}

}  // namespace

std::string SdNotifyReporter::StatusLine(const ServiceStatus& status) {
  return "STATUS=Vigilo Service " + StatusText(status);
}

bool TextStatusReporter::Report(const ServiceStatus& status) {
  const std::string line = "vgservice: " + StatusText(status) + "\n";
  ssize_t ignored = write(fd_, line.data(), line.size());
  (void)ignored;
  return true;
}

std::unique_ptr<StatusReporter> ProcessStatusReporter() {
  const char* socket = std::getenv("NOTIFY_SOCKET");
  if (socket != nullptr && *socket != '\0') return std::make_unique<SdNotifyReporter>();
  return std::make_unique<TextStatusReporter>(STDERR_FILENO);
}

bool SdNotifyReporter::Available() { return VIGILO_HAVE_LIBSYSTEMD != 0; }

namespace {

bool Notify(const std::string& text) {
#if VIGILO_HAVE_LIBSYSTEMD
  // Not started by systemd: nobody to tell, not a failure.
  const char* socket = std::getenv("NOTIFY_SOCKET");
  if (socket == nullptr || *socket == '\0') return true;
  return sd_notify(0, text.c_str()) >= 0;
#else
  (void)text;
  return true;
#endif
}

}  // namespace

bool SdNotifyReporter::Report(const ServiceStatus& status) { return Notify(NotifyText(status)); }

bool SdNotifyReporter::ReportProgress(const ServiceStatus& status) {
  return Notify(StatusLine(status));
}

}  // namespace vigilo::host
