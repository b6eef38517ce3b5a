// The physical floor of the update tick: what any program must do to run
// it on the files. It reads the bytes of the records, the history and the
// flag table once (pread of each whole file), selects the same (rule,
// record) pairs by comparing raw field bytes, and writes each pair's field
// into its record (one pwrite a record) and the new flags in one append and
// one header write. It writes to its own copies of the records and of the
// flag table, so the engine's files stay as the engine left them.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/format.h"

namespace vigilo {

class UpdateTickFloor {
 public:
  // project_dir holds Bugs.dbf, BugsHist.dbf and the flag table BugsVGLS.dbf
  // the engine made; their copies go to scratch_dir.
  UpdateTickFloor(const std::string& project_dir, const std::string& scratch_dir)
      : bugs_(project_dir + "/Bugs.dbf"),
        hist_(project_dir + "/BugsHist.dbf"),
        bugs_copy_(scratch_dir + "/Bugs.dbf"),
        flags_(scratch_dir + "/BugsVGLS.dbf") {
    std::filesystem::create_directories(scratch_dir);
    const auto over = std::filesystem::copy_options::overwrite_existing;
    std::filesystem::copy_file(bugs_, bugs_copy_, over);
    std::filesystem::copy_file(project_dir + "/BugsVGLS.dbf", flags_, over);
  }

  // Empties the floor's flag table (as the matching ticks start).
  void ClearFlags() {
    std::string header = ReadAll(flags_);
    const uint16_t header_length = U16(header, 8);
    header.resize(header_length);
    header[4] = header[5] = header[6] = header[7] = 0;
    WriteFile(flags_, header);
  }

  // One tick of `rules` rules as the benchmark's: rule r (from 1) wants
  // Category C((r - 1) % categories); the first half Status Closed, the
  // second a history row Status Open -> Closed. Returns the pairs written.
  long Tick(int rules, int categories) {
    // The buffers are kept from tick to tick: a fresh 100 MB buffer would
    // cost more in page faults than reading into it.
    const std::string& bugs = ReadAll(bugs_, bugs_buffer_);
    const std::string& hist = ReadAll(hist_, hist_buffer_);
    const std::string& flags = ReadAll(flags_, flags_buffer_);
    const Layout b(bugs), h(hist), f(flags);
    std::set<int64_t> closed_in_history;
    const Layout::Field &what = h.At("ChngWhat"), &from = h.At("ChngFrom"), &to = h.At("ChngTo"),
                        &hist_id = h.At("FormID");
    for (uint32_t i = 0; i < h.count; ++i) {
      const char* rec = hist.data() + h.header + size_t{i} * h.length;
      if (*rec != '*' && Is(rec, to, "Closed") && Is(rec, what, "Status") &&
          Is(rec, from, "Open")) {
        closed_in_history.insert(Number(rec, hist_id));
      }
    }
    std::set<std::pair<int64_t, int64_t>> flagged;  // (RuleID, FormID)
    const Layout::Field &flag_rule = f.At("RuleID"), &flag_id = f.At("FormID");
    for (uint32_t i = 0; i < f.count; ++i) {
      const char* rec = flags.data() + f.header + size_t{i} * f.length;
      if (*rec != '*') flagged.emplace(Number(rec, flag_rule), Number(rec, flag_id));
    }
    const int fd = open(bugs_copy_.c_str(), O_WRONLY);
    std::string appended;
    long pairs = 0;
    const Layout::Field &category = b.At("Category"), &status = b.At("Status"),
                        &bug_id = b.At("FormID");
    std::vector<std::string> wanted(rules + 1);
    for (int r = 1; r <= rules; ++r) wanted[r] = Format("C%02d", (r - 1) % categories);
    for (uint32_t i = 0; i < b.count; ++i) {
      const char* rec = bugs.data() + b.header + size_t{i} * b.length;
      if (*rec == '*') continue;
      const int64_t form_id = Number(rec, bug_id);
      const bool closed = Is(rec, status, "Closed");
      const bool in_history = closed_in_history.count(form_id) != 0;
      if (!closed && !in_history) continue;
      const std::string_view cat = Trim(std::string_view(rec + category.offset, category.width));
      for (int r = 1; r <= rules; ++r) {
        if (cat != wanted[r]) continue;
        if (!(r <= rules / 2 ? closed : in_history) || flagged.count({r, form_id})) continue;
        const Layout::Field& field = b.At(r <= rules / 2 ? "Resolution" : "Priority");
        std::string value = r <= rules / 2 ? Format("Done %d", r) : std::string("1");
        value.resize(field.width, ' ');
        if (pwrite(fd, value.data(), value.size(),
                   static_cast<off_t>(b.header + size_t{i} * b.length + field.offset)) < 0) {
          throw std::runtime_error("floor: cannot write a record");
        }
        std::string flag(f.length, ' ');
        f.Put(flag, "FormID", form_id);
        f.Put(flag, "RuleID", r);
        appended += flag;
        ++pairs;
      }
    }
    close(fd);
    const int ffd = open(flags_.c_str(), O_WRONLY);
    const uint32_t count = f.count + static_cast<uint32_t>(pairs);
    if (pwrite(ffd, appended.data(), appended.size(),
               static_cast<off_t>(f.header + size_t{f.count} * f.length)) < 0 ||
        pwrite(ffd, &count, 4, 4) != 4) {
      throw std::runtime_error("floor: cannot write the flags");
    }
    close(ffd);
    return pairs;
  }

