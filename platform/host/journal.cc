#include "platform/host/journal.h"

#include <sys/uio.h>

#include <cstdlib>

#if VIGILO_HAVE_LIBSYSTEMD
#include <systemd/sd-journal.h>
#endif

namespace vigilo::host {
namespace {

class NoJournal : public JournalSink {
 public:
  bool Send(const JournalEntry&) override { return true; }
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

std::unique_ptr<JournalSink> SystemJournal() {
#if VIGILO_HAVE_LIBSYSTEMD
  const char* invocation = std::getenv("INVOCATION_ID");
  if (invocation != nullptr && *invocation != '\0') return std::make_unique<SdJournal>();
#endif
  return std::make_unique<NoJournal>();
}

}  // namespace vigilo::host
