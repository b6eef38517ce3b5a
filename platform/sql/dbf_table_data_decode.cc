// Decoding the fields of a .dbf file into the columns of DbfTableData: a
// whole column in one pass over the file, single records as they are
// appended or found rewritten, and partial indexes read from the records'
// bytes without decoding their columns.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/digit_words.h"
#include "common/format.h"
#include "platform/sql/block_hasher.h"
#include "platform/sql/database.h"
#include "platform/sql/dbf_field_text.h"
#include "platform/sql/dbf_table_data.h"

namespace vigilo::sql {

namespace {

using KeyedRows = std::vector<std::pair<int64_t, uint32_t>>;

// The equality index of integer keys given with their rows; the rows of a
// key stay in the order given.
std::shared_ptr<EqIndex> IndexOfKeys(KeyedRows& pairs, uint32_t covered) {
  auto index = std::make_shared<EqIndex>();
  index->covered = covered;
  int64_t low = INT64_MAX, high = INT64_MIN;
  for (const auto& [key, row] : pairs) {
    low = std::min(low, key);
    high = std::max(high, key);
  }
  const uint64_t count = pairs.size();
  if (count == 0 || static_cast<uint64_t>(high) - static_cast<uint64_t>(low) < 2 * count + 1024) {
    // A slot a key, counted.
    index->dense = true;
    index->base = count == 0 ? 0 : low;
    const size_t slots = count == 0 ? 0 : static_cast<size_t>(high - low) + 1;
    // Each slot's end, then (filled from the last row back) its start.
    std::vector<uint32_t> starts(slots + 1, 0);
    for (const auto& [key, row] : pairs) ++starts[static_cast<size_t>(key - low)];
    for (size_t s = 0; s < slots; ++s) {
      index->distinct += starts[s] != 0;
      if (s > 0) starts[s] += starts[s - 1];
    }
    starts[slots] = static_cast<uint32_t>(count);
    index->rows.resize(count);
    for (auto it = pairs.rbegin(); it != pairs.rend(); ++it) {
      index->rows[--starts[static_cast<size_t>(it->first - low)]] = it->second;
    }
    index->starts = std::move(starts);
    return index;
  }
  std::stable_sort(pairs.begin(), pairs.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  IndexSortedPairs(pairs, *index);
  return index;
}

// The keys and rows of an integer index, key by key.
KeyedRows KeysOf(const EqIndex& index) {
  KeyedRows pairs;
  pairs.reserve(index.rows.size());
  for (size_t s = 0; s + 1 < index.starts.size(); ++s) {
    const int64_t key = index.dense ? index.base + static_cast<int64_t>(s) : index.keys[s];
    for (uint32_t i = index.starts[s]; i < index.starts[s + 1]; ++i) {
      pairs.emplace_back(key, index.rows[i]);
    }
  }
  return pairs;
}

}  // namespace

std::optional<int64_t> DbfTableData::IntegerOf(const DbfField& f, std::string_view raw) {
  if (f.type != 'L') return ParseInteger(raw);
  std::string_view t = TrimRaw(raw);
  char l = t.empty() ? '?' : t[0];
  if (l == 'T' || l == 't' || l == 'Y' || l == 'y') return 1;
  if (l == 'F' || l == 'f' || l == 'N' || l == 'n') return 0;
  return std::nullopt;
}

// The code of a field's value in the column's dictionary.
uint32_t DbfTableData::CodeOf(ColumnKind kind, std::string_view raw, TextDictionary& dict) {
  switch (kind) {
    case ColumnKind::kDate: {
      std::string_view d = TrimRaw(raw);
      if (d.size() != 8 || !std::all_of(d.begin(), d.end(), ::isdigit)) {
        return TextDictionary::kNone;
      }
      char iso[10] = {d[0], d[1], d[2], d[3], '-', d[4], d[5], '-', d[6], d[7]};
      return dict.Intern(std::string_view(iso, 10));
    }
    case ColumnKind::kMemo:
      return dict.Intern(raw);  // the block pointer; the text is read on demand
    default: {
      std::string_view text = TrimRightRaw(raw);
      if (text.find('\0') == std::string_view::npos) return dict.Intern(text);
      // A NUL inside a character field reads as a blank: C strings further
      // on (mail text, log lines) would otherwise lose the rest of the value.
      std::string copy(text);
      std::replace(copy.begin(), copy.end(), '\0', ' ');
      return dict.Intern(copy);
    }
  }
}

// Decodes one column of runs of records into its vectors. Text fields are looked up by their raw bytes first: most
// columns repeat a few values, and a value seen before then costs a hash and
// a compare of its bytes instead of trimming and interning it again. The
// blank words at a field's end are left out of both, so that a wide field
// holding a short text costs about what a short field does.
class DbfTableData::ColumnDecoder {
 public:
  ColumnDecoder(Column& column, const DbfField& field, size_t offset)
      : c_(column), field_(field), offset_(offset), width_(field.width), slots_(64) {}