 private:
  static uint16_t U16(const std::string& s, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8);
  }
  static std::string_view Trim(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    return s;
  }
  // The header of a .dbf file: its record count and length and its fields.
  struct Layout {
    struct Field {
      size_t offset = 0;
      size_t width = 0;
    };
    explicit Layout(const std::string& file) {
      std::memcpy(&count, file.data() + 4, 4);
      header = U16(file, 8);
      length = U16(file, 10);
      size_t offset = 1;  // the deletion mark
      for (size_t at = 32; at + 32 <= header && file[at] != '\r'; at += 32) {
        const std::string name(file.data() + at, strnlen(file.data() + at, 11));
        const size_t width = static_cast<uint8_t>(file[at + 16]);
        fields[name] = Field{offset, width};
        offset += width;
      }
    }
    const Field& At(const std::string& name) const {
      auto it = fields.find(name);
      if (it == fields.end()) throw std::runtime_error("floor: no field " + name);
      return it->second;
    }
    void Put(std::string& rec, const std::string& name, int64_t value) const {
      const Field& field = At(name);
      const std::string digits = std::to_string(value);
      rec.replace(field.offset + field.width - digits.size(), digits.size(), digits);
    }
    uint32_t count = 0;
    size_t header = 0;
    size_t length = 0;
    std::map<std::string, Field> fields;
  };

  // The field holds the text, blank-padded.
  static bool Is(const char* rec, const Layout::Field& field, std::string_view text) {
    const char* p = rec + field.offset;
    if (text.size() > field.width || std::memcmp(p, text.data(), text.size()) != 0) return false;
    for (size_t i = text.size(); i < field.width; ++i) {
      if (p[i] != ' ') return false;
    }
    return true;
  }
  static int64_t Number(const char* rec, const Layout::Field& field) {
    int64_t value = 0;
    for (size_t i = 0; i < field.width; ++i) {
      const char c = rec[field.offset + i];
      if (c >= '0' && c <= '9') value = 10 * value + (c - '0');
    }
    return value;
  }
  static std::string ReadAll(const std::string& path) {
    std::string bytes;
    return ReadAll(path, bytes);
  }
  static const std::string& ReadAll(const std::string& path, std::string& bytes) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) throw std::runtime_error("floor: cannot open " + path);
    bytes.resize(static_cast<size_t>(lseek(fd, 0, SEEK_END)));
    const ssize_t got = pread(fd, bytes.data(), bytes.size(), 0);
    close(fd);
    if (got != static_cast<ssize_t>(bytes.size())) throw std::runtime_error("floor: short read");
    return bytes;
  }
  static void WriteFile(const std::string& path, const std::string& bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_TRUNC);
    const bool ok = fd >= 0 && write(fd, bytes.data(), bytes.size()) ==
                                   static_cast<ssize_t>(bytes.size());
    if (fd >= 0) close(fd);
    if (!ok) throw std::runtime_error("floor: cannot write " + path);
  }

  std::string bugs_, hist_, bugs_copy_, flags_;
  std::string bugs_buffer_, hist_buffer_, flags_buffer_;
};

}  // namespace vigilo
