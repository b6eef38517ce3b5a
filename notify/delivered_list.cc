#include "notify/delivered_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "common/file_system.h"

namespace vigilo {
namespace {

// The suffixes of an entry's file in either state (see outbox.h).
constexpr const char* kEntrySuffixes[] = {".new", ".msg"};

bool Removed(const std::string& path) {
  return Files().Unlink(path) == 0 || errno == ENOENT;
}

}  // namespace

DeliveredList::DeliveredList(std::string directory)
    : directory_(std::move(directory)), list_path_(directory_ + "/" + kDeliveredListFile) {}

DeliveredList::~DeliveredList() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  work_.notify_all();
  if (thread_.joinable()) thread_.join();
  CloseList();
  for (const std::string& spare : spares_) Files().Unlink(spare);
}

bool DeliveredList::Add(const std::string& id, const std::string& path, std::string* error) {
  if (fd_ < 0) {
    fd_ = Files().Open(list_path_, O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0640);
    if (fd_ < 0 && errno == EEXIST) {
      // Left by a crash: it names files Settle has yet to look at.
      inherited_ = true;
      fd_ = Files().Open(list_path_, O_WRONLY | O_APPEND | O_CLOEXEC);
    }
    if (fd_ < 0) {
      if (error) *error = FileErrorText(list_path_, "cannot open", errno);
      return false;
    }
  }
  // One write, so the line lands whole or not at all as far as other
  // appends go; after a short one the next line starts afresh.
  const std::string line = (line_cut_ ? "\n" : "") + id + "\n";
  const ssize_t written = Files().Write(fd_, line.data(), line.size());
  if (written != static_cast<ssize_t>(line.size())) {
    if (written >= 0) errno = ENOSPC;
    if (error) *error = FileErrorText(list_path_, "cannot write", errno);
    line_cut_ = true;
    return false;
  }
  line_cut_ = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(path);
    if (!thread_.joinable()) thread_ = std::thread([this] { RemoveFiles(); });
  }
  work_.notify_one();
  return true;
}

void DeliveredList::RemoveFiles() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    work_.wait(lock, [this] { return stop_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stop, and nothing left to remove
    std::string path = std::move(queue_.front());
    queue_.pop_front();
    ++busy_;
    const bool keep = spares_.size() < kSpareFiles;
    lock.unlock();
    const bool removed = (keep && MakeSpare(path)) || Removed(path);
    lock.lock();
    if (!removed) removal_failed_ = true;
    --busy_;
    if (queue_.empty() && busy_ == 0) idle_.notify_all();
  }
}

bool DeliveredList::MakeSpare(const std::string& path) {
  unsigned sequence;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sequence = ++spare_sequence_;
  }
  const std::string spare =
      directory_ + "/" + std::to_string(::getpid()) + "-" + std::to_string(sequence) + kSpareSuffix;
  if (Files().Rename(path, spare) != 0) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  spares_.push_back(spare);
  return true;
}

bool DeliveredList::TakeSpare(const std::string& path) {
  std::string spare;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (spares_.empty()) return false;
    spare = std::move(spares_.back());
    spares_.pop_back();
  }
  if (Files().Rename(spare, path) == 0) return true;
  Files().Unlink(spare);
  return false;
}

void DeliveredList::SweepSpares() {
  swept_ = true;
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(directory_.c_str())) {
    while (dirent* item = ::readdir(dir)) {
      const std::string name = item->d_name;
      const size_t n = std::strlen(kSpareSuffix);
      if (name.size() > n && name.compare(name.size() - n, n, kSpareSuffix) == 0) {
        names.push_back(directory_ + "/" + name);
      }
    }
    ::closedir(dir);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  for (const std::string& path : names) {
    if (std::find(spares_.begin(), spares_.end(), path) == spares_.end()) Removed(path);
  }
}

void DeliveredList::Drain() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return queue_.empty() && busy_ == 0; });
}

bool DeliveredList::Settle() {
  Drain();
  if (!swept_) SweepSpares();
  const bool written_here = fd_ >= 0 && !inherited_;
  CloseList();
  bool all_removed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    all_removed = !removal_failed_;
    removal_failed_ = false;
  }
  // A list this object began names only files already removed; any other
  // (a crash's, or one with a failed removal) is gone through.
  if (!written_here || !all_removed) {
    if (Files().Access(list_path_, F_OK) != 0) return true;  // nothing delivered
    all_removed = true;
    for (const std::string& id : Read(directory_)) {
      for (const char* suffix : kEntrySuffixes) {
        all_removed = Removed(directory_ + "/" + id + suffix) && all_removed;
      }
    }
  }
  // Kept while a file it names is still there, so that file stays delivered.
  return all_removed && Removed(list_path_);
}

void DeliveredList::CloseList() {
  if (fd_ >= 0) Files().Close(fd_);
  fd_ = -1;
  line_cut_ = false;
  inherited_ = false;
}

std::set<std::string> DeliveredList::Read(const std::string& directory) {
  std::set<std::string> ids;
  std::string text;
  if (!ReadFile(directory + "/" + kDeliveredListFile, text)) return ids;
  size_t start = 0;
  for (size_t end = text.find('\n'); end != std::string::npos;
       start = end + 1, end = text.find('\n', start)) {
    if (end > start) ids.insert(text.substr(start, end - start));
  }
  return ids;
}

}  // namespace vigilo
