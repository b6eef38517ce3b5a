// An outbox backlog: N messages (default 100,000) wait in the outbox of a
// generated installation. Measured, each in a child process of its own so
// that its peak resident memory is its own:
//   - one tick of the mail sender with the SMTP server down (a closed port
//     on 127.0.0.1): its wall time and peak RSS (targets 5 s, 50 MiB);
//   - `vgqueue list` over the backlog, output thrown away: wall time and
//     peak RSS (targets 2 s, 30 MiB);
//   - one tick with the server up (the test SMTP sink, discarding): how many
//     messages left the outbox (at most MAIL_TICK_LIMIT), wall time, RSS.
// The summary prints each figure beside its target.
//
// Size: VIGILO_BENCH_MESSAGES. The SMTP library is VIGILO_SMTP_LIBRARY, else
// the one next to this program in the build tree; vgqueue is the one of this
// build.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/format.h"
#include "data/log_stream.h"
#include "notify/mail_sender.h"
#include "notify/outbox.h"
#include "tests/support/smtp_sink.h"
#include "tests/support/test_installation.h"

namespace vigilo {
namespace {

struct Figures {
  double seconds = 0;
  double peak_mib = 0;
  double cpu_seconds = 0;  // user and system: what a loaded machine does not inflate
  bool ok = false;
};

double PeakMib(const rusage& usage) { return static_cast<double>(usage.ru_maxrss) / 1024.0; }

// Runs body in a child process; its wall time and peak RSS.
template <typename Body>
Figures InChild(Body body) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) _exit(body() ? 0 : 1);
  int status = 0;
  rusage usage{};
  Figures figures;
  if (wait4(pid, &status, 0, &usage) != pid) return figures;
  figures.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  figures.peak_mib = PeakMib(usage);
  figures.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return figures;
}

// Writes the entries' files directly under their final names, as the
// engine leaves them once flagged: the set-up is no part of what is measured.
void Fill(const std::string& server_dir, long messages) {
  const std::string dir = Outbox::DirectoryOf(server_dir);
  std::filesystem::create_directories(dir);
  const std::time_t now = std::time(nullptr);
  for (long record = 1; record <= messages; ++record) {
    OutboxEntry entry;
    entry.id = Format("%010lld%09ld-1-%ld", static_cast<long long>(now), record, record);
    entry.rule_id = 1;
    entry.record = record;
    entry.table_id = "0\\ORVIK\\Proj\\Bugs";
    entry.database_name = "Bugs.DBF";
    entry.subject = Format("VIGILO Rule# 1 , Record# %ld of 0\\ORVIK\\Proj\\Bugs", record);
    entry.recipients = "SMTP:bob@example.org";
    entry.body = std::string(600, 'x') + "\r\n";
    entry.created = now;
    const std::string text = SerializeOutboxEntry(entry);
    FILE* file = std::fopen((dir + "/" + entry.id + ".msg").c_str(), "w");
    if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size() ||
        std::fclose(file) != 0) {
      std::fprintf(stderr, "outbox_backlog: cannot write the outbox in %s\n", dir.c_str());
      std::exit(1);
    }
  }
}

// One tick of a new mail sender on the installation's server directory.
bool Tick(const testing::TestInstallation& install) {
  LogStream log([&install] { return install.server_dir() + "/vglog.ini"; });
  CMailSender::Options options;
  options.log = &log;
  CMailSender sender(std::move(options));
  sender.InitMailSystems();
  sender.BeginTick();
  sender.EndTick();
  return true;
}

size_t Waiting(const std::string& server_dir) {
  return Outbox(Outbox::DirectoryOf(server_dir)).EntryNames().size();
}

void Print(const char* what, const Figures& figures, double seconds_target, double mib_target) {
  std::printf("%-24s %6.2f s (CPU %5.2f s; target %3.1f s)  %6.1f MiB (target %2.0f MiB)%s\n",
              what, figures.seconds, figures.cpu_seconds, seconds_target, figures.peak_mib,
              mib_target, figures.ok ? "" : "  FAILED TO RUN");
}

}  // namespace
}  // namespace vigilo

int main() {
  using namespace vigilo;
  const char* size = std::getenv("VIGILO_BENCH_MESSAGES");
  const long messages = size != nullptr ? std::atol(size) : 100000;
  if (std::getenv("VIGILO_SMTP_LIBRARY") == nullptr) {
    const std::string beside =
        std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path().string() +
        "/platform/smtp/libvgsmtp.so";
    setenv("VIGILO_SMTP_LIBRARY", beside.c_str(), 0);
  }
  setenv("VIGILO_SMTP_CONNECT_TIMEOUT", "2", 1);
  testing::TestInstallation install;
  const int port = test::UnusedPort();
  install.SetMailKey("SMTP Mail", Format("1,0,127.0.0.1:%d,<>vigilo@example.org,", port));
  Fill(install.server_dir(), messages);
  std::printf("outbox backlog: %ld messages, MAIL_TICK_LIMIT %ld\n", messages,
              kDefaultMailTickLimit);

  Print("tick, SMTP server down", InChild([&] { return Tick(install); }), 5, 50);
  std::printf("  still waiting: %zu\n", Waiting(install.server_dir()));

  const std::string list = std::string(VIGILO_QUEUE_PROGRAM) + " --home " +
                           install.program_dir() + " list > /dev/null";
  Print("vgqueue list", InChild([&] { return std::system(list.c_str()) == 0; }), 2, 30);

  test::SmtpSink sink(port, /*store=*/false);
  const size_t before = Waiting(install.server_dir());
  Print("tick, SMTP server up", InChild([&] { return Tick(install); }), 5, 50);
  const size_t after = Waiting(install.server_dir());
  std::printf("  delivered in the tick: %zu (bound %ld), still waiting: %zu\n", before - after,
              kDefaultMailTickLimit, after);
  return 0;
}