  // Appends the column's values of n records.
  void Decode(const char* bytes, size_t length, uint32_t n) {
    const char* raw = bytes + offset_;
    switch (c_.kind) {
      case ColumnKind::kInteger:
        for (uint32_t i = 0; i < n; ++i, raw += length) {
          int64_t value = 0;
          if (field_.type == 'L' || !ParseRightAlignedDigits(raw, width_, &value)) {
            value = IntegerOf(field_, std::string_view(raw, width_)).value_or(kNullInteger);
          }
          c_.ints.push_back(value);
        }
        return;
      case ColumnKind::kReal:
        for (uint32_t i = 0; i < n; ++i, raw += length) {
          std::optional<double> v = ParseReal(std::string_view(raw, width_));
          c_.reals.push_back(v.value_or(0));
          c_.nulls.push_back(!v);
        }
        return;
      default:
        for (uint32_t i = 0; i < n; ++i, raw += length) c_.codes.push_back(Code(raw));
    }
  }

 private:
  // A column whose values are mostly unique (titles, descriptions) is not
  // looked up by its raw bytes: the lookup cannot pay, and the copies would
  // cost memory. Neither would a long run of distinct wide values.
  static constexpr size_t kMinUnique = 4096;
  static constexpr size_t kMaxRawBytes = size_t{1} << 18;
  static constexpr uint32_t kEmpty = UINT32_MAX;
  static constexpr uint64_t kBlanks = 0x2020202020202020ULL;
  struct Entry {
    uint32_t offset = kEmpty;  // of the raw bytes in raw_
    uint32_t size = 0;
    uint64_t head = 0;         // the first bytes (up to eight), zero-padded
    uint32_t code = 0;
  };

  uint32_t Code(const char* raw) {
    if (bypass_) return CodeOf(c_.kind, std::string_view(raw, width_), c_.dict);
    ++looked_up_;
    // The field without its trailing blank words: equal fields, and only
    // those, have equal sizes and bytes.
    size_t size = width_;
    while (size >= 16 && (Word(raw + size - 8) & Word(raw + size - 16)) == kBlanks &&
           (Word(raw + size - 8) | Word(raw + size - 16)) == kBlanks) {
      size -= 16;
    }
    if (size >= 8 && Word(raw + size - 8) == kBlanks) size -= 8;
    const uint64_t head = Head(raw, size);
    const size_t mask = slots_.size() - 1;
    size_t slot = Hash(raw, size, head) & mask;
    for (;; slot = (slot + 1) & mask) {
      const Entry& e = slots_[slot];
      if (e.offset == kEmpty) break;
      if (e.head == head && e.size == size && SameTail(raw_.data() + e.offset, raw, size)) {
        return e.code;
      }
    }
    return Add(raw, size, head, slot);
  }

  // Beyond the first word (which the caller compared).
  static bool SameTail(const char* stored, const char* raw, size_t size) {
    if (size <= 8) return true;
    if (size <= 16) return Word(stored + size - 8) == Word(raw + size - 8);
    return std::memcmp(stored + 8, raw + 8, size - 8) == 0;
  }

  // A value not seen yet: interned, and remembered by its raw bytes in the
  // free slot the lookup ended at.
  [[gnu::noinline]] uint32_t Add(const char* raw, size_t size, uint64_t head, size_t slot) {
    const uint32_t code = CodeOf(c_.kind, std::string_view(raw, width_), c_.dict);
    if ((entries_ >= kMinUnique && 4 * entries_ > looked_up_) ||
        raw_.size() + size > kMaxRawBytes) {
      bypass_ = true;
      slots_ = {};
      raw_ = {};
      return code;
    }
    slots_[slot] = Entry{static_cast<uint32_t>(raw_.size()), static_cast<uint32_t>(size), head,
                         code};
    raw_.append(raw, size);
    // At most half full, so that probes stay short.
    if (2 * ++entries_ > slots_.size()) Grow();
    return code;
  }

