// A journal that keeps what it is sent, standing in for the systemd journal.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/host/journal.h"

namespace vigilo::testing {

class RecordingJournal : public host::JournalSink {
 public:
  bool Send(const host::JournalEntry& entry) override {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(entry);
    return true;
  }
  std::vector<host::JournalEntry> entries() {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
  }

 private:
  std::mutex mutex_;
  std::vector<host::JournalEntry> entries_;
};

// The value of a field of an entry, or "<none>".
inline std::string JournalField(const host::JournalEntry& entry, const std::string& name) {
  for (const auto& [key, value] : entry.fields) {
    if (key == name) return value;
  }
  return "<none>";
}

}  // namespace vigilo::testing
