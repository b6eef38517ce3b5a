// DeliveredList: how an outbox lets go of delivered messages without making
// the next delivery wait while the file system frees their files.
//
// When a message has left (delivered, or given up), its id is appended to the
// list file "delivered" in the outbox directory, one id a line, and its file
// is handed to a thread of its own. From the moment of the append the message
// counts as gone: Outbox::List and Find pass over every id the list names, so
// a crash before the file is dealt with neither shows the message again nor
// delivers it twice. The append is one write to the page cache, which
// outlives the process as the removal of a file does; neither is forced to
// the disk.
//
// The thread renames the file to a spare ("PID-N.spare") for a message to
// come, up to kSpareFiles of them, and removes the others: a new message is
// then written over a spare instead of into a new file, and the file system
// neither allocates nor frees an inode or a block for it (on some file
// systems the costliest part of a message's way through the outbox; emptying
// or removing a file that was flushed to the disk costs as much). A spare
// still holds the text of a message that has left, under that message's id,
// and the outbox takes a file for an entry only when the id and the body
// length written in it match (notify/outbox.h), so a spare's old text, or
// what is left of it in a file a crash cut short, is never taken for a
// message. The engine removes the spares a crash leaves at its first Settle.
//
// Settle (at the start and end of each tick) waits for the thread, then
// removes every file the list names, the left-overs of a crash among them,
// and finally the list itself.
//
// Owned by an Outbox; its calls come from the outbox's one thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace vigilo {

// The list's file name in the outbox directory.
inline constexpr const char* kDeliveredListFile = "delivered";
// The suffix of a spare file, and how many are kept.
inline constexpr const char* kSpareSuffix = ".spare";
inline constexpr size_t kSpareFiles = 128;

class DeliveredList {
 public:
  explicit DeliveredList(std::string directory);
  ~DeliveredList();  // finishes the work under way, removes the spares
  DeliveredList(const DeliveredList&) = delete;
  DeliveredList& operator=(const DeliveredList&) = delete;

  // Appends the id and empties (or removes) the file at path in the
  // background. False (with *error set) when the id could not be appended:
  // the caller then removes the file itself.
  bool Add(const std::string& id, const std::string& path, std::string* error);
  // Renames a spare file to path (which must not exist) and returns true;
  // false when there is none (or the rename failed): the caller creates the
  // file. The spare holds old text the caller writes over and cuts.
  bool TakeSpare(const std::string& path);
  // Waits until every file handed to Add is removed.
  void Drain();
  // Drain, then removes the files of every id the list file names (with
  // either state suffix) and, once none is left, the list file. Returns
  // false when a file could not be removed (the list then stays).
  bool Settle();

  // The ids of the list file in a directory: whole lines only, so a line a
  // crash cut short names nothing.
  static std::set<std::string> Read(const std::string& directory);

 private:
  void RemoveFiles();
  // Renames the file to a spare; false when it could not.
  bool MakeSpare(const std::string& path);
  void CloseList();
  // Removes spare files no object of this process made (a crash's).
  void SweepSpares();

  std::string directory_;
  std::string list_path_;
  int fd_ = -1;             // the list file, open for appending
  bool line_cut_ = false;   // the last append was cut short: begin a new line
  bool inherited_ = false;  // the file was there before this object opened it

  std::mutex mutex_;
  std::condition_variable work_;  // a path was queued, or stop
  std::condition_variable idle_;  // the queue ran empty
  std::deque<std::string> queue_;
  size_t busy_ = 0;               // removals taken from the queue, not done
  bool removal_failed_ = false;   // a file could not be removed: keep the list
  bool stop_ = false;
  std::vector<std::string> spares_;  // empty files ready for a message
  unsigned spare_sequence_ = 0;
  bool swept_ = false;
  std::thread thread_;
};

}  // namespace vigilo