  // The first min(size, 8) bytes of the field at p, zero-padded.
  uint64_t Head(const char* p, size_t size) const {
    if (size >= 8) return Word(p);
    if (size == 0) return 0;
    if (width_ >= 8) return Word(p) & (~uint64_t{0} >> (8 * (8 - size)));
    uint64_t head = 0;
    std::memcpy(&head, p, size);
    return head;
  }
  // The first `size` bytes at p, whose first word is `head`.
  static uint64_t Hash(const char* p, size_t size, uint64_t head) {
    uint64_t h = Mix(0x9E3779B97F4A7C15ULL ^ size ^ head);
    if (size > 8) {
      size_t i = 8;
      for (; i + 8 <= size; i += 8) h = Mix(h ^ Word(p + i));
      if (i < size) h = Mix(h ^ Word(p + size - 8));  // overlaps what was taken
    }
    return h ^ (h >> 29);
  }
  static uint64_t Word(const char* p) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
  }
  static uint64_t Mix(uint64_t h) {
    h *= 0xBF58476D1CE4E5B9ULL;
    return h ^ (h >> 31);
  }
  void Grow() {
    std::vector<Entry> old = std::move(slots_);
    slots_.assign(2 * old.size(), Entry{});
    const size_t mask = slots_.size() - 1;
    for (const Entry& e : old) {
      if (e.offset == kEmpty) continue;
      size_t slot = Hash(raw_.data() + e.offset, e.size, e.head) & mask;
      while (slots_[slot].offset != kEmpty) slot = (slot + 1) & mask;
      slots_[slot] = e;
    }
  }
  Column& c_;
  const DbfField& field_;
  const size_t offset_;
  const size_t width_;
  bool bypass_ = false;
  std::vector<Entry> slots_;
  std::string raw_;  // the raw bytes of each cached value, one after the other
  size_t entries_ = 0;
  size_t looked_up_ = 0;
};
// Reads a partial index from runs of records: the filter field compared
// with the constant on its raw bytes, the key parsed on the rows that hold
// it.
class DbfTableData::PartialReader {
 public:
  PartialReader(const DbfTable& table, int key_field, int filter_field, const EqConstant& filter,
                const EqIndex* earlier, uint32_t rows)
      : key_field_(table.Field(key_field)),
        filter_field_(table.Field(filter_field)),
        key_offset_(table.FieldOffset(key_field)),
        filter_offset_(table.FieldOffset(filter_field)),
        width_(filter_field_.width),
        length_(table.record_length()),
        is_text_(filter.is_text),
        integer_(filter.integer),
        pairs_(earlier ? KeysOf(*earlier) : KeyedRows{}) {
    // The bytes of a text field that reads as the constant: the text
    // without its trailing blanks, blank-padded (a field may still read so
    // with NULs for some of the blanks). No field reads as a longer text,
    // nor as one holding a NUL.
    padded_ = filter.text;
    while (!padded_.empty() && padded_.back() == ' ') padded_.pop_back();
    possible_ = is_text_ ? padded_.size() <= width_ && padded_.find('\0') == std::string::npos
                         : integer_ != kNullInteger;
    padded_.resize(width_, ' ');
    // Room for every row: pages never written cost nothing, and growing
    // would write the pairs twice.
    if (possible_) pairs_.reserve(pairs_.size() + (rows - (earlier ? earlier->covered : 0)));
  }

  // n records from row `first` on.
  void Read(uint32_t first, const char* bytes, uint32_t n) {
    if (!possible_) return;
    const bool digits = key_field_.type != 'L';
    const char* record = bytes;
    for (uint32_t i = 0; i < n; ++i, record += length_) {
      if (!Holds(record + filter_offset_)) continue;
      int64_t key = 0;
      if (!digits || !ParseRightAlignedDigits(record + key_offset_, key_field_.width, &key)) {
        key = IntegerField(key_field_, record + key_offset_);
      }
      if (key != kNullInteger) pairs_.emplace_back(key, first + i);
    }
  }

  std::shared_ptr<EqIndex> Index(uint32_t covered) { return IndexOfKeys(pairs_, covered); }

