#include "notify/delivered_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
    : directory_(std::move(directory)),
      list_path_(directory_ + "/" + kDeliveredListFile),
      pid_(static_cast<int>(::getpid())) {}

DeliveredList::~DeliveredList() {
  Settle();
  CloseList();
}

bool DeliveredList::OpenList(std::string* error) {
  if (fd_ >= 0) return true;
  const int flags = O_WRONLY | O_APPEND | O_CLOEXEC;
  if (own_) {
    fd_ = OpenPrivateFile(list_path_, flags | O_CREAT);
  } else {
    fd_ = OpenPrivateFile(list_path_, flags | O_CREAT | O_EXCL);
    if (fd_ >= 0) {
      own_ = true;
    } else if (errno == EEXIST) {
      // A crash's list: appended to, and gone through by the next Settle.
      fd_ = Files().Open(list_path_, flags);
    }
  }
  if (fd_ < 0) {
    if (error) *error = FileErrorText(list_path_, "cannot open", errno);
    return false;
  }
  struct stat st {};
  if (Files().Stat(fd_, &st) == 0) {
    list_ino_ = st.st_ino;
    list_size_ = st.st_size;
  }
  return true;
}

void DeliveredList::CloseList() {
  if (fd_ >= 0) Files().Close(fd_);
  fd_ = -1;
  line_cut_ = false;
  list_size_ = -1;
  last_append_.reset();
}

bool DeliveredList::Add(const std::string& id, const std::string& path, std::string* error) {
  if (!OpenList(error)) return false;
  // One write, so that a line lands whole or not at all; after a short one
  // the next line starts afresh.
  const std::string line = (line_cut_ ? "\n" : "") + id + "\n";
  const ssize_t written = Files().Write(fd_, line.data(), line.size());
  last_append_.reset();
  if (written != static_cast<ssize_t>(line.size())) {
    list_size_ = -1;  // part of a line may have been written
    if (written >= 0) errno = ENOSPC;
    if (error) *error = FileErrorText(list_path_, "cannot write", errno);
    line_cut_ = true;
    return false;
  }
  line_cut_ = false;
  if (list_size_ >= 0) {
    const off_t before = list_size_;
    list_size_ += static_cast<off_t>(line.size());
    last_append_ = Append{list_ino_, before, list_size_};
  }
  if (kept_.size() < kSpareFiles) {
    kept_.push_back(Kept{path, id});
  } else if (!Removed(path)) {
    unremoved_.push_back(id);
  }
  return true;
}

void DeliveredList::EmptyFile(const std::string& path) {
  UniqueFd fd(Files().Open(path, O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd.valid()) Files().Truncate(fd.get(), 0);
}

void DeliveredList::BlankFile(const std::string& path) {
  UniqueFd fd(Files().Open(path, O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
  struct stat st {};
  if (!fd.valid() || Files().Stat(fd.get(), &st) != 0 || st.st_size <= 0) return;
  // Past the size of any entry it is no spare of this outbox: cut it.
  if (st.st_size > static_cast<off_t>(kMaxSpareBytes)) {
    Files().Truncate(fd.get(), 0);
    return;
  }
  const std::string zeros(static_cast<size_t>(st.st_size), '\0');
  if (!WriteAllAt(fd.get(), zeros, 0)) Files().Truncate(fd.get(), 0);
}

bool DeliveredList::TakeSpare(const std::string& path) {
  if (kept_.empty()) return false;
  Kept kept = std::move(kept_.back());
  kept_.pop_back();
  if (Files().Rename(kept.path, path) == 0) return true;
  if (!Removed(kept.path) && !kept.id.empty()) unremoved_.push_back(kept.id);
  return false;
}

std::string DeliveredList::SparePath() {
  return directory_ + "/" + std::to_string(pid_) + "-" + std::to_string(++spare_sequence_) +
         kSpareSuffix;
}

void DeliveredList::AdoptSpares() {
  adopted_ = true;
  const size_t suffix = std::strlen(kSpareSuffix);
  DIR* dir = ::opendir(directory_.c_str());
  if (dir == nullptr) return;
  while (dirent* item = ::readdir(dir)) {
    const std::string name = item->d_name;
    if (name.size() <= suffix || name.compare(name.size() - suffix, suffix, kSpareSuffix) != 0) {
      continue;
    }
    const std::string path = directory_ + "/" + name;
    if (kept_.size() < kSpareFiles) {
      EmptyFile(path);  // spares of earlier versions kept their text
      kept_.push_back(Kept{path, {}});
    } else {
      Removed(path);
    }
  }
  ::closedir(dir);
}

bool DeliveredList::Settle() {
  if (!own_) {
    CloseList();
    if (Files().Access(list_path_, F_OK) == 0) {
      // A crash's list: every file it names has left.
      bool all_removed = true;
      for (const std::string& id : Read(directory_)) {
        for (const char* suffix : kEntrySuffixes) {
          all_removed = Removed(directory_ + "/" + id + suffix) && all_removed;
        }
      }
      // Files kept meanwhile were named in it and are gone now.
      std::erase_if(kept_, [](const Kept& kept) { return !kept.id.empty(); });
      unremoved_.clear();
      // Kept while a file it names is still there, so that file stays gone.
      if (!all_removed || !Removed(list_path_)) return false;
    }
    if (!adopted_) AdoptSpares();
    return true;
  }
  for (Kept& kept : kept_) {
    if (kept.id.empty()) continue;
    const std::string spare = SparePath();
    if (Files().Rename(kept.path, spare) == 0) {
      // A delivered message's text does not linger in a spare. Written over
      // rather than cut: cutting frees the file's blocks (on some file
      // systems a wait for the journal and the device) only for the next
      // message to allocate them again.
      BlankFile(spare);
      kept = Kept{spare, {}};
    } else {
      if (!Removed(kept.path)) unremoved_.push_back(kept.id);
      kept.path.clear();
    }
  }
  std::erase_if(kept_, [](const Kept& kept) { return kept.path.empty(); });
  std::vector<std::string> unremoved;
  for (const std::string& id : unremoved_) {
    bool removed = true;
    for (const char* suffix : kEntrySuffixes) {
      removed = Removed(directory_ + "/" + id + suffix) && removed;
    }
    if (!removed) unremoved.push_back(id);
  }
  unremoved_ = std::move(unremoved);
  if (!unremoved_.empty()) {
    // The list stays for the files that could not be removed.
    RewriteList();
    return false;
  }
  CloseList();
  own_ = false;
  return Removed(list_path_);
}

bool DeliveredList::RewriteList() {
  std::string text;
  for (const std::string& id : unremoved_) text += id + "\n";
  const std::string temp = list_path_ + ".tmp";
  UniqueFd fd(OpenPrivateFile(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC));
  if (!fd.valid() || !WriteAll(fd.get(), text) || !fd.Close() ||
      Files().Rename(temp, list_path_) != 0) {
    Files().Unlink(temp);
    return false;
  }
  CloseList();  // it was open on the list just replaced
  return true;
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
