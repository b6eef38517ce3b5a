// DeliveredList: how an outbox lets go of delivered messages without making
// each delivery wait while the file system frees a file, and each new message
// wait while it allocates one.
//
// When a message has left (delivered, or given up), its id is appended to the
// list file "delivered" in the outbox directory, one id a line. From that
// moment the message counts as gone: Outbox::List and Find pass over every id
// the list names, so a crash before its file is dealt with neither shows the
// message again nor delivers it twice. The append is one write to the page
// cache, which outlives the process as the removal of a file does; neither is
// forced to the disk.
//
// The file itself is kept, up to kSpareFiles of them, and the next new
// message is written over it under its own name (TakeSpare): the file system
// then neither allocates nor frees an inode or a block for a message, on some
// file systems the costliest part of its way through the outbox. Files beyond
// kSpareFiles are removed at once.
//
// A kept file holds the text of a message that has left, under that
// message's id; once taken, its text names another id than the file, or is
// longer than its Length line says, until it is written over in full. The
// outbox takes a file for an entry only when both match (outbox.h), so old
// text, or what a crash left of the new, never passes for a message.
//
// Settle, at the end of each tick, renames the kept files to spares
// ("PID-N.spare", which List passes over), writes NUL bytes over each so
// that the text of delivered mail does not stay on disk (the inode and its
// blocks are still spared),
// and removes the list, so between
// ticks the outbox holds only what waits for delivery; at the start of each
// tick it removes what a crash left: every file a list it did not write
// names, and that list. Spare files found at the first Settle are kept.
//
// Owned by an Outbox; used by one thread.
#pragma once

#include <sys/types.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vigilo {

// The list's file name in the outbox directory.
inline constexpr const char* kDeliveredListFile = "delivered";
// How many files of messages that have left are kept for new messages, and
// the suffix of one kept between ticks.
inline constexpr size_t kSpareFiles = 256;
inline constexpr const char* kSpareSuffix = ".spare";
// A spare larger than this is cut to nothing rather than written over.
inline constexpr size_t kMaxSpareBytes = size_t{1} << 20;

class DeliveredList {
 public:
  explicit DeliveredList(std::string directory);
  ~DeliveredList();  // Settle; the spares stay for the next start
  DeliveredList(const DeliveredList&) = delete;
  DeliveredList& operator=(const DeliveredList&) = delete;

  // Appends the id, then keeps the file at path for a new message or removes
  // it. False (with *error set) when the id could not be appended: the
  // caller then removes the file itself.
  bool Add(const std::string& id, const std::string& path, std::string* error);
  // Where the last Add's line went in the list file (its inode, its size
  // before and after), when known: a reader of the list that had taken in
  // all before it needs to read nothing to know the line.
  struct Append {
    ino_t ino = 0;
    off_t before = 0;
    off_t after = 0;
  };
  std::optional<Append> LastAppend() const { return last_append_; }
  // Renames a kept file to path (which must not exist) and returns true;
  // false when none is kept (or the rename failed): the caller creates the
  // file. The file holds old text the caller writes over and cuts.
  bool TakeSpare(const std::string& path);
  // Removes the files a list this object did not write names and that list;
  // renames the files it keeps to spares and removes its own list. Returns
  // false when a file could not be removed (its id then stays listed).
  bool Settle();

  // The ids of the list file in a directory: whole lines only, so a line a
  // crash cut short names nothing.
  static std::set<std::string> Read(const std::string& directory);

 private:
  // A file kept for a new message: a spare, or one still under the name of
  // the message that left (id, named in the list).
  struct Kept {
    std::string path;
    std::string id;  // empty for a spare
  };

  bool OpenList(std::string* error);
  void CloseList();
  // Writes the list anew with the ids of the unremoved files.
  bool RewriteList();
  void AdoptSpares();
  // Cuts a spare to nothing, so that no delivered mail stays on disk.
  static void EmptyFile(const std::string& path);
  // Writes NUL bytes over the whole of a spare's text: no delivered mail
  // stays on disk, and the file keeps its blocks for the next message.
  static void BlankFile(const std::string& path);
  std::string SparePath();

  std::string directory_;
  std::string list_path_;
  int fd_ = -1;             // the list file, open for appending
  bool own_ = false;        // the list file is one this object wrote
  bool line_cut_ = false;   // the last append was cut short: begin a new line
  // The list file's inode and size while it is open and every append was
  // whole (only this object appends to it); size -1 when not known.
  ino_t list_ino_ = 0;
  off_t list_size_ = -1;
  std::optional<Append> last_append_;
  std::vector<Kept> kept_;
  std::vector<std::string> unremoved_;  // ids whose file could not be removed
  bool adopted_ = false;                // spares of earlier runs looked for
  int pid_;                             // in the names of the spares it makes
  unsigned spare_sequence_ = 0;
};

}  // namespace vigilo
