#include "platform/sql/dbf_table_data.h"

#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <unordered_map>

#include "common/format.h"
#include "common/text.h"
#include "platform/sql/database.h"
#include "platform/sql/date_collation.h"
#include "platform/sql/dbase_sql_rewriter.h"
#include "platform/sql/dbf_field_text.h"
#include "platform/sql/dbf_primary_key.h"

namespace vigilo::sql {

namespace {

ColumnKind KindOf(const DbfField& f) {
  switch (f.type) {
    case 'N':
    case 'F':
      return f.decimals == 0 && f.width <= 18 && f.type == 'N' ? ColumnKind::kInteger
                                                                : ColumnKind::kReal;
    case 'L': return ColumnKind::kInteger;
    case 'D': return ColumnKind::kDate;
    case 'M': return ColumnKind::kMemo;
    default: return ColumnKind::kText;
  }
}

int64_t RealTimeNs() {
  timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// How far apart two writes may be and still leave the same modification
// time. Whole-second stamps come from file systems that keep seconds (or two
// seconds); finer stamps still follow the kernel's coarse clock, which moves
// in ticks of a few milliseconds, and a margin covers a clock set by NTP.
int64_t TimestampGranularityNs(int64_t mtime_ns) {
  return mtime_ns % 1000000000 == 0 ? 2000000000 : 50000000;
}

}  // namespace

DbfTableData::DbfTableData(const std::string& path) : path_(path) {
  Reopen();
  fields_ = table_->Fields();
  for (int i = 0; i < table_->FieldCount(); ++i) {
    Column c;
    c.kind = KindOf(table_->Field(i));
    c.field = i;
    columns_.push_back(std::move(c));
  }
  if (auto key = ReadPrimaryKey(path)) {
    std::vector<int> key_columns;
    for (const std::string& name : key->fields) {
      int index = table_->FieldIndex(name);
      if (index < 0) {
        key_columns.clear();  // a key that names no field of the table
        break;
      }
      key_columns.push_back(index);
    }
    key_columns_ = key_columns;
    key_name_ = key->name;
  }
}

DbfTableData::FileStamp DbfTableData::Stamp(int64_t* now) const {
  *now = RealTimeNs();
  struct stat st {};
  FileStamp stamp;
  if (stat(path_.c_str(), &st) == 0) {
    stamp.inode = st.st_ino;
    stamp.size = st.st_size;
    stamp.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 +
                     st.st_mtim.tv_nsec;
  }
  return stamp;
}

void DbfTableData::Reopen() {
  table_.reset();
  try {
    table_ = DbfTable::Open(path_, true);
  } catch (const DbfError&) {
    table_ = DbfTable::Open(path_, false);  // a read-only file stays readable
  }
}

bool DbfTableData::TakeOver() {
  checked_epoch_ = 0;
  if (!usable_) return false;
  try {
    return DbfTable::Open(path_, false)->Fields() == fields_;
  } catch (const DbfError&) {
    return false;
  }
}

void DbfTableData::Refresh(uint64_t epoch) {
  if (valid_ && epoch == checked_epoch_) return;
  checked_epoch_ = epoch;
  if (!valid_) {
    Reset();
    return;
  }
  if (racy_ == Racy::kNextStatement) {
    Reload();
    return;
  }
  int64_t now = 0;
  if (Stamp(&now) != stamp_ || (racy_ == Racy::kAfterGranule && now >= racy_until_ns_)) {
    Reload();
  }
}

void DbfTableData::TakeStamp() {
  int64_t now = 0;
  stamp_ = Stamp(&now);
  racy_ = stamp_.mtime_ns + TimestampGranularityNs(stamp_.mtime_ns) > now ? Racy::kNextStatement
                                                                           : Racy::kNo;
}

void DbfTableData::OpenAgain() {
  // Another writer changed the file: open it again, so that no block the
  // library read before is taken for the file's contents.
  Reopen();
  if (table_->Fields() != fields_) {
    valid_ = false;
    usable_ = false;
    throw DbException(Format("The fields of table %s changed; open the connection again.",
                             path_.c_str()));
  }
}

void IndexSortedPairs(const std::vector<std::pair<int64_t, uint32_t>>& pairs, EqIndex& index) {
  index.rows.reserve(pairs.size());
  for (const auto& [key, row] : pairs) {
    if (index.keys.empty() || index.keys.back() != key) {
      index.keys.push_back(key);
      index.starts.push_back(static_cast<uint32_t>(index.rows.size()));
    }
    index.rows.push_back(row);
  }
  index.starts.push_back(static_cast<uint32_t>(index.rows.size()));
  index.distinct = index.keys.size();
}

void DbfTableData::Reset() {
  // The stamp comes first: a write after it makes the next look read again.
  TakeStamp();
  if (!fresh_open_) OpenAgain();
  fresh_open_ = false;
  for (Column& c : columns_) c.Clear();
  deleted_ = {};
  any_deleted_ = false;
  deleted_loaded_ = false;
  block_hashes_ = {};
  hashed_rows_ = 0;
  key_set_.reset();
  partials_.clear();
  rows_ = table_->RecordCount();
  valid_ = true;
}

// The file now holds what the columns hold, under a stamp that is racy for
// the rest of its granule.
void DbfTableData::AfterWrite() {
  if (batch_depth_ > 0) {
    batch_wrote_ = true;  // stamped once, when the batch ends
    return;
  }
  int64_t now = 0;
  stamp_ = Stamp(&now);
  int64_t until = stamp_.mtime_ns + TimestampGranularityNs(stamp_.mtime_ns);
  if (until > now) {
    racy_ = Racy::kAfterGranule;
    racy_until_ns_ = until;
  } else {
    racy_ = Racy::kNo;
  }
}

void DbfTableData::Column::Clear() {
  loaded = false;
  ints = {};
  reals = {};
  nulls = {};
  dict.Clear();
  codes = {};
  index.reset();
  tail_reads = 0;
  rows_per_key = -1;
  ++changes;
}

std::string DbfTableData::Memo(uint32_t row, int column) {
  std::string_view pointer = Text(row, column);
  std::string_view digits = TrimRaw(pointer);
  if (digits.empty() || digits.find_first_not_of('0') == std::string_view::npos) {
    return "";
  }
  std::string memo = table_->MemoAt(pointer);
  // As in character fields: a NUL would cut the text wherever it passes as
  // a C string (mail bodies, log lines), so it reads as a blank.
  std::replace(memo.begin(), memo.end(), '\0', ' ');
  return memo;
}

bool DbfTableData::Indexable(int column) const {
  ColumnKind k = columns_[column].kind;
  return k == ColumnKind::kInteger || k == ColumnKind::kText || k == ColumnKind::kDate;
}

EqKey DbfTableData::IntegerKey(int column, int64_t value) const {
  EqKey key;
  if (columns_[column].kind == ColumnKind::kInteger) {
    if (value != kNullInteger) {
      key.kind = EqKey::kInteger;
      key.integer = value;
    }
    return key;
  }
  return TextKey(column, std::to_string(value));
}

EqKey DbfTableData::TextKey(int column, std::string_view text) const {
  const Column& c = columns_[column];
  EqKey key;
  if (c.kind == ColumnKind::kInteger) {
    // A text compared with an integer column is converted as SQLite's
    // numeric affinity does; a text that is no number matches nothing.
    std::string trimmed(TrimRaw(text));
    char* end = nullptr;
    double d = strtod(trimmed.c_str(), &end);
    if (trimmed.empty() || *end != 0 || d != static_cast<double>(static_cast<int64_t>(d))) {
      return key;
    }
    return IntegerKey(column, static_cast<int64_t>(d));
  }
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  char date[10];
  if (c.kind == ColumnKind::kDate) text = DateKey(text, date);
  uint32_t code = c.dict.Find(text);
  if (code != TextDictionary::kNone) {
    key.kind = EqKey::kCode;
    key.code = code;
  }
  return key;
}

std::pair<uint32_t, uint32_t> DbfTableData::Range(const EqIndex& index, const EqKey& key) const {
  size_t slot = 0;
  switch (key.kind) {
    case EqKey::kNothing: return {0, 0};
    case EqKey::kCode: slot = key.code; break;
    case EqKey::kInteger:
      if (index.dense) {
        // Unsigned, so that keys below the base fall out of range too.
        slot = static_cast<uint64_t>(key.integer) - static_cast<uint64_t>(index.base);
      } else {
        auto it = std::lower_bound(index.keys.begin(), index.keys.end(), key.integer);
        if (it == index.keys.end() || *it != key.integer) return {0, 0};
        slot = static_cast<size_t>(it - index.keys.begin());
      }
      break;
  }
  if (index.unique) {
    if (slot >= index.rows.size() || index.rows[slot] == UINT32_MAX) return {0, 0};
    return {static_cast<uint32_t>(slot), static_cast<uint32_t>(slot + 1)};
  }
  if (index.starts.empty() || slot >= index.starts.size() - 1) return {0, 0};
  return {index.starts[slot], index.starts[slot + 1]};
}

double DbfTableData::RowsPerKey(int column) {
  Column& c = columns_[column];
  double rows = std::max<double>(1, rows_);
  if (c.index) return std::max(1.0, rows / std::max<size_t>(1, c.index->distinct));
  if (c.rows_per_key >= 0) return c.rows_per_key;
  if (c.loaded && c.kind != ColumnKind::kInteger) {
    c.rows_per_key = std::max(1.0, rows / std::max<uint32_t>(1, c.dict.size()));
    return c.rows_per_key;
  }
  // A sample: spread over the rows when the column is in memory, else the
  // first records of the file. Kept for this version of the table, as the
  // planner asks once per statement and more.
  constexpr uint32_t kSample = 4096;
  // Values counted by the integer, or by the text's code in a scratch
  // dictionary.
  std::unordered_map<int64_t, uint32_t> counts;
  counts.reserve(kSample);
  uint32_t n = 0;
  auto add = [&](int64_t key) {
    ++counts[key];
    ++n;
  };
  if (c.loaded) {
    uint32_t stride = std::max<uint32_t>(1, rows_ / kSample);
    for (uint32_t r = 0; r < rows_; r += stride) {
      if (c.ints[r] != kNullInteger) add(c.ints[r]);
    }
  } else {
    TextDictionary scratch;
    table_->Scan(1, std::min(rows_, kSample), [&](uint32_t, std::string_view record) {
      std::string_view raw = FieldBytes(c, record);
      if (c.kind == ColumnKind::kInteger) {
        if (auto v = IntegerOf(table_->Field(c.field), raw)) add(*v);
      } else {
        uint32_t code = CodeOf(c.kind, raw, scratch);
        if (code != TextDictionary::kNone) add(code);
      }
      return true;
    });
  }
  if (n == 0) {
    c.rows_per_key = rows;
    return rows;
  }
  double singles = 0;
  for (auto& [key, count] : counts) singles += count == 1;
  // Distinct values of the whole column, estimated from the sample (values
  // seen once stand for many unseen ones).
  double distinct = static_cast<double>(counts.size()) +
                    singles * (std::sqrt(rows / n) - 1.0);
  c.rows_per_key = std::max(1.0, rows / std::max(1.0, distinct));
  return c.rows_per_key;
}

bool DbfTableData::TailAffordable(const EqIndex& index, uint64_t& tail_reads) const {
  // Every look-up reads the tail row by row. Once the look-ups since the
  // index was built have read about as many rows as building it again
  // costs, it is built again: a join probing the index for each outer row
  // pays for the tail a bounded number of times, and a run of single
  // look-ups between appends (one a new row) rebuilds it only now and then.
  const uint64_t tail = rows_ - index.covered;
  if (tail == 0) return true;
  // Building costs a few row reads per row, several times more when the
  // keys are sorted instead of counted.
  const uint64_t cost = (index.keys.empty() ? 4 : 16) * uint64_t{rows_} + 4096;
  if (tail_reads + tail > cost) return false;
  tail_reads += tail;
  return true;
}

std::shared_ptr<const EqIndex> DbfTableData::Index(int column) {
  Column& c = columns_[column];
  if (c.index && TailAffordable(*c.index, c.tail_reads)) return c.index;
  c.tail_reads = 0;
  EnsureColumns(ColumnMask{1} << std::min(column, 63));
  c.index = BuildIndex(c, [](uint32_t) { return true; });
  return c.index;
}

std::shared_ptr<const EqIndex> DbfTableData::PartialIndex(int column, int filter_column,
                                                          const EqConstant& filter,
                                                          ColumnMask also) {
  if (!valid_) Reset();
  const ColumnMask both =
      (ColumnMask{1} << std::min(column, 63)) | (ColumnMask{1} << std::min(filter_column, 63));
  // An integer key needs neither column in memory: the index is read from
  // the records' bytes.
  const bool from_bytes = ReadFromBytes(column, filter_column);
  auto same = [&](const Partial& p) {
    return p.column == column && p.filter_column == filter_column && p.filter == filter;
  };
  std::shared_ptr<const EqIndex> earlier;
  auto it = std::find_if(partials_.begin(), partials_.end(), same);
  if (it != partials_.end()) {
    if (it->column_changes == columns_[column].changes &&
        it->filter_changes == columns_[filter_column].changes) {
      if (it->index->covered == rows_) {
        EnsureColumns(also);
        return it->index;
      }
      if (!from_bytes && TailAffordable(*it->index, it->tail_reads)) {
        EnsureColumns(also | both);  // the cursor reads the tail's values
        return it->index;
      }
      if (from_bytes) earlier = it->index;  // the appended rows are read into it
    }
    partials_.erase(it);
  }
  Partial p;
  p.column = column;
  p.filter_column = filter_column;
  p.filter = filter;
  if (from_bytes) {
    p.index = ReadPartialIndex(column, filter_column, filter, earlier.get(), also);
  } else {
    EnsureColumns(also | both);
    const EqKey key = filter.is_text ? TextKey(filter_column, filter.text)
                                     : IntegerKey(filter_column, filter.integer);
    p.index = BuildIndex(columns_[column], [this, filter_column, &key](uint32_t r) {
      return Matches(r, filter_column, key);
    });
  }
  p.column_changes = columns_[column].changes;
  p.filter_changes = columns_[filter_column].changes;
  // A few conditions per table are in use at a time (the rules' constants).
  constexpr size_t kKept = 8;
  if (partials_.size() >= kKept) partials_.pop_back();
  partials_.insert(partials_.begin(), p);
  return p.index;
}

std::optional<double> DbfTableData::KeyRows(int column, const EqKey& key) const {
  const Column& c = columns_[column];
  if (!c.index) return std::nullopt;
  auto [first, last] = Range(*c.index, key);
  return static_cast<double>(last - first);
}

template <typename Keep>
std::shared_ptr<EqIndex> DbfTableData::BuildIndex(const Column& c, Keep keep) const {
  auto index = std::make_shared<EqIndex>();
  // Counting sort of the rows by slot, in local arrays the loops can keep
  // in registers; slot_of gives UINT32_MAX for a row without a key. Each
  // slot's end is counted first; the rows, placed from the last one back,
  // move each end down to its slot's start, so no second array of
  // positions is needed while the index is built.
  const uint32_t rows = rows_;
  auto build = [&](size_t slots, auto slot_of) {
    std::vector<uint32_t> starts(slots + 1, 0);
    uint32_t* const ends = starts.data();
    for (uint32_t r = 0; r < rows; ++r) {
      const uint32_t s = slot_of(r);
      if (s != UINT32_MAX) ++ends[s];
    }
    size_t distinct = 0;
    uint32_t total = 0;
    for (size_t s = 0; s < slots; ++s) {
      distinct += ends[s] != 0;
      total += ends[s];
    }
    if (distinct == total && total > 0) {
      // One row a slot at most: the counts become the rows in place.
      for (size_t s = 0; s < slots; ++s) ends[s] = ends[s] == 0 ? UINT32_MAX : 0;
      for (uint32_t r = 0; r < rows; ++r) {
        const uint32_t s = slot_of(r);
        if (s != UINT32_MAX) ends[s] = r;
      }
      starts.pop_back();
      index->unique = true;
      index->rows = std::move(starts);
      index->distinct = distinct;
      return;
    }
    for (size_t s = 0, sum = 0; s < slots; ++s) {
      sum += ends[s];
      ends[s] = static_cast<uint32_t>(sum);
    }
    starts[slots] = total;
    std::vector<uint32_t> found(total);
    uint32_t* const out = found.data();
    for (uint32_t r = rows; r-- > 0;) {
      const uint32_t s = slot_of(r);
      if (s != UINT32_MAX) out[--ends[s]] = r;
    }
    index->starts = std::move(starts);
    index->rows = std::move(found);
    index->distinct = distinct;
  };
  // Deleted rows are indexed too (readers skip them), so that a record
  // another program recalls is found without building the index again.
  if (c.kind != ColumnKind::kInteger) {
    c.codes.Visit([&](const auto* codes, auto none) {
      build(c.dict.size(), [codes, none, &keep](uint32_t r) {
        return codes[r] == none || !keep(r) ? UINT32_MAX : static_cast<uint32_t>(codes[r]);
      });
    });
  } else {
    c.ints.Visit([&](const auto* ints, auto null) {
      // The keys of the rows kept decide the layout: a partial index over
      // few rows sorts their keys, however many slots the whole column's
      // range would take.
      int64_t low = INT64_MAX, high = INT64_MIN;
      uint32_t count = 0;
      for (uint32_t r = 0; r < rows; ++r) {
        if (ints[r] == null || !keep(r)) continue;
        low = std::min<int64_t>(low, ints[r]);
        high = std::max<int64_t>(high, ints[r]);
        ++count;
      }
      // Keys as dense as record numbers get a slot each; others are sorted.
      if (count == 0 || static_cast<uint64_t>(high) - static_cast<uint64_t>(low) <
                            2 * static_cast<uint64_t>(count) + 1024) {
        index->dense = true;
        index->base = count == 0 ? 0 : low;
        size_t slots = count == 0 ? 0 : static_cast<size_t>(high - low) + 1;
        const int64_t base = index->base;
        build(slots, [ints, null, base, &keep](uint32_t r) {
          return ints[r] == null || !keep(r) ? UINT32_MAX
                                             : static_cast<uint32_t>(ints[r] - base);
        });
      } else {
        std::vector<std::pair<int64_t, uint32_t>> pairs;
        pairs.reserve(count);
        for (uint32_t r = 0; r < rows; ++r) {
          if (ints[r] != null && keep(r)) pairs.emplace_back(ints[r], r);
        }
        std::sort(pairs.begin(), pairs.end());
        IndexSortedPairs(pairs, *index);
        index->keys.shrink_to_fit();
        if (index->keys.size() == index->rows.size()) {
          index->unique = true;  // the key's position is its row's
          index->starts = {};
        }
        index->starts.shrink_to_fit();
      }
    });
  }
  index->covered = rows;
  return index;
}

}  // namespace vigilo::sql
