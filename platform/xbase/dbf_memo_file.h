// DbfMemoFile: the .dbt file that holds the texts of a table's memo fields.
// A memo field stores a block number; the text starts at that block. Two
// block layouts exist and both are read: dBase III (512-byte blocks, text
// ended by 0x1A 0x1A) and dBase IV (block size in the header; each memo starts
// with FF FF 08 00 and its length). New memos are appended after the last
// used block in the file's own layout; blocks of replaced memos stay unused,
// as dBase itself leaves them. Internal to platform/xbase.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/xbase/dbf_file_io.h"

namespace vigilo {

enum class DbtLayout { kDbase3, kDbase4 };

class DbfMemoFile {
 public:
  // Opens an existing memo file. Throws DbfError when it cannot be opened or
  // its header is shorter than 512 bytes.
  static std::unique_ptr<DbfMemoFile> Open(const std::string& path, bool writable,
                                           DbtLayout layout);
  // Creates an empty memo file (replacing one of that name). table_name is the
  // .dbf's base name, which the dBase IV header records.
  static std::unique_ptr<DbfMemoFile> Create(const std::string& path, DbtLayout layout,
                                             std::string_view table_name);

  // The text stored at block. Throws DbfError when the block or the text's
  // stated length lies outside the file.
  std::string Read(uint32_t block);
  // Appends text as a new memo and returns its block number. Holds the memo
  // file's write lock while it writes. Throws DbfError on failure.
  uint32_t Write(std::string_view text);
  void Sync();

  const std::string& path() const { return path_; }
  uint32_t block_size() const { return block_size_; }

 private:
  DbfMemoFile() = default;
  std::string path_;
  UniqueFd fd_;
  DbtLayout layout_ = DbtLayout::kDbase3;
  uint32_t block_size_ = 512;
};

}  // namespace vigilo
