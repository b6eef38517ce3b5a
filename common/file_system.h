// FileSystem: the one door through which Vigilo's own files (INI profiles,
// the run log, dBase tables and memos) reach the operating system.
//
// Every call mirrors its POSIX namesake: it returns what the system call
// returns and leaves errno set on failure. The process has one current file
// system, the real one unless a test has put a wrapper in its place
// (ScopedFileSystem): a wrapper that fails writes with ENOSPC, refuses a lock
// or an open, lets tests show what each caller reports when the disk fills,
// a file is read-only or another program holds a lock, also when the tests
// run as root.
//
// Thread-safety: the real file system is safe from any thread. The current
// one is swapped only by tests, before the threads that use it start.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace vigilo {

// Owns a file descriptor and closes it through the current file system.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1);
  // Closes now and tells whether the close succeeded (a delayed write error
  // shows up here on some file systems).
  bool Close();

 private:
  int fd_ = -1;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  virtual int Open(const std::string& path, int flags, mode_t mode = 0);
  virtual int Close(int fd);
  virtual ssize_t Read(int fd, void* data, size_t size);
  virtual ssize_t ReadAt(int fd, void* data, size_t size, off_t offset);
  virtual ssize_t Write(int fd, const void* data, size_t size);
  virtual ssize_t WriteAt(int fd, const void* data, size_t size, off_t offset);
  virtual off_t Seek(int fd, off_t offset, int whence);
  virtual int Truncate(int fd, off_t size);
  virtual int Sync(int fd);
  virtual int Stat(int fd, struct stat* st);
  // Whole-file advisory lock (flock operations: LOCK_EX, LOCK_NB, LOCK_UN).
  virtual int Flock(int fd, int operation);
  // Record lock (fcntl commands F_SETLK, F_SETLKW, F_OFD_SETLK, F_OFD_SETLKW).
  virtual int RecordLock(int fd, int command, struct flock* lock);
  virtual int Rename(const std::string& from, const std::string& to);
  virtual int Unlink(const std::string& path);
  // access(2): whether the file exists (F_OK) or may be read (R_OK) or
  // written (W_OK).
  virtual int Access(const std::string& path, int mode);
};

// Forwards every call to another file system; tests derive from it and
// override the calls they make fail.
class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(FileSystem& target) : target_(target) {}

  int Open(const std::string& path, int flags, mode_t mode) override;
  int Close(int fd) override;
  ssize_t Read(int fd, void* data, size_t size) override;
  ssize_t ReadAt(int fd, void* data, size_t size, off_t offset) override;
  ssize_t Write(int fd, const void* data, size_t size) override;
  ssize_t WriteAt(int fd, const void* data, size_t size, off_t offset) override;
  off_t Seek(int fd, off_t offset, int whence) override;
  int Truncate(int fd, off_t size) override;
  int Sync(int fd) override;
  int Stat(int fd, struct stat* st) override;
  int Flock(int fd, int operation) override;
  int RecordLock(int fd, int command, struct flock* lock) override;
  int Rename(const std::string& from, const std::string& to) override;
  int Unlink(const std::string& path) override;
  int Access(const std::string& path, int mode) override;

 protected:
  FileSystem& target() { return target_; }

 private:
  FileSystem& target_;
};

// The current file system, and the real one.
FileSystem& Files();
FileSystem& RealFileSystem();

// Makes fs the current file system for its lifetime (tests).
class ScopedFileSystem {
 public:
  explicit ScopedFileSystem(FileSystem& fs);
  ~ScopedFileSystem();
  ScopedFileSystem(const ScopedFileSystem&) = delete;
  ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

 private:
  FileSystem* previous_;
};

// The one translation of a failed file operation into text:
// "PATH: WHAT: strerror(error)".
std::string FileErrorText(std::string_view path, std::string_view what, int error);

// Whole reads and writes; interrupted calls are resumed. They return false
// with errno set on failure.
bool ReadAll(int fd, std::string& out);
bool WriteAll(int fd, std::string_view text);
// Reads up to size bytes at offset; returns the count (short only at the end
// of the file) or -1 with errno set.
ssize_t ReadFullAt(int fd, char* data, size_t size, uint64_t offset);
bool WriteAllAt(int fd, std::string_view data, uint64_t offset);

// Whether the file exists and opens for reading and writing through the
// current file system, as the table library and the profile writer will open
// it (a directory, a read-only file or a missing one gives false).
bool OpensForReadWrite(const std::string& path);

// Mode of the files Vigilo creates that hold mail or record contents.
inline constexpr mode_t kPrivateFileMode = 0640;

// Opens path as Files().Open(path, flags) does; a file the call creates gets
// kPrivateFileMode whatever the umask, and a file that existed keeps its mode.
// Returns the descriptor, or -1 with errno set.
int OpenPrivateFile(const std::string& path, int flags);

// Reads a whole file. Returns false (error filled when given) when it cannot
// be opened or read.
bool ReadFile(const std::string& path, std::string& out, std::string* error = nullptr);

// Puts text in place of the file at path in one step: a temporary file in the
// same directory is written, synced and renamed over path, so a reader sees
// the old text or the new one and a crash leaves one of them. The new file
// gets mode (and, under root, the owner of the file it replaces when
// old is given). On failure error is filled and path is unchanged;
// kNoTemporaryFile says the directory allows no new file (permissions or a
// read-only mount), where a caller may still rewrite a writable file in place.
enum class ReplaceResult { kDone, kNoTemporaryFile, kFailed };
ReplaceResult ReplaceFileAtomically(const std::string& path, std::string_view text, mode_t mode,
                                    std::string* error, const struct stat* old = nullptr);

}  // namespace vigilo
