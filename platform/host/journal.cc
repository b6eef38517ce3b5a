#include "platform/host/journal.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cstdlib>

#if VIGILO_HAVE_LIBSYSTEMD
// The location of this file would otherwise be stamped on every entry.
#define SD_JOURNAL_SUPPRESS_LOCATION 1
#include <systemd/sd-journal.h>
#endif

namespace vigilo::host {
namespace {

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

class TextSink : public JournalSink {
 public:
  explicit TextSink(int fd) : fd_(fd) {}
  bool Send(const JournalEntry& entry) override {
    std::string out = LevelPrefix(entry.priority);
    for (char c : entry.message) {
      out.push_back(c);
      if (c == '\n') out += "  ";
    }
    out.push_back('\n');
    size_t done = 0;
    while (done < out.size()) {
      ssize_t n = write(fd_, out.data() + done, out.size() - done);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
};

#if VIGILO_HAVE_LIBSYSTEMD
class SdJournal : public JournalSink {
 public:
  bool Send(const JournalEntry& entry) override {
    std::vector<std::string> texts;
    texts.reserve(entry.fields.size() + 3);
    texts.push_back("MESSAGE=" + entry.message);
    texts.push_back("PRIORITY=" + std::to_string(entry.priority));
    texts.push_back("SYSLOG_IDENTIFIER=vgservice");
    for (const auto& [name, value] : entry.fields) texts.push_back(name + "=" + value);
    std::vector<iovec> parts;
    parts.reserve(texts.size());
    for (std::string& text : texts) parts.push_back({text.data(), text.size()});
    return sd_journal_sendv(parts.data(), static_cast<int>(parts.size())) >= 0;
  }
};
#endif

}  // namespace

const char* LevelPrefix(int priority) {
  if (priority <= kJournalError) return "error: ";
  if (priority == kJournalWarning) return "warning: ";
  if (priority == kJournalNotice) return "notice: ";
  return "info: ";
}

bool UnderSystemdJournal() {
#if VIGILO_HAVE_LIBSYSTEMD
  return IsSet("JOURNAL_STREAM") || IsSet("INVOCATION_ID");
#else
  return false;
#endif
}

std::unique_ptr<JournalSink> TextJournal(int fd) { return std::make_unique<TextSink>(fd); }

std::unique_ptr<JournalSink> SystemJournal() {
#if VIGILO_HAVE_LIBSYSTEMD
  if (UnderSystemdJournal()) return std::make_unique<SdJournal>();
#endif
  return TextJournal(STDERR_FILENO);
}

}  // namespace vigilo::host