 private:
  bool Holds(const char* field) const {
    using digit_words::Word;
    if (!is_text_) return IntegerField(filter_field_, field) == integer_;
    const char* const padded = padded_.data();
    const size_t width = width_;
    size_t i = 0;
    if (width >= 8) {
      // Most fields differ in their first word, at a byte that is no NUL.
      const uint64_t differ = Word(field) ^ Word(padded);
      if (differ == 0) {
        bool same = Word(field + width - 8) == Word(padded + width - 8);
        for (size_t j = 8; same && j + 8 < width; j += 8) same = Word(field + j) == Word(padded + j);
        if (same) return true;
      } else {
        i = static_cast<size_t>(__builtin_ctzll(differ)) / 8;  // little-endian
        if (field[i] != '\0' || padded[i] != ' ') return false;
      }
    } else if (std::memcmp(field, padded, width) == 0) {
      return true;
    }
    // A NUL reads as a blank.
    for (; i < width; ++i) {
      if (field[i] != padded[i] && (field[i] != '\0' || padded[i] != ' ')) return false;
    }
    return true;
  }

  const DbfField& key_field_;
  const DbfField& filter_field_;
  const size_t key_offset_;
  const size_t filter_offset_;
  const size_t width_;
  const size_t length_;
  const bool is_text_;
  const int64_t integer_;
  std::string padded_;
  bool possible_ = false;
  KeyedRows pairs_;
};

int64_t DbfTableData::IntegerField(const DbfField& f, const char* raw) {
  int64_t value = 0;
  if (f.type == 'L' || !ParseRightAlignedDigits(raw, f.width, &value)) {
    value = IntegerOf(f, std::string_view(raw, f.width)).value_or(kNullInteger);
  }
  return value;
}

void DbfTableData::EnsureColumns(ColumnMask mask) { LoadColumns(mask, nullptr); }

void DbfTableData::LoadColumns(ColumnMask mask, const RecordRuns* also) {
  if (!valid_) Reset();
  std::vector<Column*> wanted;
  for (size_t i = 0; i < columns_.size(); ++i) {
    bool in_mask = (mask >> std::min<size_t>(i, 63)) & 1;
    if (in_mask && !columns_[i].loaded) wanted.push_back(&columns_[i]);
  }
  if (wanted.empty() && deleted_loaded_) {
    if (also) {
      table_->ScanBlocks(1, rows_, [&](uint32_t first, const char* bytes, uint32_t n) {
        (*also)(first - 1, bytes, std::min(n, rows_ - (first - 1)));
        return true;
      });
    }
    return;
  }
  bool want_deleted = !deleted_loaded_;
  if (want_deleted) {
    // Set a word at a time; the pass marks the few deleted rows.
    deleted_.assign(rows_, false);
    any_deleted_ = false;
  }
  for (Column* c : wanted) {
    // Loading a column changes nothing the indexes read from the file's
    // bytes hold.
    const uint64_t changes = c->changes;
    c->Clear();
    c->changes = changes;
    switch (c->kind) {
      case ColumnKind::kInteger: c->ints.reserve(rows_); break;
      case ColumnKind::kReal:
        c->reals.reserve(rows_);
        c->nulls.reserve(rows_);
        break;
      default: c->codes.reserve(rows_);
    }
  }
  uint32_t seen = 0;
  // The first pass takes the checksums a later reading compares when it
  // decodes columns (comparing them again would cost more). One that decodes
  // none takes none: the first reading after a change compares the deletion
  // marks, reads the indexes read from the bytes again, and takes them.
  const bool hash = want_deleted && !wanted.empty();
  if (want_deleted) {
    block_hashes_.clear();
    hashed_rows_ = 0;
  }
  BlockHasher hasher;
  const size_t length = table_->record_length();
  std::vector<ColumnDecoder> decoders;
  for (Column* c : wanted) decoders.emplace_back(*c, table_->Field(c->field), table_->FieldOffset(c->field));
  table_->ScanBlocks(1, rows_, [&](uint32_t first, const char* bytes, uint32_t n) {
    if (first - 1 + n > rows_) n = rows_ - (first - 1);
    if (want_deleted) {
      for (uint32_t i = 0; i < n; ++i) {
        if (bytes[i * length] == '*') {
          deleted_[first - 1 + i] = true;
          any_deleted_ = true;
        }
      }
    }
    for (uint32_t done = 0; hash && done < n;) {
      const uint32_t row = first - 1 + done;
      const uint32_t run = std::min(n - done, kHashBlock - row % kHashBlock);
      hasher.Add(bytes + done * length, run * length);
      done += run;
      if ((row + run) % kHashBlock == 0) block_hashes_.push_back(hasher.Finish());
    }
    // A column at a time: one tight loop per column and block.
    for (ColumnDecoder& decoder : decoders) decoder.Decode(bytes, length, n);
    if (also) (*also)(first - 1, bytes, n);
    seen += n;
    return true;
  });
  if (seen != rows_) {
    // The file became shorter than its header said a moment ago.
    valid_ = false;
    throw DbException(Format("The table %s changed while it was read.", path_.c_str()));
  }
  if (hash) {
    hashed_rows_ = rows_;
    tail_hash_ = hasher.Peek();
  }
  deleted_loaded_ = true;
  for (Column* c : wanted) c->loaded = true;
}

// Reads the file again after a change, decoding only what changed: blocks of
// records whose checksum moved (the records after the last whole block
// count as one), records no checksum covers (appended by the engine since),
// and records appended. A table that only grew (a change history, a flag
// table) costs the check of its bytes and the decoding of its new records.
void DbfTableData::Reload() {
  if (!deleted_loaded_) {  // nothing decoded yet: nothing to keep
    Reset();
    return;
  }
  TakeStamp();
  OpenAgain();
  const uint32_t count = table_->RecordCount();
  if (count < rows_) {  // packed or cut: the rows moved
    fresh_open_ = true;
    Reset();
    return;
  }
  const uint32_t old_rows = rows_;
  const size_t hashed_blocks = block_hashes_.size();
  const uint32_t hashed_rows = hashed_rows_;
  std::vector<size_t> changed_blocks;
  bool changed = count != old_rows;
  // Without checksums every record is compared, which drops the partial
  // indexes read from the bytes: they are read again in this same pass.
  std::vector<std::pair<Partial*, PartialReader>> rereads;
  for (Partial& p : partials_) {
    if (hashed_rows > 0 || !ReadFromBytes(p.column, p.filter_column)) continue;
    rereads.emplace_back(&p, PartialReader(*table_, columns_[p.column].field,
                                           columns_[p.filter_column].field, p.filter, nullptr,
                                           count));
  }
  BlockHasher hasher;
  uint32_t seen = 0;
  const size_t length = table_->record_length();
  table_->ScanBlocks(1, count, [&](uint32_t first, const char* bytes, uint32_t n) {
    // Runs of records within one checksum block at a time, and on either
    // side of the last row checksummed.
    for (uint32_t done = 0; done < n;) {
      const uint32_t row = first - 1 + done;
      const size_t block = row / kHashBlock;
      uint32_t run = std::min(n - done, kHashBlock - row % kHashBlock);
      if (row < hashed_rows) run = std::min(run, hashed_rows - row);
      const char* run_bytes = bytes + done * length;
      hasher.Add(run_bytes, run * length);
      for (auto& [partial, reader] : rereads) reader.Read(row, run_bytes, run);
      if (row >= hashed_rows) {
        const uint32_t kept = row < old_rows ? std::min(run, old_rows - row) : 0;
        if (kept > 0) changed = RedecodeRows(row, run_bytes, kept) || changed;
        for (uint32_t i = kept; i < run; ++i) {
          AppendDecoded(std::string_view(run_bytes + i * length, length));
        }
      } else if (row + run == hashed_rows && hashed_rows % kHashBlock != 0 &&
                 hasher.Peek() != tail_hash_) {
        changed_blocks.push_back(block);  // the records after the last whole block
      }
      done += run;
      if ((row + run) % kHashBlock == 0) {
        const uint64_t hash = hasher.Finish();
        if (block >= hashed_blocks) {
          block_hashes_.push_back(hash);
        } else if (hash != block_hashes_[block]) {
          block_hashes_[block] = hash;
          changed_blocks.push_back(block);
        }
      }
    }
    seen += n;
    return true;
  });
  if (seen != count || rows_ != count) {
    valid_ = false;
    throw DbException(Format("The table %s changed while it was read.", path_.c_str()));
  }
  hashed_rows_ = count;
  tail_hash_ = hasher.Peek();
  for (size_t block : changed_blocks) {
    const uint32_t first = static_cast<uint32_t>(block * kHashBlock);
    const uint32_t last = std::min<uint32_t>(first + kHashBlock, hashed_rows);
    table_->Scan(first + 1, last, [&](uint32_t recno, std::string_view record) {
      changed = RedecodeRow(recno - 1, record) || changed;
      return true;
    });
  }
  for (auto& [partial, reader] : rereads) {
    partial->index = reader.Index(count);
    partial->tail_reads = 0;
    partial->column_changes = columns_[partial->column].changes;
    partial->filter_changes = columns_[partial->filter_column].changes;
  }
  if (changed) {
    key_set_.reset();
    for (Column& c : columns_) c.rows_per_key = -1;
  }
}

void DbfTableData::Push(Column& c, std::string_view record) {
  std::string_view raw = FieldBytes(c, record);
  switch (c.kind) {
    case ColumnKind::kInteger:
      c.ints.push_back(IntegerOf(table_->Field(c.field), raw).value_or(kNullInteger));
      break;
    case ColumnKind::kReal: {
      std::optional<double> v = ParseReal(raw);
      c.reals.push_back(v.value_or(0));
      c.nulls.push_back(!v);
      break;
    }
    default:
      c.codes.push_back(CodeOf(c.kind, raw, c.dict));
  }
}

bool DbfTableData::Replace(Column& c, uint32_t row, std::string_view record) {
  std::string_view raw = FieldBytes(c, record);
  switch (c.kind) {
    case ColumnKind::kInteger: {
      int64_t v = IntegerOf(table_->Field(c.field), raw).value_or(kNullInteger);
      bool changed = c.ints[row] != v;
      c.ints.Set(row, v);
      return changed;
    }
    case ColumnKind::kReal: {
      std::optional<double> v = ParseReal(raw);
      bool changed = c.nulls[row] != !v || c.reals[row] != v.value_or(0);
      c.reals[row] = v.value_or(0);
      c.nulls[row] = !v;
      return changed;
    }
    default: {
      uint32_t code = CodeOf(c.kind, raw, c.dict);
      bool changed = c.codes[row] != code;
      c.codes.Set(row, code);
      return changed;
    }
  }
}

void DbfTableData::AppendDecoded(std::string_view record) {
  if (deleted_loaded_) {
    deleted_.push_back(!record.empty() && record[0] == '*');
    any_deleted_ = any_deleted_ || deleted_.back();
  }
  for (Column& c : columns_) {
    if (c.loaded) Push(c, record);
  }
  ++rows_;
}

bool DbfTableData::RedecodeRow(uint32_t row, std::string_view record) {
  return RedecodeRows(row, record.data(), 1);
}

bool DbfTableData::RedecodeRows(uint32_t first, const char* bytes, uint32_t n) {
  const size_t length = table_->record_length();
  bool changed = false;
  if (deleted_loaded_) {
    uint8_t any = 0;
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t deleted = bytes[i * length] == '*';
      changed = changed || deleted_[first + i] != deleted;
      deleted_[first + i] = deleted;
      any |= deleted;
    }
    any_deleted_ = any_deleted_ || any;
  }
  for (Column& c : columns_) {
    // A column not in memory may have changed too: the indexes read from
    // its bytes are out of date.
    if (!c.loaded) {
      ++c.changes;
      continue;
    }
    bool column_changed = false;
    for (uint32_t i = 0; i < n; ++i) {
      column_changed =
          Replace(c, first + i, std::string_view(bytes + i * length, length)) || column_changed;
    }
    // Only the index and the estimate of a column whose value changed are
    // out of date.
    if (column_changed) {
      c.index.reset();
      c.rows_per_key = -1;
      ++c.changes;
      changed = true;
    }
  }
  return changed;
}

std::shared_ptr<EqIndex> DbfTableData::ReadPartialIndex(int column, int filter_column,
                                                        const EqConstant& filter,
                                                        const EqIndex* earlier, ColumnMask also) {
  if (!valid_) Reset();
  PartialReader reader(*table_, columns_[column].field, columns_[filter_column].field, filter,
                       earlier, rows_);
  if (!earlier) {
    RecordRuns read = [&reader](uint32_t first, const char* bytes, uint32_t n) {
      reader.Read(first, bytes, n);
    };
    LoadColumns(also, &read);
    return reader.Index(rows_);
  }
  uint32_t seen = earlier->covered;
  table_->ScanBlocks(seen + 1, rows_, [&](uint32_t first, const char* bytes, uint32_t n) {
    n = std::min(n, rows_ - (first - 1));
    reader.Read(first - 1, bytes, n);
    seen += n;
    return true;
  });
  if (seen != rows_) {
    valid_ = false;
    throw DbException(Format("The table %s changed while it was read.", path_.c_str()));
  }
  EnsureColumns(also);
  return reader.Index(rows_);
}

}  // namespace vigilo::sql
